#pragma once
// One device found by a search, and the fixed table of them that replies
// fill and every command addresses by index.

#include <array>
#include <cstdint>
#include <string_view>

#include "net/protocol.h"

namespace quorvik {

// What tells apart devices that answer with one serial: a cloned or
// factory-default serial is common enough on a rig.
struct AnswerSignature {
  std::array<uint8_t, 6> mac{};
  uint16_t deviceId = 0;
  uint16_t mcuId = 0;
  uint16_t loaderType = 0;  // 0 for a running device
  // Where the answer came from: a configuration copied onto a second unit
  // leaves nothing else to tell the two apart.
  Ipv4Address address{};
  bool operator==(const AnswerSignature&) const = default;
};
constexpr size_t kTwinCapacity = 8;

// 00-60-35-00-00-00: loaders that were never given an address report it,
// so it names no device.
constexpr std::array<uint8_t, 6> kPlaceholderMac = {0x00, 0x60, 0x35, 0x00, 0x00, 0x00};
// A hardware address that names one device: neither the placeholder nor
// all zeros.
bool HasRealMac(const std::array<uint8_t, 6>& mac);

struct DeviceRecord {
  uint16_t loaderType = 0;  // 0: application mode; else bootloader type (gen 3 high byte only)
  uint8_t loaderFlags = 0;  // bit 0: factory reset in bootloader; bit 7: can verify
  uint16_t version = 0;     // high byte major, low byte minor
  uint16_t deviceId = 0;
  uint16_t mcuId = 0;
  uint16_t blockSize = 0;
  std::array<uint8_t, 6> mac{};
  uint8_t identityLength = 0;
  std::array<uint8_t, kIdentityCapacity> identity{};
  int32_t port = 0;
  // Plain bytes, zero-terminated; devices may send any 8-bit text.
  std::array<char, kNameCapacity + 1> name{};
  uint8_t slaveNumber = 0;
  // Where the device's latest search answer came from. Acknowledgements
  // carry no reference to their request; a device that answers from an
  // address of its own lets a wait take acknowledgements from it alone.
  Ipv4Address address{};
  // With every network open at once: the address of the card the answer
  // came in on, which is also the card every request to it leaves by (a
  // broadcast on another card would reach another network). All zeros with
  // one card chosen.
  Ipv4Address card{};
  // For a unit record: 1 + index of the device record it belongs to; 0
  // otherwise. Unit records carry no identity of their own, so this is what
  // lets a repeated answer find them again.
  uint8_t unitOf = 0;
  // Devices that answered as this record's serial since the table was last
  // emptied, when there was more than one (else 0): requests pick a device
  // by its serial, so anything sent to this record would reach them all.
  uint8_t twins = 0;
  std::array<AnswerSignature, kTwinCapacity> twinAnswers{};
  // The session's listening round in which the device last answered a
  // search: who is still there, told without emptying a table that
  // updates in progress read.
  uint32_t heardInRound = 0;

  bool IsFree() const { return loaderType == 0 && version == 0; }
  std::string_view Name() const;
  void SetName(std::string_view text);
};

constexpr int kDeviceTableCapacity = 99;
using DeviceTable = std::array<DeviceRecord, kDeviceTableCapacity>;

void ClearDeviceTable(DeviceTable& table);

// Length of the run of records in use that starts at index 0.
int CountUsedRecords(const DeviceTable& table);

}  // namespace quorvik
