#include "tests/support/simulator_process.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <fstream>
#include <vector>

namespace quorvik {

namespace fs = std::filesystem;

CSimulatorProcess::CSimulatorProcess(const std::string& executable, const std::string& configJson,
                                     const std::string& extraArgs, bool logFrames) {
  char pattern[] = "/tmp/quorvik-sim-XXXXXX";
  m_dir = ::mkdtemp(pattern);
  m_dumpDir = m_dir / "dump";
  fs::create_directories(m_dumpDir);
  const fs::path config = m_dir / "devices.json";
  std::ofstream(config) << configJson;

  std::vector<std::string> args = {executable, "--config", config.string(), "--dump-dir",
                                   m_dumpDir.string()};
  if (logFrames) args.push_back("--log");
  for (size_t start = 0; start < extraArgs.size();) {
    size_t end = extraArgs.find(' ', start);
    if (end == std::string::npos) end = extraArgs.size();
    if (end > start) args.push_back(extraArgs.substr(start, end - start));
    start = end + 1;
  }
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
    ADD_FAILURE() << "pipe failed";
    return;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
  // Its messages go into the same pipe, not into the test runner's output:
  // a simulator must never hold the runner's pipes open.
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDERR_FILENO);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  int rc = ::posix_spawn(&m_pid, executable.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(pipeFds[1]);
  if (rc != 0) {
    ::close(pipeFds[0]);
    m_pid = -1;
    ADD_FAILURE() << "cannot start " << executable;
    return;
  }
  m_reader = std::thread(&CSimulatorProcess::ReadOutput, this, pipeFds[0]);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!m_ready && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    m_ready = output().find("ready\n") != std::string::npos;
  }
  if (!m_ready) ADD_FAILURE() << "simulator did not report ready; it printed:\n" << output();
}

CSimulatorProcess::~CSimulatorProcess() {
  Stop();
  std::error_code ignored;
  fs::remove_all(m_dir, ignored);
}

void CSimulatorProcess::ReadOutput(int fd) {
  char buffer[4096];
  for (;;) {
    ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    std::lock_guard lock(m_mutex);
    m_output.append(buffer, static_cast<size_t>(got));
  }
  ::close(fd);
}

std::string CSimulatorProcess::output() const {
  std::lock_guard lock(m_mutex);
  return m_output;
}

int CSimulatorProcess::Stop() {
  if (m_pid < 0) return -1;
  ::kill(m_pid, SIGTERM);
  int status = 0;
  int result = -1;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  for (;;) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    pid_t done = ::waitpid(m_pid, &status, WNOHANG);
    if (done == m_pid) {
      result = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      break;
    }
    if (std::chrono::steady_clock::now() > deadline) {
      ::kill(m_pid, SIGKILL);
      ::waitpid(m_pid, &status, 0);
      break;
    }
  }
  // The pipe ends with the process (no other process holds its write end).
  if (m_reader.joinable()) m_reader.join();
  m_pid = -1;
  return result;
}

}  // namespace quorvik
