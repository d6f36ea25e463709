#include "devices/black_list.h"

#include <algorithm>

#include "devices/device_list.h"
#include "net/reply_processing.h"

std::vector<std::string> SplitBlackList(std::string_view text) {
  // The rule: append a ";", then take the text before each ";" for as long
  // as more than the one appended ";" is left. Walked by position, so that a
  // list of a hundred thousand entries splits in one pass.
  std::vector<std::string> entries;
  size_t at = 0;
  while (text.size() + 1 - at > 1) {
    const size_t end = std::min(text.find(';', at), text.size());
    entries.emplace_back(text.substr(at, end - at));
    at = end + 1;
  }
  return entries;
}

std::string MakeBlackListEntry(const DeviceRecord& record) {
  std::string entry = MakeSearchKey(std::span<const uint8_t>(
      record.identity.data(), std::min<size_t>(record.identityLength, record.identity.size())));
  entry += " (";
  entry += record.Name();
  entry += ")";
  return entry;
}

void AppendBlackListEntry(std::string& blackList, const std::string& entry) {
  if (!blackList.empty()) blackList += ";";
  blackList += entry;
}

std::vector<std::string> CDlgBlacklist::FillList() const {
  std::lock_guard lock(g_deviceMutex);
  return SplitBlackList(g_blackList.text());
}

void CDlgBlacklist::OnDelete(int selectedRow) {
  std::lock_guard lock(g_deviceMutex);
  // Rebuilt under the lock: a receiver sees the old text or the new one,
  // never a half-built one.
  std::string rebuilt;
  const auto entries = SplitBlackList(g_blackList.text());
  for (int k = 0; k < static_cast<int>(entries.size()); ++k)
    if (k != selectedRow) AppendBlackListEntry(rebuilt, entries[k]);
  g_blackList = std::move(rebuilt);
}
