#include "app/qt/window_commands.h"

#include <QMetaObject>

namespace quorvik {

bool CWindowCommands::Run(std::function<void()> command, Qt::KeyboardModifiers modifiers) {
  if (m_closed || m_window.IsBusy()) return false;
  m_window.NoteModifiers(modifiers);
  m_window.SetBusy(true);
  CQtMainView* window = &m_window;
  // Queued behind every view change of the command, so it lands last.
  auto release = [window] {
    QMetaObject::invokeMethod(
        window, [window] { window->SetBusy(false); }, Qt::QueuedConnection);
  };
  const bool posted = m_runner.Post(
      [command = std::move(command), after = m_after] {
        command();
        if (after) after();
      },
      release);
  if (!posted) m_window.SetBusy(false);
  return posted;
}

}  // namespace quorvik
