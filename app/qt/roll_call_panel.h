#pragma once
// "Roll-call": a panel beside the main window that compares a rig file with
// every Find, in groups that read without colour too (an icon of its own
// shape and a word per group), so that a technician sees at a glance what
// is missing, unexpected or changed before the doors open. Where the rig
// declares firmware, a Firmware column says per device how it stands, and
// "Bring up to date..." hands the updates to the fleet dialog.

#include <QWidget>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/qt/models/roll_call_model.h"
#include "app/qt/rig_planner.h"
#include "records/listed_devices.h"
#include "records/rig.h"
#include "records/roll_call.h"

class QLabel;
class QPushButton;
class QTreeView;

namespace quorvik {

class CRollCallPanel : public QWidget {
  Q_OBJECT
 public:
  explicit CRollCallPanel(QWidget* parent = nullptr);

  // Empty when the rig at `path` is loaded; else why not (the rig shown
  // stays).
  std::string LoadRig(const std::string& path);
  // Loads it, or says in a message box why not.
  void LoadRigOrSay(const std::string& path);
  const std::string& rigPath() const { return m_rigPath; }
  // The rig shown; none before one is loaded.
  const std::shared_ptr<const Rig>& rig() const { return m_rig; }
  // Whether the rig declares any firmware: without, there is no Firmware
  // column and nothing to bring up to date.
  bool declaresFirmware() const { return m_declares; }
  // What the last refresh of the main list showed. A plan shown before is
  // of an older list: it goes until the plan of this one comes.
  void ShowListed(const ListedDevices& listed);
  // The plan of the rig shown, made on the list shown (it is made after
  // the refresh that it follows); a plan of another rig is not taken.
  void ShowPlan(std::shared_ptr<const CRigPlanner::Planned> planned);
  // The plan shown, or none.
  const std::shared_ptr<const CRigPlanner::Planned>& plan() const { return m_plan; }
  // "Bring up to date..." waits while the window runs a command.
  void SetWindowBusy(bool busy);

  QTreeView* tree() const { return m_tree; }
  CRollCallModel* model() const { return m_model; }
  QLabel* summary() const { return m_summary; }
  QPushButton* bringUpToDateButton() const { return m_bringUpToDate; }

 signals:
  // The operator chose a device that the main list shows, at this row.
  void listedDeviceChosen(int row);
  // Another rig is shown.
  void rigLoaded();
  // "Bring up to date...": the updates of the plan shown.
  void bringUpToDateRequested();

 private:
  void ChooseRig();
  void Refresh();
  void ApplyButtons();

  CRollCallModel* m_model = nullptr;
  QTreeView* m_tree = nullptr;
  QLabel* m_rigLabel = nullptr;
  QLabel* m_summary = nullptr;
  QPushButton* m_load = nullptr;
  QPushButton* m_bringUpToDate = nullptr;
  std::shared_ptr<const Rig> m_rig;
  std::string m_rigPath;
  bool m_declares = false;
  std::optional<ListedDevices> m_listed;
  std::shared_ptr<const CRigPlanner::Planned> m_plan;
  std::shared_ptr<const Rig> m_widened;  // the rig whose first plan widened the panel
  bool m_windowBusy = false;
};

}  // namespace quorvik
