#include "net/device_record.h"

#include <algorithm>
#include <cstring>

namespace quorvik {

bool HasRealMac(const std::array<uint8_t, 6>& mac) {
  return mac != kPlaceholderMac &&
         std::any_of(mac.begin(), mac.end(), [](uint8_t b) { return b != 0; });
}

std::string_view DeviceRecord::Name() const {
  return std::string_view(name.data(), ::strnlen(name.data(), kNameCapacity));
}

void DeviceRecord::SetName(std::string_view text) {
  name.fill(0);
  std::copy_n(text.data(), std::min(text.size(), kNameCapacity), name.begin());
}

void ClearDeviceTable(DeviceTable& table) {
  table.fill(DeviceRecord{});
}

int CountUsedRecords(const DeviceTable& table) {
  int n = 0;
  while (n < kDeviceTableCapacity && !table[n].IsFree()) ++n;
  return n;
}

}  // namespace quorvik
