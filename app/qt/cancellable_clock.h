#pragma once
// The clock of the window's commands. Closing the window must not wait out a
// 5 s search or a chain of updates: once cancelled, the wait in progress and
// every later one throw CCommandCancelled, so the command unwinds at once.

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "commands/clock.h"

namespace quorvik {

class CCancellableClock : public IClock {
 public:
  // `timeScale` below 1 runs the protocol's waits faster (tests). `inner`,
  // when given, does the waiting instead of real time; cancellation is then
  // seen before and after each of its waits.
  explicit CCancellableClock(double timeScale = 1.0, IClock* inner = nullptr);

  void SleepFor(std::chrono::milliseconds duration) override;
  void Cancel();
  bool IsCancelled() const;
  // A reply wait the window's closing cut short is no time-out of the
  // device: its update ends interrupted, not failed.
  bool Interrupted() const override { return IsCancelled(); }

 private:
  void ThrowIfCancelled() const;

  const double m_timeScale;
  IClock* const m_inner;
  mutable std::mutex m_mutex;
  std::condition_variable m_cancelled;
  bool m_isCancelled = false;
};

}  // namespace quorvik
