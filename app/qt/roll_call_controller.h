#pragma once
// The roll-call beside the window, made on first use, compared with the
// last refresh of the list and with every one after it; and the rig saved
// from what the list shows.

#include <QPointer>
#include <optional>
#include <string>

#include "app/qt/roll_call_panel.h"
#include "records/listed_devices.h"
#include "records/rig.h"

namespace quorvik {

class CWindowCommands;

class CRollCallController {
 public:
  // `listed` is the window's last refresh of the list.
  CRollCallController(CWindowCommands& commands, const std::optional<ListedDevices>& listed)
      : m_commands(commands), m_listed(listed) {}

  CRollCallPanel* Open();
  CRollCallPanel* panel() const { return m_panel; }
  // A refresh of the list, to the panel while it is open.
  void ShowListed(const ListedDevices& listed);
  // Merges what the list shows into the rig file at `path`.
  RigSave SaveAs(const std::string& path);
  // "Save as rig...": the file, the merge, and a box that says how it went.
  void ChooseRigToSave();

 private:
  // A device the roll-call names is selected in the list, as a click would.
  void SelectListedRow(int row);

  CWindowCommands& m_commands;
  const std::optional<ListedDevices>& m_listed;
  QPointer<CRollCallPanel> m_panel;
};

}  // namespace quorvik
