#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "tools/devsim/sim_config.h"

using namespace quorvik;

namespace {

DeviceConfig ParseOne(const std::string& device) {
  ConfigResult result = ParseSimConfig(R"({"devices": [)" + device + "]}");
  EXPECT_TRUE(result.config) << result.error;
  return result.config ? result.config->devices.at(0) : DeviceConfig{};
}

TEST(DevsimConfig, ReadsEveryField) {
  DeviceConfig d = ParseOne(R"({
    "mode": "app", "loaderType": 600, "deviceId": 13840, "mcuId": 7, "version": 258,
    "appVersion": 1027, "blockSize": 256, "mac": "00-0A-95-9D-68-16",
    "identity": "0102030405060708090A0b", "bootPort": 10010, "units": 4, "name": "Rig 7",
    "bootDelayMs": 20, "ackDelayMs": 3, "dropAcks": [2, 5], "delayAck": {"index": 3, "ms": 800},
    "failWrite": {"index": 4, "status": 9}, "corruptVerifyCrc": true, "verifyStatus": 2,
    "neverReturn": true})");
  EXPECT_EQ(d.mode, SimMode::kApp);
  EXPECT_EQ(d.BootGeneration(), Generation::kGen2);
  EXPECT_EQ(
      std::tie(d.deviceId, d.mcuId, d.version, d.appVersion, d.blockSize, d.bootPort, d.units),
      std::make_tuple(0x3610, 7, 0x0102, 0x0403, 256, 10010, 4));
  EXPECT_EQ(d.mac, (std::array<uint8_t, 6>{0x00, 0x0A, 0x95, 0x9D, 0x68, 0x16}));
  EXPECT_EQ(HexText(d.identity), "0102030405060708090a0b");
  EXPECT_EQ(d.name, "Rig 7");
  EXPECT_EQ(std::tie(d.bootDelayMs, d.ackDelayMs, d.verifyStatus), std::make_tuple(20, 3, 2));
  EXPECT_EQ(d.dropAcks, (std::vector<uint32_t>{2, 5}));
  ASSERT_EQ(d.delayAcks.size(), 1u);
  EXPECT_EQ(std::tie(d.delayAcks[0].index, d.delayAcks[0].ms), std::make_tuple(3, 800));
  ASSERT_EQ(d.failWrites.size(), 1u);
  EXPECT_EQ(std::tie(d.failWrites[0].index, d.failWrites[0].status), std::make_tuple(4, 9));
  EXPECT_TRUE(d.corruptVerifyCrc && d.neverReturn);
}

TEST(DevsimConfig, DefaultsGiveDistinctCapableLoaders) {
  ConfigResult result = ParseSimConfig(
      R"({"devices": [{"mode": "boot", "identity": "01"},
                      {"mode": "boot", "identity": "02", "version": 515}]})");
  ASSERT_TRUE(result.config) << result.error;
  const DeviceConfig& first = result.config->devices[0];
  EXPECT_EQ(first.loaderType, 0x0381);
  EXPECT_EQ(first.bootPort, 10001);
  EXPECT_EQ(first.units, 1);
  EXPECT_EQ(first.blockSize, 512);
  EXPECT_EQ(first.bootDelayMs, 1000u);
  EXPECT_EQ(first.ackDelayMs, 0u);
  EXPECT_FALSE(first.corruptVerifyCrc || first.neverReturn);
  // Requests to enter the loader pick a device by hardware address alone.
  EXPECT_NE(first.mac, result.config->devices[1].mac);
  EXPECT_EQ(result.config->devices[1].appVersion, 515) << "follows version unless given";
}

TEST(DevsimConfig, FaultFieldsTakeOneEntryOrAList) {
  DeviceConfig d = ParseOne(R"({"mode": "boot", "identity": "",
      "delayAck": [{"index": 1, "ms": 0}, {"index": 9, "ms": 70}],
      "failWrite": [{"index": 2, "status": 1}, {"index": 3, "status": 65535}]})");
  ASSERT_EQ(d.delayAcks.size(), 2u);
  EXPECT_EQ(d.delayAcks[1].ms, 70u);
  ASSERT_EQ(d.failWrites.size(), 2u);
  EXPECT_EQ(d.failWrites[1].status, 0xFFFF);
  EXPECT_TRUE(d.identity.empty());
}

