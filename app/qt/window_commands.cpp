#include "app/qt/window_commands.h"

#include <QMetaObject>
#include <memory>

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

void CWindowCommands::RunWhenFree(std::function<void()> command) {
  if (m_closed) return;
  if (!m_window.IsBusy()) {
    Run(std::move(command), Qt::NoModifier);
    return;
  }
  // Tried again from the event loop, not from within the signal: the
  // window's other listeners must hear of the end before a new command.
  auto connection = std::make_shared<QMetaObject::Connection>();
  *connection = QObject::connect(&m_window, &CQtMainView::busyChanged, &m_window,
                                 [this, connection, command = std::move(command)](bool nowBusy) {
                                   if (nowBusy) return;
                                   QMetaObject::invokeMethod(
                                       &m_window, [this, command] { RunWhenFree(command); },
                                       Qt::QueuedConnection);
                                   QObject::disconnect(*connection);
                                 });
}

}  // namespace quorvik
