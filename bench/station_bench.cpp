// Times `quorvik-cli station` against simulated units put on the bench.
//
// "one": units put on the bench one after another (two in their loader, two
// running their application), each taken away long after it is done. A
// unit's time runs from the moment it is put down to its OK line; its
// floor is its own update's floor plus one search period (2 s), since it
// may be put down just after a search asked. Target: each unit at most
// 1.1 x its floor.
//
// "four": four running units on addresses of their own, put down together,
// --parallel 4, against one such unit alone. Target: the last of the four
// OK at most 1.3 x the one unit's time.
//
// Both with --fixed-waits: they measure the station against the protocol's
// fixed pauses.
//
// "ready": the same units with the default waits, which end when a unit
// answers. One running unit put down alone, against the alerts, boot delay,
// settle time, transfer, one poll and one search period (target 1.3 x);
// then four at --parallel 4, whose units per hour are to be at least four
// times the 830 that "four" gave with the fixed pauses.
//
//   scripts/netns-run build/release/bench/station_bench [one|four|ready]
//
// Every wait is real: "one" takes about a minute and a half, "four" half a
// minute.

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "commands/command_observer.h"
#include "commands/firmware_file.h"
#include "commands/fleet.h"
#include "commands/readiness.h"
#include "net/requests.h"
#include "tests/support/firmware_file_builder.h"
#include "tests/support/netns_guard.h"
#include "tests/support/simulator_process.h"

using namespace quorvik;

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kAckDelayMs = 1;
constexpr int64_t kSearchPeriodMs = 2000;
constexpr uint32_t kSectionBytes = 64 * 1024;
constexpr uint16_t kBlockSize = 512;

// When each unit's OK (or FAIL) line came, by serial.
struct StationRun {
  std::map<std::string, Clock::time_point> done;
  std::string summary;
  bool ok = false;
};

// A station on `file` until `units` units are done, then Ctrl-C.
StationRun RunStation(const std::string& file, int parallel, size_t units, bool fixedWaits = true) {
  std::vector<std::string> args = {
      QUORVIK_CLI_PATH,        "station",      "--file",      file,
      "--porcelain",           "--no-journal", "--no-syslog", "--parallel",
      std::to_string(parallel)};
  if (fixedWaits) args.push_back("--fixed-waits");
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  int out[2];
  StationRun run;
  if (::pipe2(out, O_CLOEXEC) != 0) return run;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  pid_t pid = -1;
  const int rc = ::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(out[1]);
  if (rc != 0) return run;
  std::string partial;
  char buffer[4096];
  for (ssize_t got; (got = ::read(out[0], buffer, sizeof buffer)) > 0;) {
    partial.append(buffer, static_cast<size_t>(got));
    for (size_t end; (end = partial.find('\n')) != std::string::npos; partial.erase(0, end + 1)) {
      const std::string line = partial.substr(0, end);
      if (line.rfind("OK ", 0) == 0 || line.rfind("FAIL ", 0) == 0) {
        run.ok = run.ok || line.rfind("OK ", 0) == 0;
        const size_t from = line.find(' ') + 1;
        run.done[line.substr(from, line.find(' ', from) - from)] = Clock::now();
        if (line.rfind("FAIL ", 0) == 0) std::printf("  %s\n", line.c_str());
        if (run.done.size() == units) ::kill(pid, SIGINT);
      }
      if (line.rfind("SUMMARY ", 0) == 0) run.summary = line;
    }
  }
  ::close(out[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  run.ok = run.ok && WIFEXITED(status) && WEXITSTATUS(status) == 0;
  return run;
}

struct Unit {
  std::string identity;
  bool app;
  int64_t fromMs;  // put on the bench, since the simulator was ready
  int64_t untilMs;
};

std::string UnitJson(const Unit& u, int mac) {
  char text[32];
  std::snprintf(text, sizeof text, "00-0A-95-00-01-%02X", mac);
  return std::string(R"({"mode": ")") + (u.app ? "app" : "boot") +
         R"(", "loaderType": 897, "deviceId": 13952, "mcuId": 33, "blockSize": )" +
         std::to_string(kBlockSize) + R"(, "identity": ")" + u.identity + R"(", "mac": ")" + text +
         R"(", "bootDelayMs": 1000, "ackDelayMs": )" + std::to_string(kAckDelayMs) +
         R"(, "onBench": {"fromMs": )" + std::to_string(u.fromMs) + R"(, "untilMs": )" +
         std::to_string(u.untilMs) + "}}";
}

int64_t FloorMs(bool app) {
  return UpdateFloorMs(app, BlockCount(kSectionBytes, kBlockSize), true, kAckDelayMs) +
         kSearchPeriodMs;
}

std::string Serial(const std::string& identity) {
  std::string upper = identity;
  std::transform(upper.begin(), upper.end(), upper.begin(), ::toupper);
  return upper;
}

