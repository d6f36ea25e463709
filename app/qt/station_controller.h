#pragma once
// The window's station: the dialog beside the window, its run as one
// command on the command thread, its events handed to the dialog on the
// window's thread.

#include <QPointer>
#include <atomic>
#include <memory>
#include <string>

#include "app/qt/station_dialog.h"

namespace quorvik {

class CWindowCommands;

class CStationController {
 public:
  explicit CStationController(CWindowCommands& commands) : m_commands(commands) {}

  // "Station...": the production bench beside the window, with `path`
  // chosen when given. A new one opens once what the last run went with
  // has been read, on the command thread, as soon as it is free.
  void Open(const std::string& path = {});
  CStationDialog* dialog() const { return m_dialog; }
  // Set while a run lasts: its updates are journalled as the station's.
  const std::atomic<bool>& running() const { return m_running; }

 private:
  // `choices`: "Units at once" and the waits for a dialog made now; one
  // already open keeps what the operator set in it.
  void Show(const std::string& path, int atOnce, const Waits& waits);
  void StartRun();

  CWindowCommands& m_commands;
  QPointer<CStationDialog> m_dialog;
  std::shared_ptr<std::atomic<bool>> m_stop;
  std::atomic<bool> m_running{false};
};

}  // namespace quorvik
