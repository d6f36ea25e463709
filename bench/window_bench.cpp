// Time from starting the program to its window being shown, the resident
// memory of the running program with 99 devices listed, and the longest
// stall of its event loop under a flood of 100,000 datagrams a second. Runs the
// real program against the simulator on a virtual X server, all inside a
// private network namespace:
//
//   scripts/netns-run xvfb-run -a build/release/bench/window_bench

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/netns_guard.h"
#include "tests/support/simulator_process.h"

using namespace quorvik;

namespace fs = std::filesystem;

namespace {

double MonotonicSeconds() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<double>(now.tv_sec) + now.tv_nsec / 1e9;
}

long ResidentKiB(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  return -1;
}

std::string NinetyNineDevices() {
  std::string json = R"({"devices": [)";
  for (int i = 0; i < 99; ++i) {
    char device[256];
    std::snprintf(
        device, sizeof device,
        R"(%s{"mode": "%s", "loaderType": 1, "deviceId": 13840, "identity": "%02x0102030405060708090a", "mac": "02-00-00-00-%02x-%02x", "name": "Node %d"})",
        i ? "," : "", i % 2 ? "app" : "boot", i, i / 256, i % 256, i);
    json += device;
  }
  return json + "]}";
}

struct ProgramRun {
  double started = 0;
  double shown = 0;
  long residentKiB = -1;
  std::string output;
};

// Starts the program in a scratch folder, lets it run for `seconds`, and
// ends it.
ProgramRun RunProgram(const fs::path& program, int seconds) {
  ProgramRun run;
  char pattern[] = "/tmp/quorvik-bench-XXXXXX";
  const fs::path dir = ::mkdtemp(pattern);
  // An empty settings file of its own, so the operator's black-list is never read.
  std::ofstream(dir / "Quorvik.ini");
  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0) return run;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDERR_FILENO);
  posix_spawn_file_actions_addchdir_np(&actions, dir.c_str());
  std::vector<char*> argv = {const_cast<char*>(program.c_str()), nullptr};
  pid_t pid = -1;
  run.started = MonotonicSeconds();
  if (::posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ) != 0)
    return run;
  ::close(pipeFds[1]);
  const double end = run.started + seconds;
  char buffer[512];
  while (MonotonicSeconds() < end) {
    const ssize_t got = ::read(pipeFds[0], buffer, sizeof buffer);
    if (got > 0)
      run.output.append(buffer, static_cast<size_t>(got));
    else
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    const auto at = run.output.find("quorvik: shown at ");
    if (run.shown == 0 && at != std::string::npos && run.output.find('\n', at) != std::string::npos)
      run.shown = std::stod(run.output.substr(at + 18));
  }
  run.residentKiB = ResidentKiB(pid);
  ::kill(pid, SIGTERM);
  int status = 0;
  ::waitpid(pid, &status, 0);
  ::close(pipeFds[0]);
  fs::remove_all(dir);
  return run;
}

double LongestStallMs(const std::string& output) {
  const auto at = output.rfind("quorvik: longest stall ");
  return at == std::string::npos ? -1 : std::stod(output.substr(at + 23));
}

}  // namespace

int main() {
  if (!InPrivateNetworkNamespace() || std::getenv("DISPLAY") == nullptr) {
    std::fprintf(stderr, "run me as: scripts/netns-run xvfb-run -a %s\n",
                 "build/release/bench/window_bench");
    return 2;
  }
  const fs::path program = QUORVIK_PROGRAM_PATH;
  ::setenv("QUORVIK_REPORT_SHOWN", "1", 1);
  ::setenv("QUORVIK_REPORT_STALLS", "1", 1);
  ProgramRun listed;
  {
    CSimulatorProcess sim(QUORVIK_DEVSIM_PATH, NinetyNineDevices());
    if (!sim.ready()) return 1;
    // The start-up search takes 5 s; then all 99 devices are listed.
    listed = RunProgram(program, 7);
  }
  if (listed.shown == 0) {
    std::fprintf(stderr, "the window never reported being shown:\n%s\n", listed.output.c_str());
    return 1;
  }
  ProgramRun flooded;
  {
    CSimulatorProcess sim(QUORVIK_DEVSIM_PATH, NinetyNineDevices(),
                          "--flood 100000 --flood-seconds 11", /*logFrames=*/false);
    if (!sim.ready()) return 1;
    flooded = RunProgram(program, 11);
  }
  std::printf("window: time from start to shown %8.3f s  (goal < 0.5 s)\n",
              listed.shown - listed.started);
  std::printf("window: resident memory, 99 devices listed %6.1f MiB\n",
              listed.residentKiB / 1024.0);
  std::printf(
      "window: longest event-loop stall under 100,000 datagrams/s for 10 s %6.1f ms "
      "(goal < 100 ms)\n",
      LongestStallMs(flooded.output));
  return 0;
}
