// Any bytes on any of the three ports, interleaved with what the window
// thread does to the table and the black-list. The table must keep its
// shape whatever arrives.
//
// Input: a sequence of operations. Each starts with one byte: its low two
// bits pick the operation, the rest a port or a row. A datagram operation is
// followed by a length byte and that many bytes.

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "devices/black_list.h"
#include "devices/device_list.h"
#include "net/reply_processing.h"

using namespace quorvik;

namespace {

void CheckTable(const DeviceSession& devices) {
  const int used = CountUsedRecords(devices.deviceTable);
  for (int i = 0; i < kDeviceTableCapacity; ++i) {
    const DeviceRecord& r = devices.deviceTable[i];
    if (i >= used && !r.IsFree()) std::abort();  // a record in use after a free one
    if (r.identityLength > kIdentityCapacity) std::abort();
    if (r.Name().size() > kNameCapacity) std::abort();
  }
  if (devices.hiddenCount < 0) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Each input starts from a program's first state.
  DeviceSession devices;
  static const uint16_t kPorts[] = {10001, 10010, 6454, 6455};
  size_t at = 0;
  while (at < size) {
    const uint8_t op = data[at++];
    switch (op & 3) {
      case 0:
      case 1: {  // a datagram, up to 255 bytes, or a long one from the rest
        size_t length = at < size ? data[at++] : 0;
        if (op & 1) length = (size - at) * (op >> 7);
        if (length > size - at) length = size - at;
        ProcessDatagram(devices, kPorts[(op >> 2) & 3], data + at, length);
        at += length;
        break;
      }
      case 2: {  // the list is rebuilt, which also writes names
        std::lock_guard lock(devices.deviceMutex);
        const auto rows = BuildDeviceRows(devices.deviceTable);
        if (static_cast<int>(rows.size()) != CountUsedRecords(devices.deviceTable)) std::abort();
        break;
      }
      default: {  // the black-list is edited: a device added, or an entry deleted
        const int row = op >> 2;
        {
          std::lock_guard lock(devices.deviceMutex);
          if (row < CountUsedRecords(devices.deviceTable)) {
            devices.blackList.Append(MakeBlackListEntry(devices.deviceTable[row]));
            break;
          }
        }
        // The dialog's own deletion; a row past the last entry deletes none.
        CDlgBlacklist dialog(devices);
        dialog.OnDelete(row % static_cast<int>(dialog.FillList().size() + 1));
        break;
      }
    }
    std::lock_guard lock(devices.deviceMutex);
    CheckTable(devices);
  }
  return 0;
}
