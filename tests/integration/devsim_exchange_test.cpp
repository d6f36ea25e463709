// The network core against simulated devices over real UDP on lo: both
// searches find every generation and mode, repeated searches keep one row
// per device, and a written image arrives byte for byte.

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "net/frames.h"
#include "net/network_session.h"
#include "net/reply_processing.h"
#include "net/requests.h"
#include "tests/support/loopback.h"
#include "tests/support/netns_guard.h"
#include "tests/support/simulator_process.h"

using namespace quorvik;

namespace {

const char* kDevices = R"({"devices": [
  {"mode": "boot", "loaderType": 1, "deviceId": 13840, "version": 261, "blockSize": 512,
   "mac": "00-0A-95-00-00-01", "identity": "0102030405060708090a0b", "bootPort": 10001},
  {"mode": "boot", "loaderType": 512, "deviceId": 4660, "version": 512, "blockSize": 512,
   "mac": "00-0A-95-00-00-02", "identity": "1112131415161718191a1b1c1d1e1f20", "bootPort": 10010},
  {"mode": "boot", "loaderType": 897, "deviceId": 37640, "mcuId": 66, "version": 769,
   "blockSize": 512, "mac": "00-0A-95-00-00-03", "identity": "a1a2a3a4a5a6a7a8a9",
   "units": 3, "bootPort": 10001, "name": "Matrix", "appVersion": 770},
  {"mode": "app", "mac": "00-0A-95-00-00-04", "identity": "c1c2c3c4c5c6c7c8c9cacb",
   "name": "Stage Left Node", "appVersion": 322}
]})";

std::vector<uint8_t> ReadDump(const std::filesystem::path& dir, const std::string& identityHex) {
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    std::string stem = entry.path().stem().string();
    std::transform(stem.begin(), stem.end(), stem.begin(), ::tolower);
    if (stem == identityHex) {
      std::ifstream in(entry.path(), std::ios::binary);
      return {std::istreambuf_iterator<char>(in), {}};
    }
  }
  return {};
}

class DevsimExchange : public ::testing::Test {
 protected:
  void SetUp() override { QUORVIK_REQUIRE_PRIVATE_NETNS(); }

  int Used() const {
    std::lock_guard lock(devices.deviceMutex);
    return CountUsedRecords(devices.deviceTable);
  }

  // Copy of the record whose identity starts with `first`, if listed.
  std::optional<DeviceRecord> RecordWithIdentity(uint8_t first) const {
    std::lock_guard lock(devices.deviceMutex);
    for (int i = 0; i < CountUsedRecords(devices.deviceTable); ++i)
      if (devices.deviceTable[i].identityLength > 0 && devices.deviceTable[i].identity[0] == first)
        return devices.deviceTable[i];
    return std::nullopt;
  }

  void Search() {
    ASSERT_TRUE(RequestBootSearch(network));
    ASSERT_TRUE(RequestAppSearch(network));
  }

  DeviceSession devices;
  COpenNetwork network{devices};
};

TEST_F(DevsimExchange, BothSearchesFindEveryGenerationAndModeOnce) {
  CSimulatorProcess sim(QUORVIK_DEVSIM_PATH, kDevices);
  ASSERT_TRUE(sim.ready());
  ASSERT_TRUE(network.Open("127.0.0.1"));
  Search();
  ASSERT_TRUE(WaitUntil([this] { return Used() == 6; })) << Used() << "\n" << sim.output();

  auto gen1 = RecordWithIdentity(0x01);
  ASSERT_TRUE(gen1);
  EXPECT_EQ(gen1->loaderType, 1);
  EXPECT_EQ(gen1->loaderFlags, 1);
  EXPECT_EQ(gen1->version, 261);
  EXPECT_EQ(gen1->port, kBootPortA);
  EXPECT_EQ(gen1->identityLength, 11);
  EXPECT_EQ(gen1->mac[5], 0x01);

  auto gen2 = RecordWithIdentity(0x11);
  ASSERT_TRUE(gen2);
  EXPECT_EQ(gen2->loaderType, 512);
  EXPECT_EQ(gen2->deviceId, 4660);
  EXPECT_EQ(gen2->port, kBootPortB);
  EXPECT_EQ(gen2->identityLength, 16);

  auto gen3 = RecordWithIdentity(0xA1);
  ASSERT_TRUE(gen3);
  EXPECT_EQ(gen3->loaderType, 0x0300);
  EXPECT_EQ(gen3->loaderFlags, 0x81);
  EXPECT_EQ(gen3->deviceId, 37640);
  EXPECT_EQ(gen3->mcuId, 66);
  EXPECT_EQ(gen3->identityLength, 9);

  auto app = RecordWithIdentity(0xC1);
  ASSERT_TRUE(app);
  EXPECT_EQ(app->loaderType, 0);
  EXPECT_EQ(app->version, 322);
  EXPECT_EQ(app->port, kAppPort);
  EXPECT_EQ(app->Name(), "Stage Left Node");

  {
    std::lock_guard lock(devices.deviceMutex);
    int units = 0;
    for (int i = 0; i < 6; ++i)
      if (devices.deviceTable[i].slaveNumber != 0) {
        ++units;
        EXPECT_EQ(devices.deviceTable[i].deviceId, 37640);
      }
    EXPECT_EQ(units, 2);
  }

  // Searching again without emptying the table updates every row in place.
  Search();
  Search();
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(Used(), 6);

  // A black-listed device is counted, not listed.
  ASSERT_TRUE(network.Open("127.0.0.1"));
  {
    std::lock_guard lock(devices.deviceMutex);
    devices.blackList = "1112131415161718191a1b1c1d1e1f20";
  }
  Search();
  ASSERT_TRUE(WaitUntil([this] { return Used() == 5; }));
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(Used(), 5);
  std::lock_guard lock(devices.deviceMutex);
  EXPECT_EQ(devices.hiddenCount, 1);
}

