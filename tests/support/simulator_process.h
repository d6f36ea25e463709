#pragma once
// Runs quorvik-devsim as a child process for a test: writes its config,
// waits until it has bound its ports, and collects what it printed.

#include <sys/types.h>

#include <filesystem>
#include <string>

class CSimulatorProcess {
 public:
  // Starts the simulator with the JSON config and extra arguments; fails
  // the calling test (ADD_FAILURE) when it does not report ready in time.
  CSimulatorProcess(const std::string& executable, const std::string& configJson,
                    const std::string& extraArgs = "");
  ~CSimulatorProcess();
  CSimulatorProcess(const CSimulatorProcess&) = delete;
  CSimulatorProcess& operator=(const CSimulatorProcess&) = delete;

  bool ready() const { return m_ready; }
  // Ends the simulator with SIGTERM and returns its exit status (-1 when it
  // had to be killed).
  int Stop();
  // Everything it wrote to stdout so far (complete after Stop).
  const std::string& output();
  const std::filesystem::path& dumpDir() const { return m_dumpDir; }

 private:
  void Drain(int timeoutMs);

  std::filesystem::path m_dir;
  std::filesystem::path m_dumpDir;
  pid_t m_pid = -1;
  int m_stdout = -1;
  bool m_ready = false;
  std::string m_output;
};
