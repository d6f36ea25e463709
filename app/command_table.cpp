// The small handlers of the window's list, menus and link: black-list,
// serial collection, button states and context menus.

#include "app/quorvik_dlg.h"
#include "devices/black_list.h"
#include "devices/device_list.h"
#include "devices/serial_export.h"
#include "net/reply_processing.h"

namespace quorvik {

void CQuorvikDlg::SaveBlackList() {
  std::string text;
  {
    const DeviceSession& devices = m_network.Devices();
    std::lock_guard lock(devices.deviceMutex);
    text = devices.blackList.text();
  }
  WriteSetting(kKeyHidden, text);
}

void CQuorvikDlg::OnAddToBlackList() {
  const std::optional<DeviceRecord> device = RecordAt(m_view.SelectedRow());
  if (!device) return;
  {
    DeviceSession& devices = m_network.Devices();
    std::lock_guard lock(devices.deviceMutex);
    devices.blackList.Append(MakeBlackListEntry(*device));
  }
  SaveBlackList();
}

void CQuorvikDlg::OnShowBlackList() {
  CDlgBlacklist dialog(m_network.Devices());
  if (m_view.RunBlackListDialog(dialog)) SaveBlackList();
}

void CQuorvikDlg::OnDeviceListDblClick() {
  const std::optional<DeviceRecord> device = RecordAt(m_view.SelectedRow());
  if (!device) {
    AddStatusLine("No interface selected !", Beep::kAlert);
    return;
  }
  SoundTone(kSerialToneHz);
  if (!CollectSerialLine(*device)) {
    SoundTone(kBeepFrequencyHz);
    return;
  }
  m_serialMode = true;
  AddStatusLine("Copy serial to Clipboard - 1", Beep::kNone);
}

void CQuorvikDlg::OnDeviceListClick() {
  SetDeviceButtons(RecordAt(m_view.SelectedRow()));
}

void CQuorvikDlg::OnDeviceListRightClick() {
  const std::optional<DeviceRecord> device = RecordAt(m_view.SelectedRow());
  if (!device) return;
  // Each menu holds the one command of the pair that is offered.
  m_view.ShowContextMenu(CommandOffered(CommandKind::kRun, *device) ? ContextMenu::kDevice
                                                                    : ContextMenu::kHide);
}

void CQuorvikDlg::OnWebLink() {
  m_view.OpenWebAddress(kWebAddress);
}

}  // namespace quorvik
