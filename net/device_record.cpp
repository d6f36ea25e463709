#include "net/device_record.h"

#include <algorithm>
#include <cstring>

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
