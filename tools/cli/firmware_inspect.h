#pragma once
// `inspect`: what a firmware file holds, section by section, and whether the
// window would refuse it whatever device it is meant for.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "commands/firmware_file.h"

namespace quorvik {

struct InspectedSection {
  FirmwareSection section;  // mcuCode 0 before format version 2
  uint16_t crc = 0;         // the image checksum of exactly the section's data
};

struct FirmwareReport {
  uint8_t formatVersion = 0;
  unsigned declaredSections = 0;
  // The sections that could be read in full, in file order.
  std::vector<InspectedSection> sections;
  // Unreadable, too large or without sections: refused for every device.
  std::optional<FirmwareVerdict> defect;
  std::string detail;  // why, in the system's words, where it gave some
};

FirmwareReport InspectFirmwareFile(const std::string& path);

}  // namespace quorvik
