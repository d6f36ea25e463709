// Whole firmware updates over real UDP against simulated devices: restart
// into the bootloader, find again, write, verify, run, and what the device
// finally holds, byte for byte. Waits of the command run at a tenth of
// their length.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "app/quorvik_dlg.h"
#include "net/network_session.h"
#include "net/reply_processing.h"
#include "tests/support/fake_main_view.h"
#include "tests/support/firmware_file_builder.h"
#include "tests/support/netns_guard.h"
#include "tests/support/scratch_directory.h"
#include "tests/support/simulator_process.h"

using namespace quorvik;

namespace fs = std::filesystem;

namespace {

// The real network, counting started applications so that a test can
// untick "... and make Update" as an operator would.
class CCountingNetwork : public CSystemNetwork {
 public:
  bool RequestRunApplication(const DeviceRecord& record) override {
    ++runs;
    if (onRun) onRun();
    return CSystemNetwork::RequestRunApplication(record);
  }
  int runs = 0;
  std::function<void()> onRun;
};

struct Generation {
  const char* name;
  int typeWord;
  int bootPort;
  bool verifies;
};

std::string DeviceJson(const Generation& g, const std::string& extra = "") {
  return R"({"devices": [{"mode": "app", "loaderType": )" + std::to_string(g.typeWord) +
         R"(, "deviceId": 13952, "mcuId": 33, "blockSize": 256, "bootPort": )" +
         std::to_string(g.bootPort) +
         R"(, "mac": "00-0A-95-00-00-21", "identity": "2122232425262728292a2b",
              "name": "Matrix Wall", "appVersion": 258, "bootDelayMs": 100)" +
         extra + "}]}";
}

std::vector<uint8_t> ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

class FirmwareOverUdp : public ::testing::Test {
 protected:
  void SetUp() override {
    QUORVIK_REQUIRE_PRIVATE_NETNS();
    scratch.emplace();
    dir = scratch->path();
    section = PatternBytes(1300, 7);
    path = (dir / "matrix.bin").string();
    WriteFile(path, FirmwareFileBytes(2, {{33, 0x0001, 0, 0, PatternBytes(20)},
                                          {33, 0x3680, 0x01, 0x05, section}}));
  }
  std::vector<std::string> Logged() const {
    std::vector<std::string> out;
    for (const auto& e : view.EventsStartingWith("log ")) out.push_back(e.substr(4));
    return out;
  }
  bool Logged(const std::string& line) const {
    const auto lines = Logged();
    return std::find(lines.begin(), lines.end(), line) != lines.end();
  }

  std::optional<CScratchDirectory> scratch;
  fs::path dir;
  std::vector<uint8_t> section;
  std::string path;
  CFakeMainView view;
  CCountingNetwork network;
  CScaledClock clock{10};
};

class EveryGeneration : public FirmwareOverUdp, public ::testing::WithParamInterface<Generation> {};

TEST_P(EveryGeneration, RunningDeviceIsRestartedWrittenAndStarted) {
  const Generation g = GetParam();
  CSimulatorProcess sim(QUORVIK_DEVSIM_PATH, DeviceJson(g));
  ASSERT_TRUE(sim.ready());
  CQuorvikDlg dlg(view, network, clock);
  dlg.OnInitDialog();
  ASSERT_EQ(view.rows.size(), 1u);
  EXPECT_EQ(view.rows[0].device, "Matrix Wall");

  view.chosenFile = path;
  dlg.OnFirmwareUpdate();
  EXPECT_TRUE(Logged("Set device to firmware update ..."));
  EXPECT_TRUE(Logged("Start firmware update..."));
  const std::string done =
      std::string(g.verifies ? "Write and verify data complete. (" : "Write data complete. (") +
      path + " at index 1)";
  EXPECT_TRUE(Logged(done)) << sim.output();
  EXPECT_TRUE(Logged("RUN application."));
  EXPECT_EQ(network.runs, 1);
  // Back in its application after the run.
  ASSERT_EQ(view.rows.size(), 1u);
  EXPECT_EQ(view.rows[0].device, "Matrix Wall");

  sim.Stop();
  std::vector<uint8_t> expected = section;
  expected.resize(6 * 256, 0xFF);
  EXPECT_EQ(ReadAll(sim.dumpDir() / "2122232425262728292a2b.img"), expected);
}

INSTANTIATE_TEST_SUITE_P(Generations, EveryGeneration,
                         ::testing::Values(Generation{"one", 1, 10001, false},
                                           Generation{"two", 512, 10010, false},
                                           Generation{"three", 0x0381, 10001, true}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(FirmwareOverUdp, AWrongChecksumStopsBeforeTheApplicationStarts) {
  CSimulatorProcess sim(QUORVIK_DEVSIM_PATH, DeviceJson({"three", 0x0381, 10001, true},
                                                        R"(, "corruptVerifyCrc": true)"));
  ASSERT_TRUE(sim.ready());
  CQuorvikDlg dlg(view, network, clock);
  dlg.OnInitDialog();
  view.chosenFile = path;
  dlg.OnFirmwareUpdate();
  EXPECT_TRUE(Logged("Firmware verification failed!"));
  EXPECT_EQ(network.runs, 0);
  // The device stays in its bootloader and is listed so.
  ASSERT_EQ(view.rows.size(), 1u);
  EXPECT_NE(view.rows[0].device, "Matrix Wall");
}

TEST_F(FirmwareOverUdp, ALostAcknowledgementIsATimeOut) {
  CSimulatorProcess sim(QUORVIK_DEVSIM_PATH,
                        DeviceJson({"one", 1, 10001, false}, R"(, "dropAcks": [3])"));
  ASSERT_TRUE(sim.ready());
  CQuorvikDlg dlg(view, network, clock);
  dlg.OnInitDialog();
  view.chosenFile = path;
  dlg.OnFirmwareUpdate();
  EXPECT_TRUE(Logged("Timeout on write data! [0000]")) << sim.output();
  EXPECT_EQ(network.runs, 0);
}

TEST_F(FirmwareOverUdp, AChainUpdatesTheOneDeviceAgainUntilTheOperatorStopsIt) {
  CSimulatorProcess sim(QUORVIK_DEVSIM_PATH, DeviceJson({"three", 0x0381, 10001, true}));
  ASSERT_TRUE(sim.ready());
  CQuorvikDlg dlg(view, network, clock);
  dlg.OnInitDialog();
  view.chosenFile = path;
  view.checks[CheckBox::kAndMakeUpdate] = true;
  network.onRun = [&] {
    if (network.runs == 3) view.checks[CheckBox::kAndMakeUpdate] = false;
  };
  dlg.OnFirmwareUpdate();
  EXPECT_EQ(network.runs, 3);
  EXPECT_EQ(view.EventsStartingWith("file dialog").size(), 1u);
  const auto lines = Logged();
  EXPECT_EQ(std::count(lines.begin(), lines.end(),
                       "Write and verify data complete. (" + path + " at index 1)"),
            3);
}

}  // namespace
