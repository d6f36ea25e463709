#include "tools/cli/firmware_inspect.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <set>
#include <span>

#include "net/frames.h"

namespace {

std::vector<uint8_t> ReadAll(const std::string& path, bool& opened) {
  std::ifstream in(path, std::ios::binary);
  opened = static_cast<bool>(in);
  return {std::istreambuf_iterator<char>(in), {}};
}

// The window's own walk decides about defects, so that inspect never
// passes a file the update would refuse: a device that no section fits
// makes it read the whole file.
std::optional<FirmwareVerdict> WalkDefect(const std::string& path,
                                          const std::vector<InspectedSection>& sections) {
  std::set<uint16_t> types;
  for (const auto& s : sections) types.insert(s.section.deviceType);
  DeviceRecord nobody;
  nobody.loaderType = 1;
  nobody.deviceId = 0;
  while (types.count(nobody.deviceId) != 0) ++nobody.deviceId;
  std::vector<uint8_t> image(kFirmwareImageSize);
  const FirmwareLoad load = WalkFirmwareFile(path, nobody, image);
  const auto* verdict = std::get_if<FirmwareVerdict>(&load);
  if (!verdict) return std::nullopt;
  switch (*verdict) {
    case FirmwareVerdict::kUnreadable:
    case FirmwareVerdict::kSectionTooLarge:
    case FirmwareVerdict::kNoSections:
      return *verdict;
    default:
      return std::nullopt;
  }
}

}  // namespace

FirmwareReport InspectFirmwareFile(const std::string& path) {
  FirmwareReport report;
  bool opened = false;
  const std::vector<uint8_t> bytes = ReadAll(path, opened);
  if (opened && !bytes.empty()) {
    report.formatVersion = bytes[0];
    const bool withMcu = bytes[0] >= 2;
    size_t at = withMcu ? 2 : 1;
    report.declaredSections = !withMcu ? 1 : bytes.size() > 1 ? bytes[1] : 0;
    const size_t headerLength = SectionHeaderLength(withMcu);
    for (unsigned index = 0; index < report.declaredSections; ++index) {
      if (bytes.size() - at < headerLength) break;
      InspectedSection s;
      s.section = DecodeSectionHeader(std::span<const uint8_t>(bytes).subspan(at, headerLength),
                                      withMcu, index);
      at += headerLength;
      if (s.section.dataLength > kFirmwareImageSize || bytes.size() - at < s.section.dataLength)
        break;
      s.crc = ComputeImageCrc(std::span<const uint8_t>(bytes).subspan(at, s.section.dataLength));
      at += s.section.dataLength;
      report.sections.push_back(s);
    }
  }
  report.defect = WalkDefect(path, report.sections);
  return report;
}
