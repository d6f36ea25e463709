#include "app/qt/roll_call_controller.h"

#include <QFile>
#include <QFileDialog>
#include <QMessageBox>
#include <QTreeWidget>

#include "app/qt/side_dialog.h"
#include "app/qt/window_commands.h"

namespace quorvik {

CRollCallPanel* CRollCallController::Open() {
  CQtMainView& window = m_commands.window();
  SideDialogSteps<CRollCallPanel> steps;
  steps.made = [this, &window](CRollCallPanel& panel) {
    if (m_listed) panel.ShowListed(*m_listed);
    QObject::connect(&panel, &CRollCallPanel::listedDeviceChosen, &window,
                     [this](int row) { SelectListedRow(row); });
    // As tall as the window, its groups beside the list they compare.
    panel.resize(panel.width(), window.height());
  };
  return OpenSideDialog(m_panel, window, steps);
}

void CRollCallController::ShowListed(const ListedDevices& listed) {
  if (m_panel) m_panel->ShowListed(listed);
}

RigSave CRollCallController::SaveAs(const std::string& path) {
  const RigSave save = SaveRig(path, m_listed ? m_listed->records : std::vector<DeviceRecord>{});
  if (save.problem.empty() && m_panel && m_panel->rigPath() == path) m_panel->LoadRig(path);
  return save;
}

void CRollCallController::ChooseRigToSave() {
  QWidget* window = &m_commands.window();
  QFileDialog dialog(window, QStringLiteral("Save as rig"));
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  // An existing rig is merged into, never replaced: nothing to confirm.
  dialog.setOption(QFileDialog::DontConfirmOverwrite);
  dialog.setDefaultSuffix(QStringLiteral("json"));
  dialog.setNameFilters({QStringLiteral("Rig files (*.json)"), QStringLiteral("All files (*)")});
  dialog.selectFile(m_panel && !m_panel->rigPath().empty()
                        ? QFile::decodeName(m_panel->rigPath().c_str())
                        : QStringLiteral("rig.json"));
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
  const std::string path = QFile::encodeName(dialog.selectedFiles().front()).toStdString();
  const RigSave save = SaveAs(path);
  const bool saved = save.problem.empty();
  QMessageBox box(
      saved ? QMessageBox::Information : QMessageBox::Warning,
      QString::fromLatin1(kMessageBoxTitle),
      saved ? QStringLiteral("The rig is saved.") : QStringLiteral("The rig is not saved."),
      QMessageBox::Ok, window);
  box.setInformativeText(
      saved ? QStringLiteral("%1: %2").arg(QFile::decodeName(path.c_str()),
                                           QString::fromStdString(RigSaveSummary(save.merge)))
            : QString::fromUtf8(save.problem.c_str()));
  box.exec();
}

void CRollCallController::SelectListedRow(int row) {
  CQtMainView& window = m_commands.window();
  if (m_commands.closed() || window.IsBusy() || row >= window.deviceList()->topLevelItemCount())
    return;
  window.SelectRow(row);
  m_commands.Run(&CQuorvikDlg::OnDeviceListClick);
}

}  // namespace quorvik
