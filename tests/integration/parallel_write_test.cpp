// Two devices on addresses of their own, written at once from two threads
// over real UDP on lo: each thread's waits end on its own device's
// acknowledgements only, however late the other's come.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <thread>
#include <vector>

#include "app/quorvik_dlg.h"
#include "commands/network.h"
#include "net/frames.h"
#include "net/network_session.h"
#include "net/reply_processing.h"
#include "net/requests.h"
#include "tests/support/fake_main_view.h"
#include "tests/support/firmware_file_builder.h"
#include "tests/support/loopback.h"
#include "tests/support/netns_guard.h"
#include "tests/support/scratch_directory.h"
#include "tests/support/simulator_process.h"

using namespace quorvik;

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr uint32_t kBlock = 512;
constexpr uint32_t kBlocks = 30;

std::optional<DeviceRecord> Listed(const DeviceSession& devices, uint8_t firstIdentityByte) {
  std::lock_guard lock(devices.deviceMutex);
  for (int i = 0; i < CountUsedRecords(devices.deviceTable); ++i)
    if (devices.deviceTable[i].identity[0] == firstIdentityByte) return devices.deviceTable[i];
  return std::nullopt;
}

std::string Config(const char* identity, uint32_t delayedWrite, uint32_t delayMs) {
  return std::string(R"({"devices": [{"mode": "boot", "blockSize": 512, "identity": ")") +
         identity + R"(", "delayAck": {"index": )" + std::to_string(delayedWrite) + R"(, "ms": )" +
         std::to_string(delayMs) + "}}]}";
}