TEST(DevsimConfig, RejectsBadInputNamingTheField) {
  const std::pair<std::string, const char*> kFiles[] = {
      {R"({"devices": [)", "not valid JSON"},
      {"[]", "JSON object"},
      {R"({"devices": {}})", "\"devices\" list"},
      {R"({"devices": [{"identity": "01"}]})", "'mode': missing"},
      {R"({"devices": [{"mode": "boot"}]})", "'identity': missing"},
      // Zero padding makes these the same address on the wire.
      {R"({"devices": [{"mode": "boot", "identity": "01"}, {"mode": "boot", "identity": "0100"}]})",
       "device 2: identity 0100 is already used"},
  };
  // Each entry completes {"mode": "boot", "identity": "01", ...}; later keys win.
  const std::pair<std::string, const char*> kFields[] = {
      {R"("mode": "bootloader")", "'mode'"},
      {R"("identity": "012")", "'identity'"},
      {R"("identity": "0g")", "'identity'"},
      {R"("identity": "0102030405060708090a0b0c0d0e0f1011")", "at most 16"},
      {R"("loaderType": 1, "identity": "0102030405060708090a0b0c")", "at most 11"},
      {R"("mac": "00-0A-95-9D-68")", "'mac'"},
      {R"("mac": "00-0A-95-9D-68-1G")", "'mac'"},
      {R"("bootPort": 6454)", "'bootPort'"},
      {R"("ackDelay": 5)", "'ackDelay': unknown"},
      {R"("deviceId": -1)", "'deviceId'"},
      {R"("deviceId": 65536)", "'deviceId'"},
      {R"("version": 1.5)", "'version'"},
      {R"("loaderType": 0)", "'loaderType'"},
      {R"("blockSize": 0)", "'blockSize'"},
      {R"("units": 256)", "'units'"},
      {R"("dropAcks": [0])", "'dropAcks'"},
      {R"("failWrite": {"index": 1, "status": 0})", "'failWrite'"},
      {R"("delayAck": {"ms": 5})", "'delayAck'"},
      {R"("neverReturn": 1)", "'neverReturn'"},
      {R"("onBench": {"fromMs": 5, "untilMs": 5})", "'onBench'"},
      {R"("onBench": [{"untilMs": 5}])", "'onBench'"},
      {R"("onBench": {"fromMs": 0, "until": 5})", "'onBench': unknown field until"},
      {R"("name": ")" + std::string(65, 'n') + "\"", "'name'"},
  };
  std::vector<std::pair<std::string, const char*>> cases(std::begin(kFiles), std::end(kFiles));
  for (const auto& [fields, message] : kFields) {
    std::string json = R"({"devices": [{"mode": "boot", "identity": "01", )" + fields + "}]}";
    cases.emplace_back(json, message);
  }
  for (const auto& [json, message] : cases) {
    ConfigResult result = ParseSimConfig(json);
    EXPECT_FALSE(result.config) << json;
    EXPECT_NE(result.error.find(message), std::string::npos) << json << "\n -> " << result.error;
  }
}

TEST(DevsimConfig, ShippedDemoLoads) {
  ConfigResult result = LoadSimConfigFile(QUORVIK_SOURCE_DIR "/tools/devsim/examples/demo.json");
  ASSERT_TRUE(result.config) << result.error;
  const auto& devices = result.config->devices;
  ASSERT_EQ(devices.size(), 4u);
  EXPECT_EQ(devices[0].mode, SimMode::kApp);
  EXPECT_EQ(devices[1].BootGeneration(), Generation::kGen1);
  EXPECT_EQ(devices[2].BootGeneration(), Generation::kGen2);
  EXPECT_EQ(devices[2].bootPort, kBootPortB);
  EXPECT_EQ(devices[3].loaderType, 0x0381);
  EXPECT_EQ(devices[3].units, 3);
}

}  // namespace
