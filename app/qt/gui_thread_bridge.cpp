#include "app/qt/gui_thread_bridge.h"

namespace quorvik {

void CGuiThreadBridge::Post(std::function<void()> change) {
  if (QThread::currentThread() == m_context->thread())
    change();
  else
    QMetaObject::invokeMethod(m_context, std::move(change), Qt::QueuedConnection);
}

void CGuiThreadBridge::Cancel() {
  {
    std::lock_guard lock(m_mutex);
    m_cancelled = true;
  }
  m_answered.notify_all();
}

}  // namespace quorvik
