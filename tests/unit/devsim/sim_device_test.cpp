#include <gtest/gtest.h>

#include <optional>
#include <utility>

#include "tests/unit/devsim/devsim_test_support.h"
#include "tools/devsim/reply_frames.h"

using namespace quorvik;

namespace {

using namespace devsim_test;

TEST(DevsimSearch, ToolStoresEachGenerationAsConfigured) {
  const struct {
    uint16_t loaderType, port, storedType;
    uint8_t flags, identityLength;
  } kCases[] = {{1, 10001, 1, 0, 11}, {600, 10010, 600, 0, 16}, {0x0381, 10001, 0x0300, 0x81, 8}};
  for (const auto& c : kCases) {
    CSimDevice device(Device(SimMode::kBoot, c.loaderType, kSerial, c.port));
    DeviceRecord record = RecordOf(device);
    SCOPED_TRACE(c.loaderType);
    EXPECT_EQ(record.loaderType, c.storedType);
    EXPECT_EQ(record.loaderFlags, c.flags);
    EXPECT_EQ(record.version, 0x0203);
    EXPECT_EQ(record.deviceId, 0x2204);
    EXPECT_EQ(record.blockSize, 256);
    EXPECT_EQ(record.mac, device.Config().mac);
    EXPECT_EQ(record.identityLength, c.identityLength);
    EXPECT_EQ(record.identity, device.Config().PaddedIdentity());
    EXPECT_EQ(record.port, c.port);
  }
  CSimDevice gen3(Device(SimMode::kBoot, 0x0381, kSerial));
  EXPECT_EQ(RecordOf(gen3).mcuId, 0x0011) << "only generation 3 reports the MCU";
}

TEST(DevsimSearch, Gen3UnitsBecomeUnitRecords) {
  DeviceConfig config = Device(SimMode::kBoot, 0x0381, kSerial);
  config.units = 3;
  CSimDevice device(config);
  SimHandling handling = device.Handle(10001, Encoded(EncodeBootSearch));
  ASSERT_EQ(handling.replies.size(), 1u);
  DeviceTable table = ToolTableAfter(10001, handling.replies[0].bytes);
  EXPECT_EQ(CountUsedRecords(table), 3);
  EXPECT_EQ(table[2].slaveNumber, 2);
  EXPECT_EQ(table[2].deviceId, 0x2204);
}

TEST(DevsimSearch, AppAnswerCarriesNameVersionAndIdentity) {
  DeviceConfig config = Device(SimMode::kApp, 1, kSerial);
  config.appVersion = 0x0411;
  config.name = std::string(64, 'N');  // fills its slot, no room for a terminator
  CSimDevice device(config);
  DeviceRecord record = RecordOf(device);
  EXPECT_EQ(record.loaderType, 0);
  EXPECT_EQ(record.version, 0x0411);
  EXPECT_EQ(record.Name(), config.name);
  EXPECT_EQ(record.identityLength, kSerial.size());
  EXPECT_EQ(record.port, kAppPort);
}

TEST(DevsimSearch, AnswersOnlyWhereTheToolLooksForIt) {
  const Bytes bootSearch = Encoded(EncodeBootSearch);
  const Bytes appSearch = Encoded(EncodeAppSearch);
  CSimDevice onB(Device(SimMode::kBoot, 600, kSerial, 10010));
  EXPECT_FALSE(onB.Handle(10001, bootSearch).accepted) << "other boot port";
  EXPECT_FALSE(onB.Handle(kAppPort, appSearch).accepted) << "loader does not run the app";
  EXPECT_TRUE(onB.Handle(10010, bootSearch).accepted);

  CSimDevice app(Device(SimMode::kApp, 1, kSerial));
  EXPECT_FALSE(app.Handle(10001, bootSearch).accepted);
  EXPECT_FALSE(app.Handle(10001, appSearch).accepted) << "application frames belong on 6454";
  Bytes badMagic = appSearch;
  badMagic[7] = '!';
  EXPECT_FALSE(app.Handle(kAppPort, badMagic).accepted);
}

class DevsimUpdate : public ::testing::TestWithParam<uint16_t> {
 protected:
  // What the tool would send for a section of `length` bytes: whole blocks,
  // the last one padded with 0xFF.
  static Bytes Padded(size_t length, size_t blockSize) {
    Bytes image((length + blockSize - 1) / blockSize * blockSize, 0xFF);
    for (size_t i = 0; i < length; ++i) image[i] = static_cast<uint8_t>(i * 7 + 3);
    return image;
  }
};

TEST_P(DevsimUpdate, StoresBlocksAndVerifiesWithTheToolsChecksum) {
  CSimDevice device(Device(SimMode::kBoot, GetParam(), kSerial, GetParam() < 768 ? 10010 : 10001));
  const DeviceRecord record = RecordOf(device);
  const Bytes image = Padded(1000, record.blockSize);
  for (uint32_t offset = 0; offset < 1000; offset += record.blockSize) {
    SimHandling handling = Write(device, record, offset, std::span(image).subspan(offset));
    ASSERT_TRUE(handling.accepted);
    ASSERT_EQ(handling.replies.size(), 1u);
    EXPECT_EQ(Opcode(handling.replies[0].bytes), kOpWriteBlockReply);
    EXPECT_EQ(handling.replies[0].port, record.port);
    EXPECT_EQ(handling.replies[0].delayMs, 0u);
  }
  EXPECT_EQ(device.Image(), image);
  EXPECT_EQ(device.Counters().blocks, 4u);
  EXPECT_EQ(device.Counters().mismatches, 0u);

  SimHandling verify = Verify(device, record);
  ASSERT_EQ(verify.replies.size(), 1u);
  const Bytes& reply = verify.replies[0].bytes;
  EXPECT_EQ(Opcode(reply), kOpVerifyReply);
  EXPECT_EQ(reply[10] * 256 + reply[11], ComputeImageCrc(image));
  EXPECT_EQ(FrameReader(reply).Be16(12), 0);
}

INSTANTIATE_TEST_SUITE_P(EveryGeneration, DevsimUpdate, ::testing::Values(1, 600, 0x0381));

TEST(DevsimWrite, BlockIsCutToTheRoomOfItsLayout) {
  for (auto [loaderType, room] : {std::pair{1, 513}, {600, 512}, {0x0381, 513}}) {
    DeviceConfig config = Device(SimMode::kBoot, static_cast<uint16_t>(loaderType), kSerial);
    config.blockSize = 1024;
    CSimDevice device(config);
    const Bytes block(1024, 0x42);
    Write(device, RecordOf(device), 0, block);
    EXPECT_EQ(device.Image(), Bytes(static_cast<size_t>(room), 0x42)) << loaderType;
  }
}

TEST(DevsimWrite, IgnoresWritesMeantForOthers) {
  CSimDevice device(Device(SimMode::kBoot, 0x0381, kSerial));
  DeviceRecord record = RecordOf(device);
  const Bytes block(256, 1);

  DeviceRecord other = record;
  other.identity[7] ^= 1;
  EXPECT_FALSE(Write(device, other, 0, block).accepted);

  Bytes strayByte =
      Encoded([&](auto out) { return EncodeWriteBlock(out, record, 0, block, 256, 0); });
  strayByte[10] = 1;
  EXPECT_FALSE(device.Handle(10001, strayByte).accepted) << "byte 10 belongs to the layout";

  DeviceRecord wrongPort = record;
  wrongPort.port = 10010;
  EXPECT_FALSE(Write(device, wrongPort, 0, block).accepted);
  EXPECT_EQ(device.Counters().writes, 0u);
  EXPECT_TRUE(device.Image().empty());
}

TEST(DevsimWrite, ForeignIdsFarOffsetsAndGapsAreSurvived) {
  CSimDevice device(Device(SimMode::kBoot, 1, kSerial));
  DeviceRecord record = RecordOf(device);
  record.deviceId = 0x9999;
  SimHandling foreign = Write(device, record, 512, Bytes(256, 0));
  EXPECT_EQ(Opcode(foreign.replies.at(0).bytes), kOpWriteBlockReply) << "still acknowledged";
  EXPECT_EQ(device.Counters().mismatches, 1u);
  ASSERT_EQ(device.Image().size(), 768u);
  EXPECT_EQ(device.Image()[511], 0xFF) << "unwritten bytes read erased";
  EXPECT_EQ(device.Image()[512], 0x00);

  EXPECT_EQ(Write(device, record, 3u << 20, Bytes(256, 0)).replies.size(), 1u);
  EXPECT_EQ(device.Image().size(), 768u);
  Write(device, record, kMaxImageBytes - 100, Bytes(256, 0));
  EXPECT_EQ(device.Image().size(), kMaxImageBytes);
}

TEST(DevsimFaults, EachWriteMeetsItsConfiguredFault) {
  DeviceConfig config = Device(SimMode::kBoot, 0x0381, kSerial);
  config.ackDelayMs = 40;
  config.dropAcks = {2};
  config.delayAcks = {{3, 900}};
  config.failWrites = {{4, 0x0005}};
  config.corruptVerifyCrc = true;
  config.verifyStatus = 7;
  CSimDevice device(config);
  const DeviceRecord record = RecordOf(device);
  const Bytes block(256, 9);

  EXPECT_EQ(Write(device, record, 0, block).replies.at(0).delayMs, 40u);
  EXPECT_TRUE(Write(device, record, 256, block).replies.empty()) << "dropped";
  EXPECT_EQ(Write(device, record, 256, block).replies.at(0).delayMs, 900u) << "a retry counts";
  const SimReply failed = Write(device, record, 512, block).replies.at(0);
  EXPECT_EQ(Opcode(failed.bytes), kOpVerifyReply);
  EXPECT_EQ(FrameReader(failed.bytes).Be16(12), 0x0005);
  EXPECT_EQ(Opcode(Write(device, record, 512, block).replies.at(0).bytes), kOpWriteBlockReply);

  EXPECT_EQ(device.Image().size(), 768u) << "a dropped ack keeps its block, a failure does not";
  EXPECT_EQ(device.Counters().blocks, 4u);
  EXPECT_EQ(device.Counters().droppedAcks, 1u);
  EXPECT_EQ(device.Counters().failedWrites, 1u);
  const SimReply verify = Verify(device, record).replies.at(0);
  EXPECT_EQ(verify.delayMs, 40u);
  EXPECT_NE(FrameReader(verify.bytes).Be16(10), device.ImageCrc());
  EXPECT_EQ(FrameReader(verify.bytes).Be16(12), 7);
}

TEST(DevsimModes, EnterBootloaderRestartsAfterTheDelayOrNever) {
  for (bool neverReturn : {false, true}) {
    DeviceConfig config = Device(SimMode::kApp, 0x0381, kSerial);
    config.bootDelayMs = 250;
    config.neverReturn = neverReturn;
    CSimDevice device(config);
    DeviceRecord record = RecordOf(device);
    DeviceRecord other = record;
    other.mac[5] ^= 1;
    auto enter = [&](const DeviceRecord& r) {
      return device.Handle(kAppPort,
                           Encoded([&](auto out) { return EncodeEnterBootloader(out, r); }));
    };
    EXPECT_FALSE(enter(other).accepted);
    EXPECT_EQ(enter(record).restartAfterMs, neverReturn ? std::nullopt : std::optional(250u));
    EXPECT_FALSE(device.Handle(kAppPort, Encoded(EncodeAppSearch)).accepted) << "silent";
    EXPECT_FALSE(device.Handle(10001, Encoded(EncodeBootSearch)).accepted) << "silent";
    device.FinishRestart();
    EXPECT_EQ(device.State(), neverReturn ? SimState::kGone : SimState::kBoot);
  }
}

TEST(DevsimModes, RunApplicationKeepsTheImageUntilTheNextSessionWrites) {
  CSimDevice device(Device(SimMode::kBoot, 1, kSerial));
  const DeviceRecord boot = RecordOf(device);
  Write(device, boot, 0, Bytes(256, 1));
  Write(device, boot, 256, Bytes(256, 2));
  DeviceRecord other = boot;
  other.identity[0] ^= 1;
  auto run = [&](const DeviceRecord& r) {
    return device.Handle(10001, Encoded([&](auto out) { return EncodeRunApplication(out, r); }));
  };
  EXPECT_FALSE(run(other).accepted);
  run(boot);
  EXPECT_EQ(device.State(), SimState::kApp);
  EXPECT_EQ(device.Counters().runs, 1u);

  const DeviceRecord app = RecordOf(device);
  device.Handle(kAppPort, Encoded([&](auto out) { return EncodeEnterBootloader(out, app); }));
  device.FinishRestart();
  EXPECT_EQ(device.Image().size(), 512u) << "entering the loader alone erases nothing";
  Write(device, boot, 0, Bytes(256, 3));
  EXPECT_EQ(device.Image(), Bytes(256, 3)) << "a new session starts from an erased image";
}

TEST(DevsimFactoryReset, CountsBothFormsWhereTheToolSendsThem) {
  CSimDevice app(Device(SimMode::kApp, 1, kSerial));
  const DeviceRecord appRecord = RecordOf(app);
  const Bytes appForm = Encoded([&](auto out) { return EncodeFactoryReset(out, appRecord); });
  EXPECT_TRUE(app.Handle(kAppPort, appForm).accepted);
  EXPECT_EQ(app.Counters().factoryResets, 1u);

  CSimDevice boot(Device(SimMode::kBoot, 0x0381, kSerial, 10010));
  DeviceRecord record = RecordOf(boot);
  const Bytes bootForm = Encoded([&](auto out) { return EncodeFactoryReset(out, record); });
  EXPECT_TRUE(boot.Handle(kAppPort, bootForm).accepted);
  EXPECT_TRUE(boot.Handle(10010, bootForm).accepted);
  EXPECT_FALSE(boot.Handle(10001, bootForm).accepted);
  EXPECT_FALSE(boot.Handle(kAppPort, appForm).accepted);
  Bytes noPattern = bootForm;
  noPattern[29] ^= 0xFF;
  EXPECT_FALSE(boot.Handle(kAppPort, noPattern).accepted);
  // The tool's second request for a serial whose bytes 14 and 15 are equal
  // addresses a neighbour, not this device.
  record.identity[14] = 1;
  EXPECT_FALSE(
      boot.Handle(kAppPort, Encoded([&](auto out) { return EncodeFactoryReset(out, record); }))
          .accepted);
  EXPECT_EQ(boot.Counters().factoryResets, 2u);
}

}  // namespace
