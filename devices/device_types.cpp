#include "devices/device_types.h"

#include <array>
#include <cstdio>

namespace quorvik {

namespace {

constexpr std::array<DeviceType, 35> kCatalogue = {{
    {0x0001, "Keypad Net 8"},
    {0x0002, "LED Dimmer Net 4"},
    {0x0003, "DMX Node Basic"},
    {0x0007, "Dimmer Pack 48"},
    {0x0009, "PWM Unit Net 12"},
    {0x0461, "Net/DMX Gateway 1"},
    {0x0462, "Net/DMX Gateway 2"},
    {0x0463, "DMX Gateway RDM"},
    {0x0464, "Net/DMX Gateway 4"},
    {0x0473, "DMX Gateway PoE"},
    {0x0796, "DMX Node Compact"},
    {0x0896, "RDM Node"},
    {0x1601, "Pixel Driver 1"},
    {0x1602, "Pixel Driver 2"},
    {0x3104, "LED Dimmer Net 8"},
    {0x3105, "LED Dimmer Net 16"},
    {0x3106, "LED Dimmer Net 24"},
    {0x3608, "Multi Pixel Driver 8"},
    {0x3610, "Pixel Sequencer"},
    {0x3616, "Twin Pixel Driver"},
    {0x3680, "Matrix Driver HUB75E"},
    {0x3794, "LED Dimmer Net 32"},
    {0x4316, "Net/DMX Splitter 16"},
    {0x4324, "Net/DMX Splitter 24"},
    {0x4502, "Twin Gateway PoE"},
    {0x4512, "Twin Gateway PoE RDM"},
    {0x4601, "Net/DMX Gateway Rail 1"},
    {0x4603, "DMX Gateway Rail RDM 3"},
    {0x4604, "Net/DMX Gateway Rail 4"},
    {0x4606, "DMX Gateway Rail RDM 6"},
    {0x4716, "Multi Pixel Player"},
    {0x4916, "Show Player"},
    {0x5244, "Relay/Analog Output Unit"},
    {0x5344, "Relay/Analog Output Unit"},
    {0x9308, "DMX Backup Unit"},
}};

}  // namespace

std::span<const DeviceType> DeviceTypeCatalogue() {
  return kCatalogue;
}

std::string DeviceTypeName(uint16_t deviceId, uint8_t slaveNumber) {
  for (const DeviceType& type : kCatalogue) {
    if (type.code != deviceId) continue;
    std::string name(type.displayName);
    if (deviceId == kSlaveNumberedType && slaveNumber != 0)
      name += " (Slave" + std::to_string(slaveNumber) + ")";
    return name;
  }
  return UnknownTypeName(deviceId);
}

std::string UnknownTypeName(uint16_t code) {
  char text[32];
  std::snprintf(text, sizeof text, "Unknown (0x%.04x)", code);
  return text;
}

}  // namespace quorvik
