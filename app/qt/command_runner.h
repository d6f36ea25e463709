#pragma once
// The thread on which the window's logic runs its commands. The window
// thread only hands a command over and goes back to painting; the logic's
// view calls come back to it as queued events. There is one such thread and
// it takes one command at a time, as the logic expects: commands share the
// window's members without locks.

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace quorvik {

class CCommandRunner {
 public:
  CCommandRunner();
  ~CCommandRunner();
  CCommandRunner(const CCommandRunner&) = delete;
  CCommandRunner& operator=(const CCommandRunner&) = delete;

  // Runs `command` and then `finished`, both on the command thread; an
  // exception out of the command (a cancelled wait above all) ends it and
  // still runs `finished`. False, and nothing runs, while a command is still
  // running or after Stop.
  bool Post(std::function<void()> command, std::function<void()> finished);
  bool IsBusy() const;
  // Waits for the running command, if any, and ends the thread. The caller
  // first makes that command's waits end (see CCancellableClock).
  void Stop();

 private:
  void Loop();

  mutable std::mutex m_mutex;
  std::condition_variable m_wake;
  std::function<void()> m_command;
  std::function<void()> m_finished;
  bool m_busy = false;
  bool m_stopping = false;
  std::thread m_thread;
};

}  // namespace quorvik
