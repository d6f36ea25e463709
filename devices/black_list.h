#pragma once
// The black-list's entries as the operator sees them: "<serial hex>
// (<name>)". How the text splits and grows, and which devices it hides, is
// CBlackListText's matter.

#include <string>
#include <string_view>
#include <vector>

#include "net/black_list_text.h"
#include "net/device_record.h"
#include "net/device_session.h"

namespace quorvik {

// "<identity as lower-case hex> (<name>)".
std::string MakeBlackListEntry(const DeviceRecord& record);

// The "Device Black-List" dialog's logic: its one column shows the entries
// of the session's black-list; "Delete" removes the selected one at once (the receivers
// use the shorter list from then on). Whether it is saved is the caller's
// decision, on OK.
class CDlgBlacklist {
 public:
  static constexpr const char* kCaption = "Device Black-List";
  static constexpr const char* kColumnHeader = "Device Serial-Nr";
  static constexpr int kColumnWidth = 400;

  explicit CDlgBlacklist(DeviceSession& devices) : m_devices(devices) {}

  std::vector<std::string> FillList() const;
  void OnDelete(int selectedRow);

 private:
  DeviceSession& m_devices;
};

}  // namespace quorvik
