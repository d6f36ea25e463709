// Times fleet updates with quorvik-cli against their floors.
//
// "mixed": 20 simulated devices (every loader generation, with and without
// verification, half of them running their application at the start) on
// one address, so one after the other: the planning search, then for every
// device the protocol's waits (restart, search, the pause and search after
// the run, the alerts) plus blocks x (reply time + 10 ms). Target: ratio at
// most 1.05.
//
// "parallel": devices on addresses of their own with a real image (a
// 256 KiB section in 512-byte blocks), running their application at the
// start, written with --parallel 1 and --parallel K. Its floor is the
// planning search and one device's own floor: every device's waits overlap.
// Targets: the parallel run at most 1.25 x that floor and 0.12 x the
// sequential run. Both, like "mixed", with --fixed-waits: they measure the
// engine against the protocol's fixed pauses.
//
// "ready": the 20 devices of "parallel" at --parallel 20 with the default
// waits, which end when the devices answer. Floor: the planning search, the
// restart's three alerts, the boot delay, the settle time, one device's
// transfer and one poll period for the confirmation. Target: at most 1.3 x
// that floor without the planning search, which is the same in both.
//
// "plan": `plan` of a rig of 99 devices (the table's limit), each listed
// and each to be updated. Target: within the search and 1 s.
//
// "apply": the same 20 devices brought to a rig's declared firmware by
// `apply` (a plan, the run, every version read back) against `update
// --all` of the same file. Target: apply at most 1.1 x update --all.
//
//   make bench   (or: scripts/netns-run build/release/bench/fleet_bench
//                 [mixed|parallel|large|ready|plan|apply])
//
// Every wait is real: "mixed" takes about three and a half minutes,
// "parallel" about seven, "large" (60 devices at --parallel 16) two.

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "commands/command_observer.h"
#include "commands/firmware_file.h"
#include "commands/fleet.h"
#include "commands/readiness.h"
#include "commands/sha256.h"
#include "net/requests.h"
#include "tests/support/firmware_file_builder.h"
#include "tests/support/netns_guard.h"
#include "tests/support/simulator_process.h"

using namespace quorvik;

namespace fs = std::filesystem;

namespace {

std::vector<uint8_t> ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

constexpr int kAckDelayMs = 1;
constexpr int kBootDelayMs = 1000;
constexpr int64_t kPlanningSearchMs = 2000;

struct Device {
  uint16_t type;
  bool app;
  uint16_t blockSize;
};

struct FleetRun {
  double seconds = 0;
  std::string summary;
  bool ok = false;
};

// The rig file for devices 0 to count - 1, declaring `file` as 3.04 for them.
void WriteRig(const std::string& rig, const std::string& file, int count);

// quorvik-cli with `args`, timed from start to exit.
FleetRun Timed(const fs::path& dir, std::vector<std::string> args) {
  args.insert(args.begin(), QUORVIK_CLI_PATH);
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  const std::string out = (dir / "out.jsonl").string();
  fs::remove(out);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out.c_str(), O_WRONLY | O_CREAT, 0600);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  FleetRun run;
  const auto start = std::chrono::steady_clock::now();
  pid_t pid = -1;
  if (::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) return run;
  int status = 0;
  ::waitpid(pid, &status, 0);
  run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  posix_spawn_file_actions_destroy(&actions);
  std::ifstream lines(out);
  for (std::string line; std::getline(lines, line);)
    if (line.find("\"event\":\"summary\"") != std::string::npos) run.summary = line;
  run.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  return run;
}

// One `update --all` of `file`, timed from start to exit.
FleetRun RunFleet(const fs::path& dir, const std::string& file, int parallel,
                  bool fixedWaits = true) {
  std::vector<std::string> args = {
      "update", "--file",       file,          "--all",      "--yes",
      "--json", "--no-journal", "--no-syslog", "--parallel", std::to_string(parallel)};
  if (fixedWaits) args.push_back("--fixed-waits");
  return Timed(dir, args);
}

