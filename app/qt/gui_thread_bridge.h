#pragma once
// How code on another thread (the command thread) reaches the widgets of
// the window thread: changes are queued there in call order; a question
// runs there while the asking thread waits for its answer, and once the
// bridge is cancelled every wait, now and later, ends with the cautious
// answer instead. Nothing waits on the window thread.

#include <QMetaObject>
#include <QObject>
#include <QThread>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

namespace quorvik {

class CGuiThreadBridge {
 public:
  // `context` lives on the window thread; what is queued runs only while
  // it does.
  explicit CGuiThreadBridge(QObject* context) : m_context(context) {}
  CGuiThreadBridge(const CGuiThreadBridge&) = delete;
  CGuiThreadBridge& operator=(const CGuiThreadBridge&) = delete;

  // At once on the window thread, else queued to it.
  void Post(std::function<void()> change);
  // Runs `ask` on the window thread and waits for its answer; `cautious`
  // when the bridge is cancelled first.
  template <typename T>
  T Ask(std::function<T()> ask, T cautious);
  // Any thread. Ends every wait for an answer, now and from now on.
  void Cancel();

 private:
  QObject* m_context;
  std::mutex m_mutex;
  std::condition_variable m_answered;
  bool m_cancelled = false;
};

template <typename T>
T CGuiThreadBridge::Ask(std::function<T()> ask, T cautious) {
  if (QThread::currentThread() == m_context->thread()) return ask();
  struct Answer {
    std::optional<T> value;
  };
  auto answer = std::make_shared<Answer>();
  {
    std::lock_guard lock(m_mutex);
    if (m_cancelled) return cautious;
  }
  QMetaObject::invokeMethod(
      m_context,
      [this, answer, ask = std::move(ask)] {
        T value = ask();
        {
          std::lock_guard lock(m_mutex);
          answer->value = std::move(value);
        }
        m_answered.notify_all();
      },
      Qt::QueuedConnection);
  std::unique_lock lock(m_mutex);
  m_answered.wait(lock, [&] { return answer->value.has_value() || m_cancelled; });
  return answer->value.has_value() ? std::move(*answer->value) : cautious;
}

}  // namespace quorvik
