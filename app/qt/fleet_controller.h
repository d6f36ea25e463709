#pragma once
// "Update all...": the file, a search and the plan, as a command; then the
// dialog beside the window that shows the plan and runs the chosen devices
// of it as one command.

#include <QPointer>
#include <atomic>
#include <memory>
#include <optional>

#include "app/qt/fleet_dialog.h"

namespace quorvik {

class CWindowCommands;

class CFleetController {
 public:
  explicit CFleetController(CWindowCommands& commands) : m_commands(commands) {}

  void OpenPlan();
  CFleetDialog* dialog() const { return m_dialog; }

 private:
  void ShowPlan(const FleetPreparation& prepared, int atOnce, const Waits& waits);
  void StartRun();

  CWindowCommands& m_commands;
  QPointer<CFleetDialog> m_dialog;
  // The plan the dialog shows, with the bytes its run writes.
  std::optional<FleetPreparation> m_plan;
  // Set by "Stop after this device", read by the run between devices.
  std::shared_ptr<std::atomic<bool>> m_stop;
};

}  // namespace quorvik
