// Times a fleet update of 20 simulated devices (every loader generation,
// with and without verification, half of them running their application
// at the start) with quorvik-cli, against its floor: the planning search,
// then for every device the protocol's waits (restart, search, the pause and
// search after the run, the alerts) plus blocks x (reply time + 10 ms).
//
//   make bench   (or: scripts/netns-run build/release/bench/fleet_bench)
//
// Target: ratio at most 1.05. Takes about three and a half minutes: every
// wait is real.

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "commands/firmware_file.h"
#include "commands/fleet.h"
#include "tests/support/firmware_file_builder.h"
#include "tests/support/netns_guard.h"
#include "tests/support/simulator_process.h"

namespace fs = std::filesystem;

namespace {

constexpr uint32_t kSectionBytes = 20000;
constexpr int kAckDelayMs = 1;

struct Device {
  uint16_t type;
  bool app;
  uint16_t blockSize;
};

}  // namespace

int main() {
  if (!InPrivateNetworkNamespace()) {
    std::fprintf(stderr, "run me through scripts/netns-run: I broadcast\n");
    return 2;
  }
  const uint16_t types[] = {1, 512, 0x0381, 0x0300};
  const uint16_t blockSizes[] = {64, 128, 256, 512, 500};
  std::vector<Device> devices;
  std::string json = R"({"devices": [)";
  int64_t floorMs = 2000;  // the planning search
  for (int i = 0; i < 20; ++i) {
    const Device d{types[i % 4], i % 2 == 0, blockSizes[i % 5]};
    devices.push_back(d);
    char identity[40];
    std::snprintf(identity, sizeof identity, "c0c1c2c3c4c5c6c7c8c9%02x", i);
    char mac[24];
    std::snprintf(mac, sizeof mac, "00-0A-95-00-10-%02X", i);
    json += std::string(i == 0 ? "" : ",") + R"({"mode": ")" + (d.app ? "app" : "boot") +
            R"(", "loaderType": )" + std::to_string(d.type) +
            R"(, "deviceId": 13952, "mcuId": 33, "blockSize": )" + std::to_string(d.blockSize) +
            R"(, "identity": ")" + identity + R"(", "mac": ")" + mac +
            R"(", "bootDelayMs": 1000, "ackDelayMs": )" + std::to_string(kAckDelayMs) + "}";
    const bool verifies = d.type == 0x0381;
    floorMs += UpdateFloorMs(d.app, BlockCount(kSectionBytes, d.blockSize), verifies, kAckDelayMs);
  }
  json += "]}";
  CSimulatorProcess sim(QUORVIK_DEVSIM_PATH, json, "", false);
  if (!sim.ready()) return 1;

  const fs::path dir = fs::temp_directory_path() / ("quorvik-fleet-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  const std::string file = (dir / "fleet.bin").string();
  WriteFile(file, FirmwareFileBytes(2, {{33, 13952, 1, 5, PatternBytes(kSectionBytes)}}));
  std::vector<std::string> args = {QUORVIK_CLI_PATH, "update", "--file", file,
                                   "--all",          "--yes",  "--json", "--no-journal",
                                   "--no-syslog"};
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  const std::string out = (dir / "out.jsonl").string();
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out.c_str(), O_WRONLY | O_CREAT, 0600);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  const auto start = std::chrono::steady_clock::now();
  pid_t pid = -1;
  if (::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) return 1;
  int status = 0;
  ::waitpid(pid, &status, 0);
  const double measured =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  posix_spawn_file_actions_destroy(&actions);

  std::ifstream lines(out);
  std::string summary;
  for (std::string line; std::getline(lines, line);)
    if (line.find("\"event\":\"summary\"") != std::string::npos) summary = line;
  fs::remove_all(dir);
  const double floor = floorMs / 1000.0;
  std::printf(
      "fleet update: 20 devices (generations 1, 2, 3 with and without verification, 10 "
      "starting in their application), %u-byte section, reply time %d ms\n",
      kSectionBytes, kAckDelayMs);
  std::printf("  %s\n", summary.c_str());
  std::printf("  measured  %8.2f s\n", measured);
  std::printf(
      "  floor     %8.2f s  (planning search + every device's waits + blocks x (reply "
      "time + 10 ms))\n",
      floor);
  std::printf("  ratio     %8.4f  (goal <= 1.05)\n", measured / floor);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 0 : 1;
}
