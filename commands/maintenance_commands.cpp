// Single-shot commands on the selected device: factory reset, run
// application, and the restart through the bootloader.

#include "app/quorvik_dlg.h"
#include "net/reply_processing.h"

void CQuorvikDlg::OnFactoryReset() {
  const std::optional<DeviceRecord> device = RecordAt(m_view.SelectedRow());
  if (!device) {
    NoDeviceResult(CommandKind::kReset, "");
    return;
  }
  if (RefusedAsTwin(CommandKind::kReset, *device)) return;
  BeginResult(CommandKind::kReset, *device);
  const std::string name(device->Name());
  if (!m_view.AskYesNo("Do you want to set >" + name + "< to Factory Defaults ?")) {
    Decide(Outcome::kRefused, "", 0, "Factory reset declined");
    return;
  }
  m_network.RequestFactoryReset(*device);
  // Devices whose serial ends in two equal bytes take the reset only with
  // a second frame in which byte 14 is one greater.
  if (device->identity[14] == device->identity[15]) {
    DeviceRecord twin = *device;
    ++twin.identity[14];
    m_network.RequestFactoryReset(twin);
  }
  m_running->frameSent = true;
  Decide(Outcome::kOk, "Set >" + name + "< to Factory Defaults.", 0);
}

void CQuorvikDlg::OnRunApplication() {
  const std::optional<DeviceRecord> device = RecordAt(m_view.SelectedRow());
  if (!device) {
    NoDeviceResult(CommandKind::kRun, "");
    return;
  }
  if (RefusedAsTwin(CommandKind::kRun, *device)) return;
  BeginResult(CommandKind::kRun, *device);
  m_network.RequestRunApplication(*device);
  m_running->frameSent = m_running->runRequestSent = true;
  Decide(Outcome::kOk, "RUN application.", 0);
  m_clock.SleepFor(kAfterRunWait);
  m_useLastFile = 1;
  m_view.SetChecked(CheckBox::kUseLastFile, true);
}

void CQuorvikDlg::OnActivateBootloader() {
  const std::optional<DeviceRecord> device = RecordAt(m_view.SelectedRow());
  if (!device) {
    NoDeviceResult(CommandKind::kReboot, "");
    return;
  }
  if (RefusedAsTwin(CommandKind::kReboot, *device)) return;
  Guarded([&] {
    BeginResult(CommandKind::kReboot, *device);
    AddStatusLine("Start reboot ...", 0);
    m_view.SetWaitCursor(true);
    m_network.RequestEnterBootloader(*device);
    m_running->frameSent = true;
    m_workedOn = *device;
    RunProgress(kRebootStepWait);
    // The search runs without its chain step: a restart never starts an
    // update, and the "... and make Update" box stays as the operator has it.
    FindDevices();
    if (const std::optional<DeviceRecord> boot = BootRecordWithMac(device->mac)) {
      m_network.RequestRunApplication(*boot);
      m_running->addressed = *boot;
      m_running->runRequestSent = true;
      Decide(Outcome::kOk, "Reboot done.", 0);
    } else {
      Decide(Outcome::kFailed, "Reboot failed!", 1);
    }
    m_view.SetWaitCursor(false);
  });
  m_workedOn.reset();
}
