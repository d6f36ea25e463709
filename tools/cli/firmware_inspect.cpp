#include "tools/cli/firmware_inspect.h"

#include <span>

#include "net/frames.h"

namespace quorvik {

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
  const std::vector<uint8_t>& bytes = read.bytes;
  report.formatVersion = bytes[0];
  report.declaredSections = bytes[0] < 2 ? 1 : bytes.size() > 1 ? bytes[1] : 0;
  ForEachSection(bytes, [&](const FirmwareSection& section, std::span<const uint8_t> data) {
    report.sections.push_back({section, ComputeImageCrc(data)});
  });
  return report;
}

}  // namespace quorvik
