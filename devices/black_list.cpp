#include "devices/black_list.h"

#include <algorithm>

#include "devices/device_list.h"
#include "net/reply_processing.h"

namespace quorvik {

std::string MakeBlackListEntry(const DeviceRecord& record) {
  std::string entry = MakeSearchKey(std::span<const uint8_t>(
      record.identity.data(), std::min<size_t>(record.identityLength, record.identity.size())));
  entry += " (";
  entry += record.Name();
  entry += ")";
  return entry;
}

std::vector<std::string> CDlgBlacklist::FillList() const {
  std::lock_guard lock(m_devices.deviceMutex);
  return SplitBlackList(m_devices.blackList.text());
}

void CDlgBlacklist::OnDelete(int selectedRow) {
  std::lock_guard lock(m_devices.deviceMutex);
  // Rebuilt under the lock: a receiver sees the old text or the new one,
  // never a half-built one.
  std::string rebuilt;
  const auto entries = SplitBlackList(m_devices.blackList.text());
  for (int k = 0; k < static_cast<int>(entries.size()); ++k)
    if (k != selectedRow) AppendBlackListEntry(rebuilt, entries[k]);
  m_devices.blackList = std::move(rebuilt);
}

}  // namespace quorvik
