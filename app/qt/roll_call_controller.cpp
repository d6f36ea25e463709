#include "app/qt/roll_call_controller.h"

#include <QFile>
#include <QFileDialog>
#include <QMessageBox>
#include <QTreeWidget>
#include <filesystem>
#include <map>

#include "app/qt/fleet_controller.h"
#include "app/qt/side_dialog.h"
#include "app/qt/window_commands.h"

namespace quorvik {

namespace {

// Where the files of a rig's plan come from: the rig, and each file with
// the version it installs.
QString FirmwareHeading(const CRigPlanner::Planned& planned) {
  std::map<std::string, uint16_t> files;
  for (const FleetDevice& d : planned.plan.fleet.planned)
    if (d.installs) files.emplace(d.path, *d.installs);
  QString text =
      QStringLiteral("Firmware as %1 declares it:")
          .arg(QFile::decodeName(std::filesystem::path(planned.rigPath).filename().c_str()));
  // A rig has a file or two per model: a few lines say where they are.
  constexpr size_t kNamed = 4;
  size_t named = 0;
  for (const auto& [path, version] : files) {
    if (named++ == kNamed) {
      text += QStringLiteral("\nand %1 file(s) more").arg(files.size() - kNamed);
      break;
    }
    text += QStringLiteral("\n%1 installs %2")
                .arg(QFile::decodeName(path.c_str()), QString::fromStdString(VersionText(version)));
  }
  return text;
}

}  // namespace

CRollCallController::~CRollCallController() {
  // The panel, a child of the window, goes after this controller: what it
  // tells then must reach nobody.
  if (m_panel) QObject::disconnect(m_panel, nullptr, &m_commands.window(), nullptr);
}

CRollCallPanel* CRollCallController::Open() {
  CQtMainView& window = m_commands.window();
  SideDialogSteps<CRollCallPanel> steps;
  steps.made = [this, &window](CRollCallPanel& panel) {
    if (m_listed) panel.ShowListed(*m_listed);
    QObject::connect(&panel, &CRollCallPanel::listedDeviceChosen, &window,
                     [this](int row) { SelectListedRow(row); });
    // A rig without declarations has nothing to plan.
    QObject::connect(&panel, &CRollCallPanel::rigLoaded, &window, [this, &panel] {
      m_planner.SetRig(panel.declaresFirmware() ? panel.rig() : nullptr, panel.rigPath());
      PlanWhenFree();
    });
    QObject::connect(&panel, &QObject::destroyed, &window, [this] { m_planner.SetRig({}, {}); });
    QObject::connect(&panel, &CRollCallPanel::bringUpToDateRequested, &window,
                     [this] { BringUpToDate(); });
    // A rig loaded while a command ran that listed nothing after it.
    QObject::connect(&window, &CQtMainView::busyChanged, &panel, [this](bool busy) {
      if (!busy) PlanWhenFree();
    });
    // As tall as the window, its groups beside the list they compare.
    panel.resize(panel.width(), window.height());
  };
  return OpenSideDialog(m_panel, window, steps);
}

void CRollCallController::ShowListed(const ListedDevices& listed) {
  if (m_panel) m_panel->ShowListed(listed);
}

void CRollCallController::PlanAfterCommand() {
  std::shared_ptr<const CRigPlanner::Planned> planned = m_planner.PlanIfStale();
  if (!planned) return;
  // Queued behind the list it was made on, which the panel then shows.
  QMetaObject::invokeMethod(
      &m_commands.window(),
      [this, planned] {
        if (m_panel) m_panel->ShowPlan(planned);
      },
      Qt::QueuedConnection);
}

void CRollCallController::PlanWhenFree() {
  // Asked a moment later: not from inside the busy state's own change,
  // whose other receivers are still to hear of it.
  QMetaObject::invokeMethod(
      &m_commands.window(),
      [this] {
        if (!m_commands.closed() && !m_commands.window().IsBusy() && m_planner.Stale())
          m_commands.Run([] {}, Qt::NoModifier);
      },
      Qt::QueuedConnection);
}

void CRollCallController::BringUpToDate() {
  if (!m_panel || !m_panel->plan() || m_panel->plan()->plan.fleet.planned.empty()) return;
  const CRigPlanner::Planned& planned = *m_panel->plan();
  m_fleet.OpenPrepared(planned.plan.fleet, FirmwareHeading(planned));
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