std::string Identity(int i) {
  char identity[40];
  std::snprintf(identity, sizeof identity, "c0c1c2c3c4c5c6c7c8c9%02x", i);
  return identity;
}

std::string DeviceJson(int i, const Device& d, const std::string& extra = "") {
  const std::string identity = Identity(i);
  char mac[24];
  std::snprintf(mac, sizeof mac, "00-0A-95-00-%02X-%02X", i / 256, i % 256);
  return std::string(R"({"mode": ")") + (d.app ? "app" : "boot") + R"(", "loaderType": )" +
         std::to_string(d.type) + R"(, "deviceId": 13952, "mcuId": 33, "blockSize": )" +
         std::to_string(d.blockSize) + R"(, "identity": ")" + identity + R"(", "mac": ")" + mac +
         R"(", "bootDelayMs": )" + std::to_string(kBootDelayMs) + R"(, "ackDelayMs": )" +
         std::to_string(kAckDelayMs) + extra + "}";
}

bool Mixed(const fs::path& dir) {
  constexpr uint32_t kSectionBytes = 20000;
  const uint16_t types[] = {1, 512, 0x0381, 0x0300};
  const uint16_t blockSizes[] = {64, 128, 256, 512, 500};
  std::string json = R"({"devices": [)";
  int64_t floorMs = kPlanningSearchMs;
  for (int i = 0; i < 20; ++i) {
    const Device d{types[i % 4], i % 2 == 0, blockSizes[i % 5]};
    json += (i == 0 ? "" : ",") + DeviceJson(i, d);
    const bool verifies = d.type == 0x0381;
    floorMs += UpdateFloorMs(d.app, BlockCount(kSectionBytes, d.blockSize), verifies, kAckDelayMs);
  }
  json += "]}";
  CSimulatorProcess sim(QUORVIK_DEVSIM_PATH, json, "", false);
  if (!sim.ready()) return false;
  const std::string file = (dir / "fleet.bin").string();
  WriteFile(file, FirmwareFileBytes(2, {{33, 13952, 1, 5, PatternBytes(kSectionBytes)}}));
  const FleetRun run = RunFleet(dir, file, 1);
  const double floor = floorMs / 1000.0;
  std::printf(
      "fleet update: 20 devices (generations 1, 2, 3 with and without verification, 10 "
      "starting in their application), %u-byte section, reply time %d ms\n",
      kSectionBytes, kAckDelayMs);
  std::printf("  %s\n", run.summary.c_str());
  std::printf("  measured  %8.2f s\n", run.seconds);
  std::printf(
      "  floor     %8.2f s  (planning search + every device's waits + blocks x (reply "
      "time + 10 ms))\n",
      floor);
  std::printf("  ratio     %8.4f  (goal <= 1.05)\n", run.seconds / floor);
  return run.ok;
}

constexpr uint32_t kImageBytes = 256 * 1024;

// `count` running devices, each answering from an address of its own, and
// the file of a real image for them; empty when a simulator did not start.
// With `installs`, the devices run 1.02 and report what a written image
// installs, and the image begins with that version.
std::string RunningRig(const fs::path& dir, int count,
                       std::vector<std::unique_ptr<CSimulatorProcess>>& sims,
                       std::optional<uint16_t> installs = std::nullopt) {
  const Device d{0x0381, true, 512};
  const std::string extra = installs ? R"(, "appVersion": 258, "imageVersionAt": 0)" : "";
  for (int i = 0; i < count; ++i) {
    sims.push_back(std::make_unique<CSimulatorProcess>(
        QUORVIK_DEVSIM_PATH, R"({"devices": [)" + DeviceJson(i, d, extra) + "]}",
        "--source 127.0.1." + std::to_string(i + 2), false));
    if (!sims.back()->ready()) return {};
  }
  const std::string file = (dir / "image.bin").string();
  std::vector<uint8_t> image = PatternBytes(kImageBytes);
  if (installs) {
    image[0] = static_cast<uint8_t>(*installs >> 8);
    image[1] = static_cast<uint8_t>(*installs);
  }
  WriteFile(file, FirmwareFileBytes(2, {{33, 13952, 1, 5, image}}));
  return file;
}

