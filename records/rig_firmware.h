#pragma once
// The firmware a rig declares: for a model (and, where one model's MCU
// variants take different files, its MCU) the file, its SHA-256 and the
// version it installs; a device's entry may name a file of its own. The
// declarations stay members of the rig's JSON, written back as they were;
// what is read here is a checked view of them.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "records/flat_json.h"

namespace quorvik {

struct Rig;
struct RigEntry;

struct DeclaredFirmware {
  std::optional<uint16_t> model;  // the device code; none on a device's own entry
  std::optional<uint16_t> mcu;    // none: every MCU of the model
  std::string file;               // as written: relative to the rig file's folder
  std::string sha256;             // 64 lower-case hex digits
  uint16_t version = 0;           // what the file installs: 0x0304 for "3.04"
  bool allowDowngrade = false;
};

// "3.04" as 0x0304: a major of 0 to 255, a point, two digits of minor, as
// the list shows versions; nothing for any other text.
std::optional<uint16_t> ParseVersionText(std::string_view text);

// The rig's top-level `firmware` list and the entries' own `firmware`
// members, or why they are not valid (named by their place in the file).
struct RigFirmwareDecode {
  std::vector<DeclaredFirmware> models;
  std::vector<std::optional<DeclaredFirmware>> byEntry;  // by rig entry
  std::vector<bool> entryAllowsDowngrade;                // by rig entry
  std::string problem;
};
RigFirmwareDecode DecodeRigFirmware(const Rig& rig);

// The declaration a device takes, or why it has none. `model` and `mcu`
// are what is known of the device: a loader reports both, a running device
// neither (the rig may know its model from an earlier loader answer).
struct FirmwareChoice {
  std::optional<DeclaredFirmware> firmware;
  std::string why;  // when there is none
};
FirmwareChoice ChooseFirmware(const RigFirmwareDecode& declared, size_t entry,
                              std::optional<uint16_t> model, std::optional<uint16_t> mcu);

// Where the file is: a relative path is taken from the rig file's folder,
// so that a rig kept beside its files works from any working directory.
std::string FirmwarePathOf(const std::string& rigPath, const std::string& file);
// How a declaration names `path`: relative to the rig's folder when the
// file lies below it, else absolute.
std::string FirmwareNameFor(const std::string& rigPath, const std::string& path);

// Replaces the declaration for the same model and MCU, or adds it; the
// members of the rig's JSON are rewritten, unknown fields of other
// declarations kept.
void DeclareFirmware(Rig& rig, const DeclaredFirmware& firmware);

}  // namespace quorvik