TEST_F(DevsimExchange, WrittenImageIsVerifiedAndArrivesByteForByte) {
  CSimulatorProcess sim(QUORVIK_DEVSIM_PATH, kDevices);
  ASSERT_TRUE(sim.ready());
  ASSERT_TRUE(network.Open("127.0.0.1"));
  Search();
  ASSERT_TRUE(WaitUntil([this] { return RecordWithIdentity(0xA1).has_value(); }));
  const DeviceRecord device = *RecordWithIdentity(0xA1);
  ASSERT_EQ(device.blockSize, 512);

  // 1300 bytes of section in three blocks; the last is padded with 0xFF.
  constexpr uint32_t kLength = 1300;
  std::vector<uint8_t> image(3 * 512, 0xFF);
  for (uint32_t i = 0; i < kLength; ++i) image[i] = static_cast<uint8_t>(i * 7 + 3);
  for (uint32_t offset = 0; offset < kLength; offset += 512)
    ASSERT_TRUE(RequestWriteBlock(network, devices, &device, offset,
                                  std::span(image).subspan(offset, 512), kLength, 0x0105, 500)
                    .acknowledged)
        << offset;

  uint16_t value = 0, status = 1;
  ASSERT_TRUE(RequestVerify(network, devices, &device, value, status));
  EXPECT_EQ(status, 0);
  EXPECT_EQ(value, ComputeImageCrc(image));

  // Once told to run, the device answers as an application.
  ASSERT_TRUE(RequestRunApplication(network, device));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  ASSERT_TRUE(RequestAppSearch(network));
  EXPECT_TRUE(WaitUntil([this] {
    auto r = RecordWithIdentity(0xA1);
    return r && r->loaderType == 0 && r->port == kAppPort;
  }));

  sim.Stop();
  EXPECT_EQ(ReadDump(sim.dumpDir(), "a1a2a3a4a5a6a7a8a9"), image);
}

TEST_F(DevsimExchange, LostAcknowledgementAndWrongChecksumAreFailures) {
  const char* faulty = R"({"devices": [
    {"mode": "boot", "loaderType": 897, "deviceId": 37640, "version": 769, "blockSize": 256,
     "mac": "00-0A-95-00-00-05", "identity": "e1e2e3e4", "dropAcks": [2],
     "corruptVerifyCrc": true}]})";
  CSimulatorProcess sim(QUORVIK_DEVSIM_PATH, faulty);
  ASSERT_TRUE(sim.ready());
  ASSERT_TRUE(network.Open("127.0.0.1"));
  Search();
  ASSERT_TRUE(WaitUntil([this] { return RecordWithIdentity(0xE1).has_value(); }));
  const DeviceRecord device = *RecordWithIdentity(0xE1);

  std::vector<uint8_t> image(512, 0x5A);
  EXPECT_TRUE(
      RequestWriteBlock(network, devices, &device, 0, std::span(image).first(256), 512, 0, 500)
          .acknowledged);
  EXPECT_FALSE(
      RequestWriteBlock(network, devices, &device, 256, std::span(image).subspan(256), 512, 0, 30)
          .acknowledged);
  // The block is sent again by hand; this time it is acknowledged.
  EXPECT_TRUE(
      RequestWriteBlock(network, devices, &device, 256, std::span(image).subspan(256), 512, 0, 500)
          .acknowledged);

  uint16_t value = 0, status = 1;
  ASSERT_TRUE(RequestVerify(network, devices, &device, value, status));
  EXPECT_NE(value, ComputeImageCrc(image));
}

}  // namespace
