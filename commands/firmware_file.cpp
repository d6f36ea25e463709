#include "commands/firmware_file.h"

#include <algorithm>
#include <array>

#include "files/operator_files.h"
#include "net/bytes.h"
#include "net/protocol.h"

namespace quorvik {

namespace {

// Reads a file front to back; a read past its end takes nothing.
class CCursor {
 public:
  explicit CCursor(std::span<const uint8_t> bytes) : m_bytes(bytes) {}
  std::optional<std::span<const uint8_t>> Take(size_t count) {
    if (m_bytes.size() - m_at < count) return std::nullopt;
    const auto taken = m_bytes.subspan(m_at, count);
    m_at += count;
    return taken;
  }

 private:
  std::span<const uint8_t> m_bytes;
  size_t m_at = 0;
};

// Walks the section headers in file order; `visit` sees each header and its
// data and returns true to stop there. The verdict of a file that ends
// early, holds no section or a section larger than the image buffer, or
// nothing when the walk ran to the end or was stopped.
template <typename Visit>
std::optional<FirmwareVerdict> WalkSections(std::span<const uint8_t> file, Visit visit) {
  CCursor in(file);
  const auto version = in.Take(1);
  if (!version) return FirmwareVerdict::kUnreadable;
  const bool withMcu = (*version)[0] >= 2;
  unsigned count = 1;
  if (withMcu) {
    const auto declared = in.Take(1);
    if (!declared) return FirmwareVerdict::kUnreadable;
    count = (*declared)[0];
    if (count == 0) return FirmwareVerdict::kNoSections;
  }
  for (unsigned index = 0; index < count; ++index) {
    const auto header = in.Take(SectionHeaderLength(withMcu));
    if (!header) return FirmwareVerdict::kUnreadable;
    const FirmwareSection section = DecodeSectionHeader(*header, withMcu, index);
    if (section.dataLength > kFirmwareImageSize) return FirmwareVerdict::kSectionTooLarge;
    const auto data = in.Take(section.dataLength);
    if (!data) return FirmwareVerdict::kUnreadable;
    if (visit(section, *data)) return std::nullopt;
  }
  return std::nullopt;
}

bool Fits(const FirmwareSection& s, const DeviceRecord& device) {
  if (s.deviceType != device.deviceId) return false;
  if (device.loaderType == 0x300) return s.mcuCode == device.mcuId;
  return device.loaderType <= 0x200;
}

}  // namespace

const char* FirmwareVerdictLine(FirmwareVerdict verdict) {
  switch (verdict) {
    case FirmwareVerdict::kWrongDevice:
    case FirmwareVerdict::kNoSections:
      return "Wrong firmware file selected! (ERROR DEVICE)";
    case FirmwareVerdict::kWrongMcu:
      return "Wrong firmware file selected! (ERROR MCU)";
    case FirmwareVerdict::kWrongBootloader:
      return "Wrong bootloader version!";
    case FirmwareVerdict::kUnreadable:
      return "Firmware file not readable! (ERROR FILE)";
    case FirmwareVerdict::kSectionTooLarge:
      return "Firmware section too large! (ERROR SIZE)";
    case FirmwareVerdict::kFileTooLarge:
      return "Firmware file too large! (ERROR SIZE)";
  }
  return "";
}

size_t SectionHeaderLength(bool withMcu) {
  return withMcu ? 14 : 12;
}

FirmwareSection DecodeSectionHeader(std::span<const uint8_t> header, bool withMcu, unsigned index) {
  const FrameReader r(header);
  const size_t at = withMcu ? 2 : 0;
  FirmwareSection section;
  section.index = static_cast<uint8_t>(index);
  section.mcuCode = withMcu ? r.Be16(0) : 0;
  section.deviceType = r.Be16(at);
  section.sectionParam = DecodeSectionParam(r.U8(at + 2), r.U8(at + 3));
  section.dataLength = r.Be32(at + 8);  // after 4 reserved bytes
  return section;
}

uint16_t DecodeSectionParam(uint8_t high, uint8_t low) {
  return static_cast<uint16_t>(high * 256 + static_cast<int8_t>(low));
}

uint32_t BlockCount(uint32_t dataLength, uint16_t blockSize) {
  if (blockSize == 0) return 0;
  return static_cast<uint32_t>((uint64_t{dataLength} + blockSize - 1) / blockSize);
}

FirmwareFileRead ReadFirmwareFile(const std::string& path) {
  FirmwareFileRead result;
  FileRead read = ReadWholeFile(path, kMaxFirmwareFileBytes);
  if (!read.bytes) {
    result.verdict = read.problem.kind == FileProblem::Kind::kTooLarge
                         ? FirmwareVerdict::kFileTooLarge
                         : FirmwareVerdict::kUnreadable;
    result.detail = read.problem.message;
    return result;
  }
  result.bytes.assign(read.bytes->begin(), read.bytes->end());
  result.verdict = CheckFirmwareStructure(result.bytes);
  if (result.verdict) result.detail = path;
  return result;
}

std::optional<FirmwareVerdict> CheckFirmwareStructure(std::span<const uint8_t> file) {
  return WalkSections(file, [](const FirmwareSection&, std::span<const uint8_t>) { return false; });
}

std::vector<FirmwareSection> ListSections(std::span<const uint8_t> file) {
  std::vector<FirmwareSection> sections;
  ForEachSection(
      file, [&](const FirmwareSection& s, std::span<const uint8_t>) { sections.push_back(s); });
  return sections;
}

void ForEachSection(
    std::span<const uint8_t> file,
    const std::function<void(const FirmwareSection&, std::span<const uint8_t>)>& visit) {
  WalkSections(file, [&](const FirmwareSection& s, std::span<const uint8_t> data) {
    visit(s, data);
    return false;
  });
}

FirmwareLoad WalkFirmwareBytes(std::span<const uint8_t> file, const DeviceRecord& device,
                               std::span<uint8_t> image) {
  std::optional<FirmwareSection> fitting;
  FirmwareSection last;
  bool any = false;
  const auto defect =
      WalkSections(file, [&](const FirmwareSection& section, std::span<const uint8_t> data) {
        std::fill(image.begin(), image.end(), uint8_t{0xFF});
        std::copy_n(data.begin(), std::min(data.size(), image.size()), image.begin());
        last = section;
        any = true;
        if (Fits(section, device)) fitting = section;
        return fitting.has_value();
      });
  if (fitting) return *fitting;
  if (defect) return *defect;
  if (!any) return FirmwareVerdict::kNoSections;
  if (last.deviceType != device.deviceId) return FirmwareVerdict::kWrongDevice;
  if (device.loaderType == 0x300) return FirmwareVerdict::kWrongMcu;
  return FirmwareVerdict::kWrongBootloader;
}

FirmwareVerdict ModelVerdict(std::span<const uint8_t> file, const DeviceRecord& device,
                             FirmwareVerdict walked) {
  if (walked != FirmwareVerdict::kWrongDevice && walked != FirmwareVerdict::kWrongMcu &&
      walked != FirmwareVerdict::kWrongBootloader)
    return walked;
  const std::vector<FirmwareSection> sections = ListSections(file);
  if (std::none_of(sections.begin(), sections.end(),
                   [&](const FirmwareSection& s) { return s.deviceType == device.deviceId; }))
    return FirmwareVerdict::kWrongDevice;
  return device.loaderType == 0x300 ? FirmwareVerdict::kWrongMcu
                                    : FirmwareVerdict::kWrongBootloader;
}

FirmwareLoad WalkFirmwareFile(const std::string& path, const DeviceRecord& device,
                              std::span<uint8_t> image) {
  const FirmwareFileRead read = ReadFirmwareFile(path);
  if (read.verdict) return *read.verdict;
  return WalkFirmwareBytes(read.bytes, device, image);
}

std::optional<std::string> BlockSizeRefusal(const DeviceRecord& device) {
  const size_t room = WriteBlockLayoutFor(device.loaderType).MaxData();
  if (device.blockSize != 0 && device.blockSize <= room) return std::nullopt;
  return "Block size not supported! (ERROR BLOCK)";
}

}  // namespace quorvik
