#pragma once
// The device list's rows, built from the device table. Pure formatting:
// the caller holds the table lock and shows the rows.

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "net/device_record.h"

namespace quorvik {

struct DeviceRow {
  std::string device;  // 8-bit text as the device sent it
  std::string version;
  std::string serial;
  std::string mac;
  // More than one device answers as this row's serial (see DeviceRecord).
  int twins = 0;
  // With every network open: the card it answered on, and on how many
  // cards the same device answered (more than one: the networks are
  // bridged, or the device is misconfigured). Empty and 0 otherwise.
  std::string network;
  int networks = 0;
  bool operator==(const DeviceRow&) const = default;
};

struct ListColumn {
  const char* header;
  int width;  // pixels
};
constexpr std::array<ListColumn, 4> kDeviceListColumns = {
    {{"Device", 230}, {"Version", 50}, {"Serial", 160}, {"MAC", 120}}};
// Shown after the others only while every network is open.
constexpr ListColumn kNetworkColumn = {"Network", 100};

// "1.05" for 0x0105; empty when the minor part is 100 or more.
std::string FormatVersion(uint16_t version);
// Identity bytes as upper-case hex without separators.
std::string FormatSerial(const DeviceRecord& record);
std::string SerialText(std::span<const uint8_t> serial);
// "00-0A-95-9D-68-16", whatever the address.
std::string MacText(const std::array<uint8_t, 6>& mac);
// "00-0A-95-9D-68-16"; bootloaders report "Not assigned" for the factory
// placeholder address, and an all-zero address shows nothing.
std::string FormatMac(const DeviceRecord& record);

// The "Device" cell of a record: the model name of a loader, the name a
// running device reports, else the generic text for its code.
std::string ListName(const DeviceRecord& record);

// The line a search ends with: "3 Interfaces found", or with "(2 hidden)"
// when the black-list hid some.
std::string FoundLine(int rows, int hidden);

// "(2 devices answer as this serial)"; empty for a record only one device
// answers as.
std::string TwinNote(int twins);
// Why no command goes to a record that several devices answer as, naming
// them by their hardware addresses.
std::string TwinRefusalLine(const DeviceRecord& record);

// The text of a record's card: its address; empty with one card chosen.
std::string NetworkText(const DeviceRecord& record);
// On how many cards the device of `listed[index]` answered: 0 with one
// card chosen (or a unit record), else 1, or more for a device that is
// bridged or misconfigured.
int NetworkCount(std::span<const DeviceRecord> listed, size_t index);
// "(answers on 2 networks: bridged or misconfigured)"; empty below 2.
std::string NetworksNote(int networks);

// One row per record of the unbroken run from index 0, so row i is record
// i. Writes the model name into each bootloader-mode record.
std::vector<DeviceRow> BuildDeviceRows(DeviceTable& table);

// "app" for a device running its application, "boot" for one in its loader.
const char* ModeName(const DeviceRecord& record);

// The factory-reset button is offered for devices in application mode and
// for bootloaders that can reset.
bool CanFactoryReset(const DeviceRecord& record);

}  // namespace quorvik
