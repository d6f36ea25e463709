#pragma once
// Firmware image files: one or more big-endian sections, each for one
// device type (and, from format version 2 on, one MCU variant). The walk
// loads the first section that fits a device into the image buffer.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <variant>
#include <vector>

#include "net/device_record.h"

namespace quorvik {

constexpr size_t kFirmwareImageSize = 262144;
// The largest file that can be well-formed: 255 sections, each as large as
// the image buffer. A larger one is refused before anything is read.
constexpr size_t kMaxFirmwareFileBytes = 2 + 255 * (14 + kFirmwareImageSize);

struct FirmwareSection {
  uint8_t index = 0;
  uint16_t mcuCode = 0;
  uint16_t deviceType = 0;
  uint16_t sectionParam = 0;
  uint32_t dataLength = 0;
  bool operator==(const FirmwareSection&) const = default;
};

// Why a file is refused for a device; nothing is written in any case.
enum class FirmwareVerdict {
  kWrongDevice,      // the last section read is for another device type
  kWrongMcu,         // right type, another MCU variant
  kWrongBootloader,  // this bootloader type is not served
  kUnreadable,       // cannot be read, no regular file, or ends inside a header or its data
  kSectionTooLarge,  // more data than the image buffer holds
  kNoSections,       // a section count of zero
  kFileTooLarge,     // larger than any well-formed file can be
};

using FirmwareLoad = std::variant<FirmwareSection, FirmwareVerdict>;

// A firmware file as read for one update: every byte, so that what is
// checked, written and recorded is the same file even if it changes on disk
// meanwhile.
struct FirmwareFileRead {
  std::vector<uint8_t> bytes;
  std::optional<FirmwareVerdict> verdict;  // set when the file is refused
  // Which file, and why where the system said why; empty when accepted.
  std::string detail;
};

// Reads the file whole and checks what can be checked without a device:
// a readable regular file of a sane size, at least one section, every
// header and its data complete, no section larger than the image buffer.
FirmwareFileRead ReadFirmwareFile(const std::string& path);
// The same checks on bytes already read.
std::optional<FirmwareVerdict> CheckFirmwareStructure(std::span<const uint8_t> file);
// The headers of the sections that can be read whole, in file order.
std::vector<FirmwareSection> ListSections(std::span<const uint8_t> file);
// The same sections, each with its data.
void ForEachSection(
    std::span<const uint8_t> file,
    const std::function<void(const FirmwareSection&, std::span<const uint8_t>)>& visit);

// Walks the file's sections into `image` (kFirmwareImageSize bytes, filled
// with 0xFF before each section's data) and returns the first that fits
// `device`, or the verdict.
FirmwareLoad WalkFirmwareBytes(std::span<const uint8_t> file, const DeviceRecord& device,
                               std::span<uint8_t> image);
// A walk's refusal as the section of the device's own model has it, not
// the last section read: a file that has the model, for another MCU or
// loader, names that instead of the device. The one-device update keeps
// the last section's verdict; a rig-wide plan tells the operator which.
FirmwareVerdict ModelVerdict(std::span<const uint8_t> file, const DeviceRecord& device,
                             FirmwareVerdict walked);
// Reads the file, then walks it.
FirmwareLoad WalkFirmwareFile(const std::string& path, const DeviceRecord& device,
                              std::span<uint8_t> image);

// A section header: 12 bytes, or 14 with the MCU code in front from format
// version 2 on. Its data follows it.
size_t SectionHeaderLength(bool withMcu);
FirmwareSection DecodeSectionHeader(std::span<const uint8_t> header, bool withMcu, unsigned index);

// The status line that reports a verdict.
const char* FirmwareVerdictLine(FirmwareVerdict verdict);

// The second byte of the section parameter is signed: 0x12 0x80 gives 0x1180.
uint16_t DecodeSectionParam(uint8_t high, uint8_t low);

// Blocks of `blockSize` bytes that carry `dataLength` bytes.
uint32_t BlockCount(uint32_t dataLength, uint16_t blockSize);

// Why the device's blocks cannot be written: a block size of 0 cannot cut
// the data, and one larger than the frame holds would skip the bytes
// between blocks; either would brick the device. Nothing when they can.
std::optional<std::string> BlockSizeRefusal(const DeviceRecord& device);

}  // namespace quorvik