std::vector<uint8_t> Dump(const CSimulatorProcess& sim, const char* identity) {
  std::ifstream in(sim.dumpDir() / (std::string(identity) + ".img"), std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// What one thread saw of its device's update.
struct UpdateRun {
  std::vector<Clock::time_point> acknowledged;  // per block
  std::vector<Clock::duration> waited;          // per block, pause included
  bool written = true;
  bool verified = false;
  uint16_t checksum = 0;
};

UpdateRun Update(COpenNetwork& network, DeviceSession& devices, const DeviceRecord& device,
                 const std::vector<uint8_t>& image) {
  UpdateRun run;
  for (uint32_t offset = 0; offset < image.size() && run.written; offset += kBlock) {
    const auto start = Clock::now();
    run.written = RequestWriteBlock(network, devices, &device, offset,
                                    std::span(image).subspan(offset, kBlock),
                                    static_cast<uint32_t>(image.size()), 0x0105, 500)
                      .acknowledged;
    run.acknowledged.push_back(Clock::now());
    run.waited.push_back(run.acknowledged.back() - start);
  }
  uint16_t status = 1;
  run.verified =
      run.written && RequestVerify(network, devices, &device, run.checksum, status) && status == 0;
  return run;
}

TEST(ParallelWrite, TwoDevicesOnTheirOwnAddressesNeverEndEachOthersWaits) {
  QUORVIK_REQUIRE_PRIVATE_NETNS();
  // A's third block is acknowledged 2 s late; B's tenth 3 s late, so that
  // B is still waiting for it when A's late acknowledgement arrives.
  CSimulatorProcess simA(QUORVIK_DEVSIM_PATH, Config("a1a2a3a4", 3, 2000), "--source 127.0.0.2");
  CSimulatorProcess simB(QUORVIK_DEVSIM_PATH, Config("b1b2b3b4", 10, 3000), "--source 127.0.0.3");
  ASSERT_TRUE(simA.ready() && simB.ready());
  COwnedDevices owned;
  DeviceSession& devices = owned.devices;
  ASSERT_TRUE(owned.network.Open("127.0.0.1"));
  ASSERT_TRUE(RequestBootSearch(owned.network));
  ASSERT_TRUE(WaitUntil([&] { return Listed(devices, 0xA1) && Listed(devices, 0xB1); }));
  const DeviceRecord a = *Listed(devices, 0xA1), b = *Listed(devices, 0xB1);
  ASSERT_EQ(a.address, (Ipv4Address{127, 0, 0, 2}));
  ASSERT_EQ(b.address, (Ipv4Address{127, 0, 0, 3}));

  const std::vector<uint8_t> imageA = PatternBytes(kBlocks * kBlock, 0x11),
                             imageB = PatternBytes(kBlocks * kBlock, 0x77);
  UpdateRun runA, runB;
  std::thread threadA([&] { runA = Update(owned.network, devices, a, imageA); });
  std::thread threadB([&] { runB = Update(owned.network, devices, b, imageB); });
  threadA.join();
  threadB.join();
  owned.network.Close();

  ASSERT_TRUE(runA.verified && runB.verified);
  EXPECT_EQ(runA.checksum, ComputeImageCrc(imageA));
  EXPECT_EQ(runB.checksum, ComputeImageCrc(imageB));
  // Neither wait was ended by the other device's acknowledgements.
  EXPECT_GE(runA.waited[2], milliseconds(2000));
  EXPECT_GE(runB.waited[9], milliseconds(3000));
  // B's first nine blocks went through while A waited for its third, and B
  // still waited for its tenth when A's late acknowledgement came.
  EXPECT_LT(runB.acknowledged[8], runA.acknowledged[2]);
  EXPECT_GT(runB.acknowledged[9], runA.acknowledged[2]);

  simA.Stop();
  simB.Stop();
  EXPECT_EQ(Dump(simA, "a1a2a3a4"), imageA);
  EXPECT_EQ(Dump(simB, "b1b2b3b4"), imageB);
}

// What the window's fleet dialog is told of each device, as the lanes tell it.
class CFleetSteps : public IFleetObserver {
 public:
  void OnBlocksWritten(size_t device, uint32_t, uint32_t) override { blocks.push_back(device); }
  void OnDeviceFinished(size_t device, const CommandResult&, bool updated) override {
    finished[device] = updated;
  }
  std::vector<size_t> blocks;
  std::map<size_t, bool> finished;
};

// The window's own fleet run with two devices at once: its observers (the
// status log, the journal, the dialog) hear the lanes one at a time, which
// the ThreadSanitizer build of this test checks.
TEST(ParallelWrite, TheWindowsFleetRunWritesTwoDevicesSideBySide) {
  QUORVIK_REQUIRE_PRIVATE_NETNS();
  CScratchDirectory scratch;
  std::ofstream("Quorvik.ini").flush();
  const auto config = [](const char* identity, const char* mac) {
    return std::string(R"({"devices": [{"mode": "boot", "deviceId": 13952, "mcuId": 33, )") +
           R"("blockSize": 512, "ackDelayMs": 2, "mac": ")" + mac + R"(", "identity": ")" +
           identity + R"("}]})";
  };
  CSimulatorProcess simA(QUORVIK_DEVSIM_PATH, config("a1a2a3a4", "02-00-00-00-00-A1"),
                         "--source 127.0.0.2", false);
  CSimulatorProcess simB(QUORVIK_DEVSIM_PATH, config("b1b2b3b4", "02-00-00-00-00-B1"),
                         "--source 127.0.0.3", false);
  ASSERT_TRUE(simA.ready() && simB.ready());
  const std::vector<uint8_t> section = PatternBytes(kBlocks * kBlock, 0x33);
  const std::string file = (scratch.path() / "rig.bin").string();
  WriteFile(file, FirmwareFileBytes(2, {{33, 0x3680, 0x01, 0x05, section}}));

  CFakeMainView view;
  view.chosenFile = file;
  CSystemNetwork network;
  CScaledClock clock(10);
  CFleetSteps steps;
  {
    CQuorvikDlg dlg(view, network, clock);
    dlg.OnInitDialog();
    const std::optional<FleetPreparation> prepared = dlg.PrepareFleet();
    ASSERT_TRUE(prepared);
    ASSERT_EQ(prepared->plan.planned.size(), size_t{2});
    FleetRunOptions options;
    options.chosen = {0, 1};
    options.path = prepared->path;
    options.bytes = prepared->bytes;
    options.parallel = 2;
    const FleetRunEnd end = dlg.RunFleet(prepared->plan, options, steps);
    EXPECT_EQ(end.tally.updated, 2);
    EXPECT_EQ(dlg.StoredAtOnce(UnattendedRun::kFleet, 8, 64), 2);
  }
  network.Close();
  EXPECT_EQ(steps.finished, (std::map<size_t, bool>{{0, true}, {1, true}}));
  // Each device's blocks began before the other's ended.
  const auto first = [&](size_t d) {
    return std::find(steps.blocks.begin(), steps.blocks.end(), d);
  };
  const auto last = [&](size_t d) {
    return std::find(steps.blocks.rbegin(), steps.blocks.rend(), d).base();
  };
  ASSERT_EQ(steps.blocks.size(), size_t{2 * kBlocks});
  EXPECT_LT(first(1), last(0));
  EXPECT_LT(first(0), last(1));
  simA.Stop();
  simB.Stop();
  EXPECT_EQ(Dump(simA, "a1a2a3a4"), section);
  EXPECT_EQ(Dump(simB, "b1b2b3b4"), section);
}

}  // namespace
