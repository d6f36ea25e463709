#include "tools/cli/firmware_inspect.h"

#include <span>

#include "net/frames.h"

FirmwareReport InspectFirmwareFile(const std::string& path) {
  FirmwareReport report;
  // The update's own reading and check decide about defects, so that
  // inspect never passes a file the update would refuse; the sections that
  // can be read are listed all the same.
  const FirmwareFileRead read = ReadFirmwareFile(path);
  report.defect = read.verdict;
  if (read.bytes.empty()) {
    report.detail = read.detail;
    return report;
  }
  const std::span<const uint8_t> bytes(read.bytes);
  report.formatVersion = bytes[0];
  const bool withMcu = bytes[0] >= 2;
  size_t at = withMcu ? 2 : 1;
  report.declaredSections = !withMcu ? 1 : bytes.size() > 1 ? bytes[1] : 0;
  const size_t headerLength = SectionHeaderLength(withMcu);
  for (unsigned index = 0; index < report.declaredSections; ++index) {
    if (bytes.size() < at || bytes.size() - at < headerLength) break;
    InspectedSection s;
    s.section = DecodeSectionHeader(bytes.subspan(at, headerLength), withMcu, index);
    at += headerLength;
    if (s.section.dataLength > kFirmwareImageSize || bytes.size() - at < s.section.dataLength)
      break;
    s.crc = ComputeImageCrc(bytes.subspan(at, s.section.dataLength));
    at += s.section.dataLength;
    report.sections.push_back(s);
  }
  return report;
}
