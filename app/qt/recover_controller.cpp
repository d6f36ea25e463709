#include "app/qt/recover_controller.h"

#include <memory>

#include "app/qt/side_dialog.h"
#include "app/qt/window_commands.h"
#include "records/journal.h"

namespace quorvik {

void CRecoverController::LookForHalfUpdated() {
  if (m_commands.closed() || m_commands.window().IsBusy() || !m_listed || m_journalPath.empty())
    return;
  if (m_looked && m_halfUpdated.empty() && !m_dialog) return;
  m_looked = true;
  const JournalRead read = ReadJournal(m_journalPath);
  m_halfUpdated = FindUnfinishedUpdates(read.records, m_listed->records).halfUpdated;
  m_commands.window().ShowHalfUpdated(static_cast<int>(m_halfUpdated.size()));
  if (m_dialog) m_dialog->SetDevices(m_halfUpdated);
}

void CRecoverController::Open() {
  if (m_dialog) {
    Show({});
    return;
  }
  CQtMainView* window = &m_commands.window();
  CQuorvikDlg& logic = m_commands.logic();
  m_commands.RunWhenFree([this, window, &logic] {
    // The settings file belongs to the command thread.
    const Waits waits = logic.StoredWaits(UnattendedRun::kRecovery);
    QMetaObject::invokeMethod(
        window, [this, waits] { Show(waits); }, Qt::QueuedConnection);
  });
}

void CRecoverController::Show(const Waits& waits) {
  if (m_commands.closed()) return;
  CQtMainView& window = m_commands.window();
  SideDialogSteps<CRecoverDialog> steps;
  steps.made = [this, &window, waits](CRecoverDialog& dialog) {
    dialog.SetWaits(waits);
    QObject::connect(&dialog, &CRecoverDialog::writeAgainRequested, &window,
                     [this](const UnfinishedUpdate& device) { WriteSameFileAgain(device); });
    QObject::connect(&dialog, &CRecoverDialog::runRequested, &window,
                     [this](const UnfinishedUpdate& device) { RunHalfUpdated(device); });
    dialog.SetDevices(m_halfUpdated);
  };
  OpenSideDialog(m_dialog, window, steps);
}

int CRecoverController::ListedLoaderRow(const UnfinishedUpdate& device) const {
  return m_listed ? quorvik::ListedLoaderRow(m_listed->records, device.record) : -1;
}

void CRecoverController::WriteSameFileAgain(const UnfinishedUpdate& device) {
  CQtMainView& window = m_commands.window();
  if (m_commands.closed() || window.IsBusy()) return;
  // Checked again now: the file may have changed since the dialog opened.
  std::string problem;
  auto checked = std::make_shared<const FirmwareFileRead>(ReadRecordedFile(device, problem));
  const int row = ListedLoaderRow(device);
  if (problem.empty() && row < 0) problem = "The device no longer answers in its loader.";
  if (!problem.empty()) {
    window.ShowDetailedMessage("The same file is not written again.", problem);
    LookForHalfUpdated();
    return;
  }
  CQuorvikDlg& logic = m_commands.logic();
  const Waits waits = m_dialog ? m_dialog->ChosenWaits() : Waits{true, kDefaultSettle};
  m_commands.Run([&logic, row, path = device.file, checked,
                  waits] { logic.WriteSameFileAgain(row, path, *checked, waits); },
                 QGuiApplication::keyboardModifiers());
}

void CRecoverController::RunHalfUpdated(const UnfinishedUpdate& device) {
  CQtMainView& window = m_commands.window();
  if (m_commands.closed() || window.IsBusy()) return;
  const int row = ListedLoaderRow(device);
  if (row < 0) {
    window.ShowDetailedMessage("The application is not started.",
                               "The device no longer answers in its loader.");
    LookForHalfUpdated();
    return;
  }
  CQuorvikDlg& logic = m_commands.logic();
  m_commands.Run([&logic, row] { logic.StartHalfUpdated(row); },
                 QGuiApplication::keyboardModifiers());
}

}  // namespace quorvik
