#pragma once
// The roll-call beside the window, made on first use, compared with the
// last refresh of the list and with every one after it; the firmware plan
// of its rig, made on the command thread as each command ends, and the
// plan's updates handed to the fleet dialog; and the rig saved from what
// the list shows.

#include <QPointer>
#include <optional>
#include <string>

#include "app/qt/rig_planner.h"
#include "app/qt/roll_call_panel.h"
#include "records/listed_devices.h"
#include "records/rig.h"

namespace quorvik {

class CFleetController;
class CWindowCommands;

class CRollCallController {
 public:
  // `listed` is the window's last refresh of the list.
  CRollCallController(CWindowCommands& commands, const std::optional<ListedDevices>& listed,
                      CFleetController& fleet)
      : m_commands(commands), m_listed(listed), m_fleet(fleet) {}
  ~CRollCallController();
  CRollCallController(const CRollCallController&) = delete;
  CRollCallController& operator=(const CRollCallController&) = delete;

  CRollCallPanel* Open();
  CRollCallPanel* panel() const { return m_panel; }
  // A refresh of the list, to the panel while it is open.
  void ShowListed(const ListedDevices& listed);
  // On the command thread: a refresh of the list, for the next plan.
  void Listed(const ListedDevices& listed) { m_planner.Listed(listed); }
  // On the command thread, as a command ends: the plan of the rig shown,
  // when the rig or the list changed, handed to the panel.
  void PlanAfterCommand();
  // Merges what the list shows into the rig file at `path`.
  RigSave SaveAs(const std::string& path);
  // "Save as rig...": the file, the merge, and a box that says how it went.
  void ChooseRigToSave();

 private:
  // A device the roll-call names is selected in the list, as a click would.
  void SelectListedRow(int row);
  // A rig loaded with no command after it is planned by a command of its
  // own, once the window is free.
  void PlanWhenFree();
  void BringUpToDate();

  CWindowCommands& m_commands;
  const std::optional<ListedDevices>& m_listed;
  CFleetController& m_fleet;
  QPointer<CRollCallPanel> m_panel;
  CRigPlanner m_planner;
};

}  // namespace quorvik
