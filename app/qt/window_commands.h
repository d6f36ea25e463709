#pragma once
// The window's commands, one at a time: each runs on the command thread
// while the window takes no input, and none starts once the window has
// closed. The window's controls and the dialogs beside it start theirs here.

#include <QGuiApplication>
#include <functional>

#include "app/qt/command_runner.h"
#include "app/qt/qt_main_view.h"
#include "app/quorvik_dlg.h"

namespace quorvik {

class CWindowCommands {
 public:
  // `runner` may still be unmade: it is used from the first command on.
  CWindowCommands(CQtMainView& window, CQuorvikDlg& logic, CCommandRunner& runner)
      : m_window(window), m_logic(logic), m_runner(runner) {}

  CQtMainView& window() const { return m_window; }
  // Used on the command thread only, by the commands.
  CQuorvikDlg& logic() const { return m_logic; }
  // For a command that keeps the window's busy state itself.
  CCommandRunner& runner() const { return m_runner; }

  // Runs on the command thread after each command that ran to its end (not
  // after one an exception ended, as the window's closing does), while the
  // window still takes no input.
  void SetAfterEachCommand(std::function<void()> after) { m_after = std::move(after); }

  // From now on no command starts: the window is closing.
  void Close() { m_closed = true; }
  bool closed() const { return m_closed; }

  // Hands `command` to the command thread, with the keys held at its
  // start; false when a command is running or the window has closed.
  bool Run(std::function<void()> command, Qt::KeyboardModifiers modifiers);
  // Hands over `command` now, or as soon as the running command has ended
  // and the window has taken in what it showed; nothing once the window has
  // closed. For the window's own steps (what a dialog remembers, read from
  // the settings file), never for the operator's: a click while a command
  // runs does nothing.
  void RunWhenFree(std::function<void()> command);
  // The logic's `handler` as a command, with the keys held now.
  template <typename Result>
  void Run(Result (CQuorvikDlg::*handler)()) {
    Run([this, handler] { (m_logic.*handler)(); }, QGuiApplication::keyboardModifiers());
  }

 private:
  CQtMainView& m_window;
  CQuorvikDlg& m_logic;
  CCommandRunner& m_runner;
  std::function<void()> m_after;
  bool m_closed = false;
};

}  // namespace quorvik
