#pragma once
// SIGINT and SIGTERM as a run of quorvik-cli sees them: what they have asked
// so far, read by every command and wait that must give way to them.

#include <signal.h>

#include <atomic>
#include <thread>

namespace quorvik {

class CReplyChannels;

// What the signals asked. Nothing is asked of a run without a watcher (a
// unit test's).
class CInterrupts {
 public:
  CInterrupts() = default;
  CInterrupts(const CInterrupts&) = delete;
  CInterrupts& operator=(const CInterrupts&) = delete;

  // Set on SIGINT or SIGTERM; the next wait of a command then unwinds it.
  bool Interrupted() const { return m_interrupted.load(); }
  // Set on the first SIGINT or SIGTERM of a fleet or station run: it stops
  // after the device being written (a second one interrupts that device
  // too).
  bool StopAfterDevice() const { return m_stopAfterDevice.load(); }

 protected:
  std::atomic<bool> m_interrupted{false};
  std::atomic<bool> m_stopAfterDevice{false};
};

// SIGINT and SIGTERM are taken by a thread of their own (every other thread
// has them blocked), so that the interrupt can do what a signal handler may
// not: end an acknowledgement wait at once, under its lock. The watcher
// ends before the reply channels it aborts go away.
class CInterruptWatcher : public CInterrupts {
 public:
  // `graceful`: the first signal only asks a fleet run to stop after the
  // device it is writing; the next one interrupts.
  CInterruptWatcher(bool graceful, CReplyChannels& replies);
  ~CInterruptWatcher();
  CInterruptWatcher(const CInterruptWatcher&) = delete;
  CInterruptWatcher& operator=(const CInterruptWatcher&) = delete;

 private:
  sigset_t m_signals;
  std::atomic<bool> m_ending{false};
  std::thread m_thread;
};

}  // namespace quorvik
