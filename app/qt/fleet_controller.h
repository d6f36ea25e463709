#pragma once
// "Update all...": the file, a search and the plan, as a command; then the
// dialog beside the window that shows the plan and runs the chosen devices
// of it as one command. A plan made elsewhere (the roll-call's "Bring up
// to date...") opens in the same dialog and runs the same way.

#include <QPointer>
#include <QString>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>

#include "app/qt/fleet_dialog.h"

namespace quorvik {

class CQuorvikDlg;
class CWindowCommands;

class CFleetController {
 public:
  explicit CFleetController(CWindowCommands& commands) : m_commands(commands) {}

  void OpenPlan();
  // A plan whose planned devices each carry their own file, shown as it is
  // under `heading` (where its files come from) instead of one file's name.
  void OpenPrepared(FleetPlan plan, QString heading);
  CFleetDialog* dialog() const { return m_dialog; }

 private:
  // `prepare` runs on the command thread; nothing opens when it gives none.
  void Open(std::function<std::optional<FleetPreparation>(CQuorvikDlg&)> prepare, QString heading);
  void ShowPlan(const FleetPreparation& prepared, const QString& heading, int atOnce,
                const Waits& waits);
  void StartRun();

  CWindowCommands& m_commands;
  QPointer<CFleetDialog> m_dialog;
  // The plan the dialog shows, with the bytes its run writes (none where
  // each device carries its own).
  std::optional<FleetPreparation> m_plan;
  // Set by "Stop after this device", read by the run between devices.
  std::shared_ptr<std::atomic<bool>> m_stop;
};

}  // namespace quorvik
