#include "net/device_session.h"

namespace quorvik {

std::vector<DeviceRecord> DeviceSession::Listed() const {
  std::lock_guard lock(deviceMutex);
  return {deviceTable.begin(), deviceTable.begin() + CountUsedRecords(deviceTable)};
}

void DeviceSession::EmptyTable() {
  std::lock_guard lock(deviceMutex);
  ClearDeviceTable(deviceTable);
  hiddenCount = 0;
  droppedCount = 0;
}

uint32_t DeviceSession::BeginListeningRound() {
  std::lock_guard lock(deviceMutex);
  return ++listeningRound;
}

}  // namespace quorvik
