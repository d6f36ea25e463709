#pragma once
// Model names for the device codes that bootloaders report.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace quorvik {

struct DeviceType {
  uint16_t code;
  std::string_view displayName;
};

// The one model whose units are numbered in the list.
constexpr uint16_t kSlaveNumberedType = 0x9308;

std::span<const DeviceType> DeviceTypeCatalogue();

// "Unknown (0x%.04x)": the text for a code the catalogue does not hold.
std::string UnknownTypeName(uint16_t code);

// The "Device" column text of a bootloader-mode record; never empty.
std::string DeviceTypeName(uint16_t deviceId, uint8_t slaveNumber);

}  // namespace quorvik
