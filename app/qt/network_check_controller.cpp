#include "app/qt/network_check_controller.h"

#include <atomic>

#include "app/qt/side_dialog.h"
#include "app/qt/window_commands.h"
#include "records/settings_file.h"

namespace quorvik {

void CNetworkCheckController::Open() {
  if (m_commands.closed()) return;
  CQtMainView& window = m_commands.window();
  // Beside the window, not over it: its advice stays in view while the
  // operator acts on it and searches again.
  SideDialogSteps<CNetworkCheckDialog> steps;
  steps.made = [this, &window](CNetworkCheckDialog& dialog) {
    QObject::connect(&dialog, &CNetworkCheckDialog::runRequested, &window, [this] { RunCheck(); });
    QObject::connect(&dialog, &QDialog::finished, &window, [this] { StopCheck(); });
  };
  OpenSideDialog(m_dialog, window, steps);
  if (!m_dialog->IsRunning()) RunCheck();
}

void CNetworkCheckController::RunCheck() {
  // The check searches on the devices' ports: during a command it would
  // take acknowledgements meant for that command. So it is a command of its
  // own, and it waits for none.
  CQtMainView* window = &m_commands.window();
  if (m_commands.closed() || window->IsBusy() || !m_dialog) return;
  auto clock = std::make_shared<CCancellableClock>(m_options.timeScale, m_options.innerClock);
  m_clock = clock;
  QPointer<CNetworkCheckDialog> dialog = m_dialog;
  const auto toDialog = [window, dialog](std::function<void(CNetworkCheckDialog&)> show) {
    PostToDialog(window, dialog, std::move(show));
  };
  auto complete = std::make_shared<std::atomic<bool>>(false);
  auto check = [this, clock, toDialog, complete] {
    // On the command thread, where the address and the settings path
    // belong.
    const CQuorvikDlg& logic = m_commands.logic();
    NetworkCheckRequest request;
    request.caller = CheckCaller::kWindow;
    request.requestedAddress = logic.openAddress();
    if (!logic.iniPath().empty())
      request.storedAddress = CSettingsFile(logic.iniPath()).Read(kSettingsSection, kKeySelectedIp);
    m_options.networkCheck(request, *clock, [&](const CheckResult& result) {
      toDialog([result](CNetworkCheckDialog& d) { d.Add(result); });
      // Steps without a wait (the process scan, the rule listings) end
      // here once the dialog is closed.
      if (clock->IsCancelled()) throw CCommandCancelled{};
    });
    *complete = true;
  };
  auto release = [window, toDialog, complete] {
    toDialog([complete](CNetworkCheckDialog& d) { d.Finish(*complete); });
    QMetaObject::invokeMethod(
        window, [window] { window->SetBusy(false); }, Qt::QueuedConnection);
  };
  dialog->Begin();
  // Ending a check leaves nothing half-done: the window closes without
  // asking.
  window->SetBusy(true, false);
  if (!m_commands.runner().Post(check, release)) {
    window->SetBusy(false);
    dialog->Finish(false);
  }
}

void CNetworkCheckController::StopCheck() {
  if (m_clock) m_clock->Cancel();
}

void CNetworkCheckController::Close() {
  StopCheck();
  if (m_dialog) m_dialog->close();
}

}  // namespace quorvik
