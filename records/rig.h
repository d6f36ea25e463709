#pragma once
// A rig: the devices a show expects on its network, saved from a Find and
// labelled by the technician ("Truss 3 SR"), so that a roll-call before the
// doors open says what is missing, unexpected or changed. The file is JSON
// that a person may edit (docs/rig-format.md); it is the operator's, so a
// file that does not read as a rig is reported and never overwritten, and a
// re-save keeps every label, location and field this program does not know.

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "devices/device_list.h"
#include "files/operator_files.h"
#include "net/device_record.h"
#include "records/flat_json.h"

namespace quorvik {

constexpr int kRigFormat = 1;
constexpr const char* kRigType = "quorvik-rig";
constexpr size_t kRigFileMaxBytes = 4 << 20;
// Entries are compared pairwise for duplicates; far more than a show has.
constexpr size_t kRigMaxDevices = 1000;

struct RigEntry {
  std::vector<uint8_t> serial;  // as listed; empty (or zeros) when the device reports none
  std::optional<std::array<uint8_t, 6>> mac;
  std::optional<uint16_t> deviceId;  // only loaders report the model code
  std::string model;                 // the list's Device cell when saved
  std::string version;               // "1.02"; empty: not compared
  std::string mode;                  // "app" or "boot"; empty: not compared
  std::string label;
  std::string location;
  // Fields this program does not know, written back as they were.
  std::vector<JsonMember> extra;
};

struct Rig {
  std::vector<RigEntry> devices;
  std::vector<JsonMember> extra;
};

// The rig in a file's text, or why it is none.
struct RigDecode {
  std::optional<Rig> rig;
  std::string problem;
};
RigDecode DecodeRig(std::string_view text);
std::string EncodeRig(const Rig& rig, const std::string& savedAt);

struct RigRead {
  std::optional<Rig> rig;
  bool missing = false;  // nothing at the path: a rig not saved yet
  std::string problem;   // names the file and what is wrong with it
};
RigRead ReadRigFile(const std::string& path);

// A device code as a rig writes it, "0x3680" (upper-case digits), and
// back; nothing for any other text.
std::string RigCodeText(uint16_t code);
std::optional<uint16_t> ParseRigCode(std::string_view text);

// Whether the entry names this listed device: by serial; by MAC only for an
// entry without a serial whose MAC is a real one. Unit rows match nothing.
bool EntryMatches(const RigEntry& entry, const DeviceRecord& record);
bool HasSerial(const RigEntry& entry);
// The entry a listed record makes; nothing for a unit row and for a device
// that reports neither a serial nor a real MAC, which no roll-call could
// recognise.
std::optional<RigEntry> RigEntryOf(const DeviceRecord& record);

struct RigMerge {
  Rig rig;
  int added = 0;    // listed devices the rig did not hold
  int updated = 0;  // entries found again, with what the Find says now
  int kept = 0;     // entries whose device did not answer, kept unchanged
  int leftOut = 0;  // listed devices that cannot be recognised again
};
// The old rig in its order, each entry found again taking the listed facts
// and keeping its label, location and unknown fields; then the devices it
// did not hold, in list order.
RigMerge MergeRig(const Rig& old, std::span<const DeviceRecord> listed);

struct RigSave {
  RigMerge merge;
  std::string problem;  // empty when written
};
// Merges the Find into the rig at `path` (a new rig when there is none) and
// replaces the file whole. A file that is no rig is left as it is.
RigSave SaveRig(const std::string& path, std::span<const DeviceRecord> listed);
// "4 device(s): 1 new, 3 found again, 1 kept that did not answer".
std::string RigSaveSummary(const RigMerge& merge);

}  // namespace quorvik
