#pragma once
// The black-list: entries "<serial hex> (<name>)" joined by ";". Which
// devices it hides is CBlackListText's matter.

#include <string>
#include <string_view>
#include <vector>

#include "net/device_record.h"

// The ";"-separated entries in order; empty entries inside are kept, a
// trailing ";" gives no empty last entry, the empty text gives none.
std::vector<std::string> SplitBlackList(std::string_view text);

// "<identity as lower-case hex> (<name>)".
std::string MakeBlackListEntry(const DeviceRecord& record);

// Appends an entry with exactly one ";" between entries.
void AppendBlackListEntry(std::string& blackList, const std::string& entry);

// The "Device Black-List" dialog's logic: its one column shows the entries
// of g_blackList; "Delete" removes the selected one at once (the receivers
// use the shorter list from then on). Whether it is saved is the caller's
// decision, on OK.
class CDlgBlacklist {
 public:
  static constexpr const char* kCaption = "Device Black-List";
  static constexpr const char* kColumnHeader = "Device Serial-Nr";
  static constexpr int kColumnWidth = 400;

  std::vector<std::string> FillList() const;
  void OnDelete(int selectedRow);
};
