// Single-shot commands on the selected device: factory reset, run
// application, and the restart through the bootloader.

#include "app/quorvik_dlg.h"
#include "net/reply_processing.h"

void CQuorvikDlg::OnFactoryReset() {
  const std::optional<DeviceRecord> device = RecordAt(m_view.SelectedRow());
  if (!device) return;
  const std::string name(device->Name());
  if (!m_view.AskYesNo("Do you want to set >" + name + "< to Factory Defaults ?")) return;
  m_network.RequestFactoryReset(*device);
  // Devices whose serial ends in two equal bytes take the reset only with
  // a second frame in which byte 14 is one greater.
  if (device->identity[14] == device->identity[15]) {
    DeviceRecord twin = *device;
    ++twin.identity[14];
    m_network.RequestFactoryReset(twin);
  }
  AddStatusLine("Set >" + name + "< to Factory Defaults.", 0);
}

void CQuorvikDlg::OnRunApplication() {
  const std::optional<DeviceRecord> device = RecordAt(m_view.SelectedRow());
  if (!device) return;
  m_network.RequestRunApplication(*device);
  AddStatusLine("RUN application.", 0);
  m_clock.SleepFor(kAfterRunWait);
  m_useLastFile = 1;
  m_view.SetChecked(CheckBox::kUseLastFile, true);
}

void CQuorvikDlg::OnActivateBootloader() {
  const std::optional<DeviceRecord> device = RecordAt(m_view.SelectedRow());
  if (!device) return;
  AddStatusLine("Start reboot ...", 0);
  m_view.SetWaitCursor(true);
  m_network.RequestEnterBootloader(*device);
  RunProgress(kRebootStepWait);
  // The search runs without its chain step: a restart never starts an
  // update, and the "... and make Update" box stays as the operator has it.
  FindDevices();
  if (const std::optional<DeviceRecord> boot = BootRecordWithMac(device->mac)) {
    m_network.RequestRunApplication(*boot);
    AddStatusLine("Reboot done.", 0);
  } else {
    AddStatusLine("Reboot failed!", 1);
  }
  m_view.SetWaitCursor(false);
}
