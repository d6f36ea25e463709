// What each refresh of the list listed, handed to the roll-call panel. Kept
// apart from the window's own code: the logic calls it, and it calls
// nothing of the logic back.

#include <QMetaObject>

#include "app/qt/quorvik_window.h"

namespace quorvik {

void CQuorvikWindow::CListedForWindow::OnDevicesListed(const ListedDevices& listed) {
  // Queued behind the rows of the same refresh: when the panel shows it,
  // the list shows the rows it names.
  CQuorvikWindow& w = m_window;
  // Kept for the rig's firmware plan, which the command makes as it ends.
  w.m_rollCall.Listed(listed);
  QMetaObject::invokeMethod(
      w.m_view.get(),
      [&w, listed, after = afterShown] {
        w.m_lastListed = listed;
        w.m_rollCall.ShowListed(listed);
        if (after) after();
      },
      Qt::QueuedConnection);
}

}  // namespace quorvik
