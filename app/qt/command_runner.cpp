#include "app/qt/command_runner.h"

#include <cstdio>
#include <exception>

#include "commands/clock.h"

namespace quorvik {

CCommandRunner::CCommandRunner() : m_thread([this] { Loop(); }) {}

CCommandRunner::~CCommandRunner() {
  Stop();
}

bool CCommandRunner::Post(std::function<void()> command, std::function<void()> finished) {
  {
    std::lock_guard lock(m_mutex);
    if (m_busy || m_stopping) return false;
    m_command = std::move(command);
    m_finished = std::move(finished);
    m_busy = true;
  }
  m_wake.notify_one();
  return true;
}

bool CCommandRunner::IsBusy() const {
  std::lock_guard lock(m_mutex);
  return m_busy;
}

void CCommandRunner::Stop() {
  {
    std::lock_guard lock(m_mutex);
    m_stopping = true;
  }
  m_wake.notify_one();
  if (m_thread.joinable()) m_thread.join();
}

void CCommandRunner::Loop() {
  for (;;) {
    std::function<void()> command, finished;
    {
      std::unique_lock lock(m_mutex);
      m_wake.wait(lock, [this] { return m_stopping || m_command; });
      // A command posted just before Stop still runs: its waits throw at
      // once, and its finished step must not be lost.
      if (!m_command) return;
      command = std::move(m_command);
      finished = std::move(m_finished);
      m_command = nullptr;
    }
    try {
      command();
    } catch (const CCommandCancelled&) {
      // The window is closing; the command has unwound.
    } catch (const std::exception& e) {
      std::fprintf(stderr, "quorvik: command ended by an error: %s\n", e.what());
    }
    // Free before `finished` tells the window, so that a command the window
    // posts as soon as it hears is never refused.
    {
      std::lock_guard lock(m_mutex);
      m_busy = false;
    }
    if (finished) finished();
  }
}

}  // namespace quorvik
