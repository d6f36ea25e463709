#pragma once
// The network check beside the window: the dialog, and each run of the
// check as a command of its own, on a clock of its own, so that closing
// the dialog ends that run and the window's clock stays usable for the
// commands after it.

#include <QPointer>
#include <memory>

#include "app/qt/cancellable_clock.h"
#include "app/qt/network_check_dialog.h"
#include "app/qt/window_options.h"

namespace quorvik {

class CWindowCommands;

class CNetworkCheckController {
 public:
  CNetworkCheckController(CWindowCommands& commands, const QuorvikWindowOptions& options)
      : m_commands(commands), m_options(options) {}

  // Opens the dialog, or brings it forward, and runs the check unless a
  // command is running.
  void Open();
  CNetworkCheckDialog* dialog() const { return m_dialog; }
  // Ends a running check and closes the dialog: the window is closing.
  void Close();

 private:
  void RunCheck();
  void StopCheck();

  CWindowCommands& m_commands;
  const QuorvikWindowOptions& m_options;
  QPointer<CNetworkCheckDialog> m_dialog;
  std::shared_ptr<CCancellableClock> m_clock;
};

}  // namespace quorvik
