#include "tests/support/simulator_process.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <vector>

namespace fs = std::filesystem;

CSimulatorProcess::CSimulatorProcess(const std::string& executable, const std::string& configJson,
                                     const std::string& extraArgs) {
  char pattern[] = "/tmp/quorvik-sim-XXXXXX";
  m_dir = ::mkdtemp(pattern);
  m_dumpDir = m_dir / "dump";
  fs::create_directories(m_dumpDir);
  const fs::path config = m_dir / "devices.json";
  std::ofstream(config) << configJson;

  std::vector<std::string> args = {executable, "--config",   config.string(),
                                   "--log",    "--dump-dir", m_dumpDir.string()};
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
  int rc = ::posix_spawn(&m_pid, executable.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(pipeFds[1]);
  m_stdout = pipeFds[0];
  if (rc != 0) {
    m_pid = -1;
    ADD_FAILURE() << "cannot start " << executable;
    return;
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!m_ready && std::chrono::steady_clock::now() < deadline) {
    Drain(100);
    m_ready = m_output.find("ready\n") != std::string::npos;
    if (m_stdout < 0) break;
  }
  if (!m_ready) ADD_FAILURE() << "simulator did not report ready; it printed:\n" << m_output;
}

CSimulatorProcess::~CSimulatorProcess() {
  Stop();
  std::error_code ignored;
  fs::remove_all(m_dir, ignored);
}

void CSimulatorProcess::Drain(int timeoutMs) {
  if (m_stdout < 0) return;
  pollfd pfd{m_stdout, POLLIN, 0};
  while (::poll(&pfd, 1, timeoutMs) > 0) {
    char buffer[4096];
    ssize_t got = ::read(m_stdout, buffer, sizeof buffer);
    if (got <= 0) {
      ::close(m_stdout);
      m_stdout = -1;
      return;
    }
    m_output.append(buffer, static_cast<size_t>(got));
    timeoutMs = 0;
  }
}

const std::string& CSimulatorProcess::output() {
  Drain(0);
  return m_output;
}

int CSimulatorProcess::Stop() {
  if (m_pid < 0) return -1;
  ::kill(m_pid, SIGTERM);
  int status = 0;
  int result = -1;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  for (;;) {
    Drain(20);
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
  while (m_stdout >= 0) Drain(100);
  m_pid = -1;
  return result;
}
