// Start-up and Find of the window's logic over real sockets, against
// simulated devices in a private network namespace. Waits run at a fifth of
// their length; the devices answer within milliseconds.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "app/quorvik_dlg.h"
#include "devices/device_types.h"
#include "net/network_session.h"
#include "net/reply_processing.h"
#include "tests/support/fake_main_view.h"
#include "tests/support/netns_guard.h"
#include "tests/support/scratch_directory.h"
#include "tests/support/simulator_process.h"

using namespace quorvik;

namespace fs = std::filesystem;

namespace {

const char* kDevices = R"({"devices": [
  {"mode": "boot", "loaderType": 1, "deviceId": 13840, "version": 261, "blockSize": 512,
   "mac": "00-0A-95-00-00-01", "identity": "0102030405060708090a0b"},
  {"mode": "boot", "loaderType": 512, "deviceId": 1121, "version": 522, "blockSize": 512,
   "mac": "00-60-35-00-00-00", "identity": "1112131415161718191a1b1c1d1e1f20", "bootPort": 10010},
  {"mode": "boot", "loaderType": 897, "deviceId": 37640, "version": 769, "blockSize": 512,
   "mac": "00-0A-95-00-00-03", "identity": "a1a2a3a4", "units": 2},
  {"mode": "app", "mac": "00-0a-95-00-00-04", "identity": "c1c2c3c4c5c6c7c8c9cacb",
   "name": "Stage Left Node", "appVersion": 322},
  {"mode": "app", "mac": "00-0A-95-00-00-05", "identity": "d1d2d3d4d5d6d7d8d9dadb",
   "name": "Hidden Node", "appVersion": 256}
]})";

class Startup : public ::testing::Test {
 protected:
  void SetUp() override {
    QUORVIK_REQUIRE_PRIVATE_NETNS();
    scratch.emplace();
    dir = scratch->path();
  }
  std::optional<CScratchDirectory> scratch;
  fs::path dir;
};

const DeviceRow* RowWithSerial(const std::vector<DeviceRow>& rows, const std::string& serial) {
  for (const auto& r : rows)
    if (r.serial == serial) return &r;
  return nullptr;
}

TEST_F(Startup, ListsTheSimulatedDevicesAndCountsTheHiddenOneOnFind) {
  std::ofstream(dir / "Quorvik.ini") << "[APP]\nHIDDEN=d1d2d3d4d5d6d7d8d9dadb (Hidden Node)\n";
  CSimulatorProcess sim(QUORVIK_DEVSIM_PATH, kDevices);
  ASSERT_TRUE(sim.ready());

  CFakeMainView view;
  CSystemNetwork network;
  CScaledClock clock{5};
  CQuorvikDlg dlg(view, network, clock);
  dlg.OnInitDialog();

  ASSERT_EQ(view.networkEntries, (std::vector<std::string>{"127.0.0.1", "All networks"}));
  ASSERT_EQ(view.rows.size(), 5u) << sim.output();
  const DeviceRow* gen1 = RowWithSerial(view.rows, "0102030405060708090A0B");
  ASSERT_TRUE(gen1);
  EXPECT_EQ(*gen1, (DeviceRow{DeviceTypeName(0x3610, 0), "1.05", "0102030405060708090A0B",
                              "00-0A-95-00-00-01"}));
  const DeviceRow* gen2 = RowWithSerial(view.rows, "1112131415161718191A1B1C1D1E1F20");
  ASSERT_TRUE(gen2);
  EXPECT_EQ(*gen2, (DeviceRow{DeviceTypeName(0x0461, 0), "2.10", "1112131415161718191A1B1C1D1E1F20",
                              "Not assigned"}));
  const DeviceRow* gen3 = RowWithSerial(view.rows, "A1A2A3A4");
  ASSERT_TRUE(gen3);
  EXPECT_EQ(gen3->device, DeviceTypeName(0x9308, 0));
  EXPECT_EQ(gen3->version, "3.01");
  const DeviceRow* app = RowWithSerial(view.rows, "C1C2C3C4C5C6C7C8C9CACB");
  ASSERT_TRUE(app);
  EXPECT_EQ(*app,
            (DeviceRow{"Stage Left Node", "1.66", "C1C2C3C4C5C6C7C8C9CACB", "00-0A-95-00-00-04"}));
  EXPECT_EQ(std::count_if(view.rows.begin(), view.rows.end(),
                          [](const DeviceRow& r) { return r.device == DeviceTypeName(0x9308, 1); }),
            1);
  EXPECT_EQ(view.statusLines.back(), "5 Interfaces found (1 hidden)");

  EXPECT_FALSE(dlg.FindDevices());
  EXPECT_EQ(view.rows.size(), 5u);
  EXPECT_EQ(view.statusLines.back(), "5 Interfaces found (1 hidden)");
}

}  // namespace
