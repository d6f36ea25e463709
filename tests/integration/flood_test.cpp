// The tool under a flood of traffic: answers of many devices, duplicates,
// truncated, oversized and wrong frames and stray acknowledgements on all
// three ports, while the window's commands run over and over. Under
// ThreadSanitizer this also proves the receivers and the command thread
// share nothing without the lock.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>

#include "app/quorvik_dlg.h"
#include "devices/black_list.h"
#include "net/network_session.h"
#include "net/reply_processing.h"
#include "tests/support/fake_main_view.h"
#include "tests/support/firmware_file_builder.h"
#include "tests/support/netns_guard.h"
#include "tests/support/scratch_directory.h"
#include "tests/support/simulator_process.h"

using namespace quorvik;

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

// GCC says so with __SANITIZE_*__, clang with __has_feature.
#if defined(__has_feature)
#define QUORVIK_HAS_FEATURE(x) __has_feature(x)
#else
#define QUORVIK_HAS_FEATURE(x) 0
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__) || \
    QUORVIK_HAS_FEATURE(address_sanitizer) || QUORVIK_HAS_FEATURE(thread_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

long ResidentKiB() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  return 0;
}

// The table's shape and the rows shown from it, checked together.
void ExpectConsistent(const DeviceSession& devices, const CFakeMainView& view) {
  std::lock_guard lock(devices.deviceMutex);
  const int used = CountUsedRecords(devices.deviceTable);
  ASSERT_LE(used, kDeviceTableCapacity);
  for (int i = used; i < kDeviceTableCapacity; ++i)
    ASSERT_TRUE(devices.deviceTable[i].IsFree()) << i;
  ASSERT_LE(view.rows.size(), static_cast<size_t>(kDeviceTableCapacity));
}

TEST(Flood, CommandsStayCorrectAndAnUpdateCompletesOrReportsItsFailure) {
  QUORVIK_REQUIRE_PRIVATE_NETNS();
  CScratchDirectory scratch;
  const fs::path& dir = scratch.path();

  const auto section = PatternBytes(4000, 3);
  const std::string path = (dir / "fw.bin").string();
  WriteFile(path, FirmwareFileBytes(2, {{0x21, 0x3680, 0x01, 0x05, section}}));

  CSimulatorProcess sim(QUORVIK_DEVSIM_PATH,
                        R"({"devices": [{"mode": "boot", "loaderType": 897, "deviceId": 13952,
                            "mcuId": 33, "blockSize": 512, "mac": "00-0A-95-00-00-42",
                            "identity": "4142434445464748494a4b"}]})",
                        "--flood 0 --flood-devices 150", /*logFrames=*/false);
  ASSERT_TRUE(sim.ready());

  CFakeMainView view;
  CSystemNetwork network;
  CScaledClock clock{10};
  CQuorvikDlg dlg(view, network, clock);
  dlg.OnInitDialog();
  ExpectConsistent(network.Devices(), view);
  const long residentAtStart = ResidentKiB();

  const auto until = Clock::now() + std::chrono::seconds(8);
  int rounds = 0;
  while (Clock::now() < until) {
    dlg.FindDevices();
    ExpectConsistent(network.Devices(), view);
    EXPECT_EQ(view.rows.size(), static_cast<size_t>(dlg.rowCount()));
    view.selectedRow = rounds % 5;
    dlg.OnAddToBlackList();
    CDlgBlacklist blackList(network.Devices());
    if (rounds % 2 == 1) blackList.OnDelete(0);
    dlg.RefreshDeviceList();
    ExpectConsistent(network.Devices(), view);
    ++rounds;
  }
  EXPECT_GT(rounds, 3);

  // The simulated device is written while the flood goes on.
  {
    DeviceSession& devices = network.Devices();
    std::lock_guard lock(devices.deviceMutex);
    devices.blackList.clear();
  }
  // The flood's devices are more than the table holds: where the receivers
  // are slower than the flood (a sanitizer's build), those queued before the
  // search fill the table before the device's answer is read. The operator
  // hides the foreign rows, as on a crowded network, until it finds a place.
  int row = -1;
  for (int attempt = 0; attempt < 20 && row < 0; ++attempt) {
    dlg.FindDevices();
    for (size_t i = 0; i < view.rows.size(); ++i)
      if (view.rows[i].serial == "4142434445464748494A4B") row = static_cast<int>(i);
    if (row >= 0) break;
    for (size_t i = 0; i < view.rows.size(); ++i) {
      if (view.rows[i].serial.rfind("F1", 0) != 0) continue;
      view.selectedRow = static_cast<int>(i);
      dlg.OnAddToBlackList();
    }
  }
  ASSERT_GE(row, 0) << "the simulated device was never listed";
  view.selectedRow = row;
  view.chosenFile = path;
  dlg.OnFirmwareUpdate();
  const auto logged = view.EventsStartingWith("log ");
  const bool completed =
      std::find(logged.begin(), logged.end(),
                "log Write and verify data complete. (" + path + " at index 0)") != logged.end();
  const bool failed = std::any_of(logged.begin(), logged.end(), [](const std::string& l) {
    return l.find("Timeout on write data!") != std::string::npos ||
           l == "log Firmware verification failed!";
  });
  EXPECT_TRUE(completed != failed) << "neither a completion nor a failure was reported";

  if (!kSanitized) {
    EXPECT_LT(ResidentKiB() - residentAtStart, 16 * 1024);
  }

  sim.Stop();
  if (completed) {
    std::ifstream in(sim.dumpDir() / "4142434445464748494a4b.img", std::ios::binary);
    std::vector<uint8_t> image{std::istreambuf_iterator<char>(in), {}};
    std::vector<uint8_t> expected = section;
    expected.resize(8 * 512, 0xFF);
    EXPECT_EQ(image, expected);
  }
  const std::string out = sim.output();
  const auto at = out.find("summary flood sent=");
  ASSERT_NE(at, std::string::npos);
  // Figures for the reliability notes: how hard the flood pushed, how much
  // got done meanwhile, and how the update ended.
  std::printf("%s over the run; %d rounds of commands; update %s\n",
              out.substr(at + 8, out.find('\n', at) - at - 8).c_str(), rounds,
              completed ? "completed and verified" : "reported its failure");
}

}  // namespace