// `count` devices, each answering from an address of its own.
bool Parallel(const fs::path& dir, int count, int parallel, bool sequentialToo) {
  std::vector<std::unique_ptr<CSimulatorProcess>> sims;
  const std::string file = RunningRig(dir, count, sims);
  if (file.empty()) return false;
  // Waves of `parallel` devices, one after the other: each wave's floor is
  // one device's.
  const int waves = (count + parallel - 1) / parallel;
  const double floor =
      (kPlanningSearchMs +
       waves * UpdateFloorMs(true, BlockCount(kImageBytes, 512), true, kAckDelayMs)) /
      1000.0;
  std::printf(
      "fleet update in parallel: %d devices on addresses of their own, %u-byte section in "
      "512-byte blocks, reply time %d ms\n",
      count, kImageBytes, kAckDelayMs);
  std::printf(
      "  floor               %8.2f s  (planning search + per wave of devices one device's restart, "
      "search, blocks x (reply "
      "time + 10 ms), verify, pause, closing search)\n",
      floor);
  bool ok = true;
  double sequential = 0;
  if (sequentialToo) {
    const FleetRun run = RunFleet(dir, file, 1);
    sequential = run.seconds;
    ok = ok && run.ok;
    std::printf("  --parallel 1        %8.2f s  %s\n", run.seconds, run.summary.c_str());
  }
  const FleetRun run = RunFleet(dir, file, parallel);
  ok = ok && run.ok;
  std::printf("  --parallel %-3d      %8.2f s  %s\n", parallel, run.seconds, run.summary.c_str());
  std::printf("  ratio to the floor  %8.4f  (goal <= 1.25)\n", run.seconds / floor);
  if (sequentialToo)
    std::printf("  ratio to --parallel 1 %6.4f  (goal <= 0.12)\n", run.seconds / sequential);
  return ok;
}

// Devices on addresses of their own, with the waits that end when they
// answer, against the same devices with the fixed pauses.
bool Ready(const fs::path& dir, int count) {
  std::vector<std::unique_ptr<CSimulatorProcess>> sims;
  const std::string file = RunningRig(dir, count, sims);
  if (file.empty()) return false;
  const int64_t transferMs =
      int64_t{BlockCount(kImageBytes, 512)} * (kAckDelayMs + kReplyPollMs) + kAckDelayMs;
  const int64_t floorMs = 3 * kBeepLength.count() + kBootDelayMs + kDefaultSettle.count() +
                          transferMs + kReadyPoll.count();
  std::printf(
      "fleet update, waits that end when the devices answer: %d running devices on addresses "
      "of their own, %u-byte section in 512-byte blocks, boot delay %d ms, --parallel %d\n",
      count, kImageBytes, kBootDelayMs, count);
  std::printf(
      "  floor                 %8.2f s  (alerts, boot delay, settle %lld ms, transfer, one "
      "poll), after the %.1f s planning search\n",
      floorMs / 1000.0, static_cast<long long>(kDefaultSettle.count()), kPlanningSearchMs / 1000.0);
  const FleetRun ready = RunFleet(dir, file, count, false);
  const FleetRun fixed = RunFleet(dir, file, count, true);
  std::printf("  waits until ready     %8.2f s  %s\n", ready.seconds, ready.summary.c_str());
  std::printf("  --fixed-waits         %8.2f s  %s\n", fixed.seconds, fixed.summary.c_str());
  const double updateSeconds = ready.seconds - kPlanningSearchMs / 1000.0;
  std::printf("  ratio to the floor    %8.4f  (goal <= 1.3)\n", updateSeconds * 1000.0 / floorMs);
  return ready.ok && fixed.ok;
}