double Seconds(Clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

// Units one after another; returns whether every ratio met its goal.
bool OneAfterAnother(const std::string& file, double& worst) {
  // Put down at odd moments of the search cycle, each long after the one
  // before is done and taken away.
  const std::vector<Unit> units = {{"a0a1a2a3a4a5a6a7a8a9aa", false, 1300, 17000},
                                   {"b0b1b2b3b4b5b6b7b8b9bb", true, 19700, 43000},
                                   {"c0c1c2c3c4c5c6c7c8c9cc", false, 44900, 61000},
                                   {"d0d1d2d3d4d5d6d7d8d9dd", true, 62500, 90000}};
  std::string json = R"({"devices": [)";
  for (size_t i = 0; i < units.size(); ++i)
    json += (i == 0 ? "" : ",") + UnitJson(units[i], static_cast<int>(i));
  CSimulatorProcess sim(QUORVIK_DEVSIM_PATH, json + "]}", "", false);
  if (!sim.ready()) return false;
  const Clock::time_point ready = Clock::now();
  const StationRun run = RunStation(file, 1, units.size());
  std::printf(
      "station, units put down one after another: %u-byte section in %u-byte blocks, reply "
      "time %d ms\n",
      kSectionBytes, kBlockSize, kAckDelayMs);
  std::printf("  %s\n", run.summary.c_str());
  bool met = run.ok;
  worst = 0;
  for (const Unit& u : units) {
    const auto at = run.done.find(Serial(u.identity));
    if (at == run.done.end()) {
      std::printf("  %s never done\n", u.identity.c_str());
      return false;
    }
    const double took = Seconds(at->second - ready) - u.fromMs / 1000.0;
    const double floor = FloorMs(u.app) / 1000.0;
    worst = std::max(worst, took / floor);
    met = met && took / floor <= 1.1;
    std::printf(
        "  %-4s unit  %6.2f s  floor %6.2f s (its update %5.2f s + one search period)  ratio "
        "%6.4f\n",
        u.app ? "app" : "boot", took, floor, floor - kSearchPeriodMs / 1000.0, took / floor);
  }
  std::printf("  worst ratio %6.4f  (goal <= 1.1)\n", worst);
  return met;
}

// `count` running units on addresses of their own, put down together at
// 1.3 s; the time of the last one's OK line from then.
double Together(const std::string& file, int count, bool& ok, bool fixedWaits = true) {
  std::vector<std::unique_ptr<CSimulatorProcess>> sims;
  std::vector<Unit> units;
  for (int i = 0; i < count; ++i) {
    char identity[32];
    std::snprintf(identity, sizeof identity, "e%de1e2e3e4e5e6e7e8e9ee", i);
    units.push_back({identity, true, 1300, 600000});
    sims.push_back(std::make_unique<CSimulatorProcess>(
        QUORVIK_DEVSIM_PATH, R"({"devices": [)" + UnitJson(units.back(), 16 + i) + "]}",
        "--source 127.0.1." + std::to_string(i + 2), false));
    if (!sims.back()->ready()) return ok = false;
  }
  // The simulators count from their own ready; the last one's is latest.
  const Clock::time_point ready = Clock::now();
  const StationRun run = RunStation(file, count, units.size(), fixedWaits);
  ok = run.ok && run.done.size() == units.size();
  Clock::time_point last = ready;
  for (const auto& [serial, at] : run.done) last = std::max(last, at);
  std::printf("  %d unit(s) at once: %6.2f s  %s\n", count, Seconds(last - ready) - 1.3,
              run.summary.c_str());
  return Seconds(last - ready) - 1.3;
}

// The alerts, boot delay, settle time, transfer and one poll of a running
// unit with the waits that end when it answers, and one search period.
int64_t ReadyFloorMs() {
  return 3 * kBeepLength.count() + 1000 + kDefaultSettle.count() +
         int64_t{BlockCount(kSectionBytes, kBlockSize)} * (kAckDelayMs + kReplyPollMs) +
         kAckDelayMs + kReadyPoll.count() + kSearchPeriodMs;
}

}  // namespace

int main(int argc, char** argv) {
  if (!InPrivateNetworkNamespace()) {
    std::fprintf(stderr, "run me through scripts/netns-run: I broadcast\n");
    return 2;
  }
  const std::string which = argc > 1 ? argv[1] : "all";
  const fs::path dir =
      fs::temp_directory_path() / ("quorvik-station-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  const std::string file = (dir / "unit.bin").string();
  WriteFile(file, FirmwareFileBytes(2, {{33, 13952, 1, 5, PatternBytes(kSectionBytes)}}));
  bool ok = true;
  if (which == "one" || which == "all") {
    double worst = 0;
    ok = OneAfterAnother(file, worst) && ok;
  }
  if (which == "four" || which == "all") {
    std::printf("station, running units on addresses of their own, --parallel K = units\n");
    bool oneOk = false, fourOk = false;
    const double one = Together(file, 1, oneOk);
    const double four = Together(file, 4, fourOk);
    std::printf("  ratio four / one %6.4f  (goal <= 1.3)\n", four / one);
    ok = ok && oneOk && fourOk;
  }
  if (which == "ready" || which == "all") {
    std::printf("station, waits that end when the unit answers, running units\n");
    bool oneOk = false, fourOk = false;
    const double one = Together(file, 1, oneOk, false);
    const double floor = ReadyFloorMs() / 1000.0;
    std::printf(
        "  one unit: put down to OK %6.2f s, floor %5.2f s (alerts, boot delay, settle, transfer, "
        "one poll, one search period), ratio %6.4f  (goal <= 1.3)\n",
        one, floor, one / floor);
    Together(file, 4, fourOk, false);
    std::printf("  (four units: per-hour goal >= %d)\n", 4 * 830);
    ok = ok && oneOk && fourOk;
  }
  fs::remove_all(dir);
  return ok ? 0 : 1;
}
