#include "devices/device_identity.h"

#include <algorithm>

#include "net/reply_processing.h"

namespace quorvik {

namespace {

constexpr uint8_t kVerifiesFlag = 0x80;

}  // namespace

bool HasRealMac(const DeviceRecord& record) {
  return HasRealMac(record.mac);
}

std::span<const uint8_t> SerialBytes(const DeviceRecord& record) {
  return std::span<const uint8_t>(record.identity)
      .first(std::min<size_t>(record.identityLength, record.identity.size()));
}

bool LoaderVerifies(const DeviceRecord& record) {
  return record.loaderType >= 0x300 && (record.loaderFlags & kVerifiesFlag) != 0;
}

std::array<uint8_t, 16> PaddedIdentity(const DeviceRecord& record) {
  std::array<uint8_t, 16> padded{};
  const size_t length = std::min<size_t>(record.identityLength, record.identity.size());
  std::copy_n(record.identity.begin(), length, padded.begin());
  return padded;
}

bool HasIdentity(const DeviceRecord& record) {
  const auto padded = PaddedIdentity(record);
  return std::any_of(padded.begin(), padded.end(), [](uint8_t b) { return b != 0; });
}

bool SameSerial(std::span<const uint8_t> a, std::span<const uint8_t> b) {
  const size_t shorter = std::min(a.size(), b.size());
  if (shorter >= kGen1IdentityLength) return std::equal(a.begin(), a.begin() + shorter, b.begin());
  const auto unpadded = [](std::span<const uint8_t> s) {
    while (!s.empty() && s.back() == 0) s = s.first(s.size() - 1);
    return s;
  };
  const auto ua = unpadded(a), ub = unpadded(b);
  return !ua.empty() && std::equal(ua.begin(), ua.end(), ub.begin(), ub.end());
}

bool SameDevice(const DeviceRecord& a, const DeviceRecord& b) {
  return a.card == b.card && SameDeviceOnAnyCard(a, b);
}

bool SameDeviceOnAnyCard(const DeviceRecord& a, const DeviceRecord& b) {
  if (a.slaveNumber != 0 || b.slaveNumber != 0 || a.IsFree() || b.IsFree()) return false;
  if (HasRealMac(a) && HasRealMac(b)) return a.mac == b.mac;
  if (!HasIdentity(a)) return false;
  return SameSerial(SerialBytes(a), SerialBytes(b));
}

bool FoundAgain(const DeviceRecord& listed, const DeviceRecord& planned) {
  if (listed.IsFree() || listed.slaveNumber != 0 || listed.card != planned.card) return false;
  const bool bySerial = !HasRealMac(listed) && HasIdentity(planned) &&
                        SameSerial(SerialBytes(listed), SerialBytes(planned));
  return HasRealMac(planned) ? listed.mac == planned.mac || bySerial : bySerial;
}

bool MatchesRigDevice(std::span<const uint8_t> serial,
                      const std::optional<std::array<uint8_t, 6>>& mac,
                      const DeviceRecord& record) {
  if (record.slaveNumber != 0 || record.IsFree()) return false;
  if (std::any_of(serial.begin(), serial.end(), [](uint8_t b) { return b != 0; }))
    return SameSerial(serial, SerialBytes(record));
  return mac && HasRealMac(*mac) && record.mac == *mac;
}

bool NamedBySerial(const DeviceRecord& record, std::span<const uint8_t> serial) {
  // Unit records carry no identity: a serial never names them.
  if (record.identityLength == 0) return false;
  std::array<uint8_t, 16> typed{};
  std::copy_n(serial.begin(), std::min(serial.size(), typed.size()), typed.begin());
  return PaddedIdentity(record) == typed;
}

std::string PhysicalDeviceKey(const DeviceRecord& record) {
  return HasIdentity(record) ? "id:" + MakeSearchKey(PaddedIdentity(record))
                             : "mac:" + MakeSearchKey(record.mac);
}

}  // namespace quorvik
