#pragma once
// Runs quorvik-devsim as a child process for a test: writes its config,
// waits until it has bound its ports, and collects what it printed.

#include <sys/types.h>

#include <filesystem>
#include <mutex>
#include <string>
#include <thread>

namespace quorvik {

class CSimulatorProcess {
 public:
  // Starts the simulator with the JSON config and extra arguments; fails
  // the calling test (ADD_FAILURE) when it does not report ready in time.
  // Without `logFrames` it prints only "ready" and its summary: a flooded
  // simulator hears its own flood, and a line per datagram would pile up
  // tens of megabytes in this process.
  CSimulatorProcess(const std::string& executable, const std::string& configJson,
                    const std::string& extraArgs = "", bool logFrames = true);
  ~CSimulatorProcess();
  CSimulatorProcess(const CSimulatorProcess&) = delete;
  CSimulatorProcess& operator=(const CSimulatorProcess&) = delete;

  bool ready() const { return m_ready; }
  // Ends the simulator with SIGTERM and returns its exit status (-1 when it
  // had to be killed).
  int Stop();
  // Everything it wrote to stdout so far (complete after Stop).
  std::string output() const;
  const std::filesystem::path& dumpDir() const { return m_dumpDir; }

 private:
  // Reads its stdout for as long as it runs: a simulator that logs every
  // frame would otherwise fill the pipe and stall mid-exchange.
  void ReadOutput(int fd);

  std::filesystem::path m_dir;
  std::filesystem::path m_dumpDir;
  pid_t m_pid = -1;
  bool m_ready = false;
  mutable std::mutex m_mutex;
  std::string m_output;
  std::thread m_reader;
};

}  // namespace quorvik