void WriteRig(const std::string& rig, const std::string& file, int count) {
  std::ofstream out(rig);
  out << R"({"format": 1, "type": "quorvik-rig", "firmware": [{"model": "0x3680", "file": ")"
      << file << R"(", "sha256": ")" << Sha256Hex(ReadFileBytes(file))
      << R"(", "version": "3.04"}], "devices": [)";
  for (int i = 0; i < count; ++i)
    out << (i == 0 ? "" : ",") << R"({"serial": ")" << Identity(i) << R"(", "deviceId": "0x3680"})";
  out << "]}\n";
}

bool Plan(const fs::path& dir) {
  constexpr int kDevices = kDeviceTableCapacity;
  std::string json = R"({"devices": [)";
  for (int i = 0; i < kDevices; ++i)
    json += (i == 0 ? "" : ",") + DeviceJson(i, {0x0381, true, 512});
  CSimulatorProcess sim(QUORVIK_DEVSIM_PATH, json + "]}", "", false);
  if (!sim.ready()) return false;
  const std::string file = (dir / "image.bin").string();
  WriteFile(file, FirmwareFileBytes(2, {{33, 13952, 1, 5, PatternBytes(kImageBytes)}}));
  const std::string rig = (dir / "bench.rig.json").string();
  WriteRig(rig, file, kDevices);
  FleetRun run = Timed(dir, {"plan", rig, "--json"});
  std::printf("plan of a rig of %d devices, each listed and out of date\n", kDevices);
  std::printf("  plan                  %8.2f s  %s\n", run.seconds, run.summary.c_str());
  std::printf("  ratio to search + 1 s %8.4f  (goal <= 1)\n",
              run.seconds * 1000.0 / (kPlanningSearchMs + 1000));
  return run.summary.find("\"update\":99") != std::string::npos;
}

// The rig of `count` devices at --parallel `count`: `apply` of its declared
// firmware against `update --all` of the same file, each on devices that
// start at 1.02.
bool Apply(const fs::path& dir, int count) {
  const std::string rig = (dir / "bench.rig.json").string();
  FleetRun applied, updated;
  {
    std::vector<std::unique_ptr<CSimulatorProcess>> sims;
    const std::string file = RunningRig(dir, count, sims, 0x0304);
    if (file.empty()) return false;
    WriteRig(rig, file, count);
    applied = Timed(dir, {"apply", rig, "--yes", "--json", "--no-journal", "--no-syslog",
                          "--parallel", std::to_string(count)});
  }
  {
    std::vector<std::unique_ptr<CSimulatorProcess>> sims;
    const std::string file = RunningRig(dir, count, sims, 0x0304);
    if (file.empty()) return false;
    updated = RunFleet(dir, file, count, false);
  }
  std::printf(
      "apply of a rig's declared firmware: %d running devices on addresses of their own, "
      "%u-byte section, --parallel %d, every version read back\n",
      count, kImageBytes, count);
  std::printf("  apply                 %8.2f s  %s\n", applied.seconds, applied.summary.c_str());
  std::printf("  update --all          %8.2f s  %s\n", updated.seconds, updated.summary.c_str());
  std::printf("  ratio                 %8.4f  (goal <= 1.1)\n", applied.seconds / updated.seconds);
  return applied.ok && updated.ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (!InPrivateNetworkNamespace()) {
    std::fprintf(stderr, "run me through scripts/netns-run: I broadcast\n");
    return 2;
  }
  const std::string which = argc > 1 ? argv[1] : "all";
  const fs::path dir = fs::temp_directory_path() / ("quorvik-fleet-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  bool ok = true;
  if (which == "mixed" || which == "all") ok = Mixed(dir) && ok;
  if (which == "parallel" || which == "all") ok = Parallel(dir, 20, 20, true) && ok;
  if (which == "large" || which == "all") ok = Parallel(dir, 60, 16, false) && ok;
  if (which == "ready" || which == "all") ok = Ready(dir, 20) && ok;
  if (which == "plan" || which == "all") ok = Plan(dir) && ok;
  if (which == "apply" || which == "all") ok = Apply(dir, 20) && ok;
  fs::remove_all(dir);
  return ok ? 0 : 1;
}
