#include "app/qt/cancellable_clock.h"

namespace quorvik {

CCancellableClock::CCancellableClock(double timeScale, IClock* inner)
    : m_timeScale(timeScale), m_inner(inner) {}

void CCancellableClock::SleepFor(std::chrono::milliseconds duration) {
  if (m_inner != nullptr) {
    ThrowIfCancelled();
    m_inner->SleepFor(duration);
    ThrowIfCancelled();
    return;
  }
  const auto scaled = std::chrono::duration_cast<std::chrono::steady_clock::duration>(
      std::chrono::duration<double, std::milli>(duration.count() * m_timeScale));
  std::unique_lock lock(m_mutex);
  // An absolute deadline, so that spurious wake-ups do not stretch the wait.
  const auto deadline = std::chrono::steady_clock::now() + scaled;
  if (m_cancelled.wait_until(lock, deadline, [this] { return m_isCancelled; }))
    throw CCommandCancelled{};
}

void CCancellableClock::Cancel() {
  {
    std::lock_guard lock(m_mutex);
    m_isCancelled = true;
  }
  m_cancelled.notify_all();
}

bool CCancellableClock::IsCancelled() const {
  std::lock_guard lock(m_mutex);
  return m_isCancelled;
}

void CCancellableClock::ThrowIfCancelled() const {
  if (IsCancelled()) throw CCommandCancelled{};
}

}  // namespace quorvik
