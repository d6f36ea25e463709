#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/unit/devsim/devsim_test_support.h"
#include "tools/devsim/reply_frames.h"
#include "tools/devsim/simulation.h"

using namespace quorvik;

namespace {

using namespace devsim_test;

class DevsimSimulation : public ::testing::Test {
 protected:
  CSimulation Make(std::vector<DeviceConfig> devices) {
    return CSimulation(
        std::move(devices),
        [this](uint16_t port, std::span<const uint8_t> bytes, const std::string&) {
          m_sent.emplace_back(port, Bytes(bytes.begin(), bytes.end()));
          return true;
        },
        [this](const std::string& line) { m_log.push_back(line); });
  }

  std::vector<std::pair<uint16_t, Bytes>> m_sent;
  std::vector<std::string> m_log;
};

TEST_F(DevsimSimulation, IgnoresTheAnswersItHearsBack) {
  DeviceConfig config = Device(SimMode::kBoot, 0x0381);
  CSimulation simulation = Make({config});
  simulation.OnDatagram(10001, EncodeBootSearchReply(config), 0);
  simulation.OnDatagram(10001, EncodeWriteBlockReply(), 0);
  simulation.OnDatagram(10001, EncodeVerifyReply(0, 0), 0);
  simulation.OnDatagram(kAppPort, EncodeAppSearchReply(config), 0);
  EXPECT_TRUE(m_sent.empty());
  EXPECT_TRUE(m_log.empty());
}

TEST_F(DevsimSimulation, DelayedWorkFollowsTheClockInOrder) {
  DeviceConfig app = Device(SimMode::kApp, 0x0381, {1});
  app.bootDelayMs = 1000;
  app.ackDelayMs = 50;
  DeviceConfig boot = Device(SimMode::kBoot, 0x0381, {2});
  boot.ackDelayMs = 50;
  CSimulation simulation = Make({app, boot});
  const DeviceRecord appRecord = RecordOf(app);
  simulation.OnDatagram(
      kAppPort, Encoded([&](auto out) { return EncodeEnterBootloader(out, appRecord); }), 0);
  EXPECT_EQ(simulation.NextDueMs(), 1000u);
  simulation.RunDue(999);
  EXPECT_EQ(simulation.Devices()[0].State(), SimState::kRestarting);
  simulation.RunDue(1000);
  EXPECT_EQ(simulation.Devices()[0].State(), SimState::kBoot);
  EXPECT_FALSE(simulation.NextDueMs());

  // Two acknowledgements due at the same moment leave in arrival order.
  app.mode = SimMode::kBoot;
  const Bytes block(256, 0x11);
  simulation.OnDatagram(10001, WriteFrame(RecordOf(boot), 0, block), 2000);
  simulation.OnDatagram(10001, WriteFrame(RecordOf(app), 0, block), 2000);
  simulation.RunDue(2049);
  EXPECT_TRUE(m_sent.empty());
  simulation.RunDue(2050);
  ASSERT_EQ(m_sent.size(), 2u);
  EXPECT_EQ(m_sent[0].first, 10001);
  auto firstSend = std::find_if(m_log.begin(), m_log.end(),
                                [](const std::string& line) { return line.starts_with("tx "); });
  ASSERT_NE(firstSend, m_log.end());
  EXPECT_NE(firstSend->find("index=1 write=1"), std::string::npos) << *firstSend;
}

TEST_F(DevsimSimulation, LogIsOneKeyValueEventPerLine) {
  DeviceConfig config = Device(SimMode::kBoot, 1, {0xAB, 0xCD});
  config.deviceId = 0x1234;
  CSimulation simulation = Make({config});
  config.deviceId = 0x4321;
  const DeviceRecord record = RecordOf(config);
  simulation.OnDatagram(10001, WriteFrame(record, 512, Bytes(512, 1), 768, 0x0105), 0);
  simulation.OnDatagram(10001, Bytes{'x', 'y'}, 0);

  EXPECT_EQ(m_log, (std::vector<std::string>{
                       "rx port=10001 op=0x5010 len=548 magic=boot matched=1 device=abcd write=1 "
                       "offset=512 length=768 param=0x0105 deviceId=0x4321",
                       "event device=abcd index=0 what=mismatch write=1 deviceId=0x4321 "
                       "expected=0x1234",
                       "tx port=10001 op=0x5011 len=10 device=abcd index=0 write=1",
                       "rx port=10001 op=0x0000 len=2 magic=none matched=0"}));
}

TEST_F(DevsimSimulation, SummaryAndImageFilesReportWhatArrived) {
  DeviceConfig written = Device(SimMode::kBoot, 0x0381, {0x0C, 0x0D});
  written.blockSize = 512;
  CSimulation simulation = Make({written, Device(SimMode::kApp, 0x0381, {})});
  Bytes block(512);
  for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<uint8_t>(i);
  const DeviceRecord record = RecordOf(written);
  simulation.OnDatagram(10001, WriteFrame(record, 0, block), 0);
  simulation.OnDatagram(10001, Encoded([&](auto out) { return EncodeVerify(out, record); }), 0);

  const std::vector<std::string> summary = simulation.SummaryLines();
  ASSERT_EQ(summary.size(), 2u);
  char crc[8];
  std::snprintf(crc, sizeof crc, "0x%04x", ComputeImageCrc(block));
  EXPECT_EQ(summary[0],
            std::string("summary device=0c0d index=0 mode=boot blocks=1 bytes=512 crc=") + crc +
                " verifies=1 runs=0 resets=0 mismatches=0 writes=1 dropped=0 failed=0");
  EXPECT_TRUE(
      summary[1].starts_with("summary device= index=1 mode=app blocks=0 bytes=0 crc=0xffff"));

  const auto dir = std::filesystem::path(::testing::TempDir()) / "devsim-images";
  std::filesystem::remove_all(dir);
  ASSERT_EQ(simulation.WriteImages(dir.string()), "");
  std::ifstream file(dir / "0c0d.img", std::ios::binary);
  EXPECT_EQ(Bytes(std::istreambuf_iterator<char>(file), {}), block);
  EXPECT_EQ(std::filesystem::file_size(dir / "index1.img"), 0u);
  std::filesystem::remove_all(dir);
}

}  // namespace

namespace {

TEST_F(DevsimSimulation, AnswersOnlyWhileOnTheBench) {
  DeviceConfig config = Device(SimMode::kBoot, 0x0381);
  config.ackDelayMs = 50;
  config.onBench = {{1000, 2000}, {5000, std::nullopt}};
  CSimulation simulation = Make({config});
  simulation.SetReady(10'000);
  const Bytes search = Encoded(EncodeBootSearch);
  const Bytes verify = Encoded([&](auto out) { return EncodeVerify(out, RecordOf(config)); });
  // Since ready: before, in, after the first spell, and in the open second.
  const std::pair<uint64_t, size_t> kAnswers[] = {
      {10'999, 0}, {11'000, 1}, {11'999, 1}, {12'000, 0}, {14'999, 0}, {15'000, 1}, {99'000, 1}};
  for (const auto& [now, answers] : kAnswers) {
    m_sent.clear();
    simulation.OnDatagram(10001, search, now);
    EXPECT_EQ(m_sent.size(), answers) << now;
  }
  // An answer that falls due after it was taken away is lost.
  m_sent.clear();
  simulation.OnDatagram(10001, verify, 11'960);
  simulation.RunDue(12'010);
  EXPECT_TRUE(m_sent.empty());
}

}  // namespace
