#pragma once
// What a Find listed, handed to whoever compares it with something else
// (the roll-call) without reading the shared device table behind the list's
// back, and without knowing the toolkit that shows it.

#include <vector>

#include "net/black_list_text.h"
#include "net/device_record.h"

namespace quorvik {

struct ListedDevices {
  // The records behind the rows, row i being record i; unit rows included.
  std::vector<DeviceRecord> records;
  // The black-list the search hid devices by.
  CBlackListText blackList;
};

// Told after every refresh of the device list, on the thread that made it.
class IListObserver {
 public:
  virtual ~IListObserver() = default;
  virtual void OnDevicesListed(const ListedDevices& listed) = 0;
};

}  // namespace quorvik
