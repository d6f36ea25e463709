// The firmware file walk over real files: both format families, several
// sections, the fit rule and the order of verdicts, and broken files.

#include "commands/firmware_file.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "tests/support/firmware_file_builder.h"

using namespace quorvik;

namespace fs = std::filesystem;

namespace {

DeviceRecord Device(uint16_t loaderType, uint16_t deviceId, uint16_t mcuId = 0) {
  DeviceRecord d;
  d.loaderType = loaderType;
  d.version = 0x0100;
  d.deviceId = deviceId;
  d.mcuId = mcuId;
  d.blockSize = 256;
  return d;
}

class FirmwareFile : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/quorvik-fw-XXXXXX";
    dir = ::mkdtemp(pattern);
    image.assign(kFirmwareImageSize, 0x00);
  }
  void TearDown() override { fs::remove_all(dir); }

  FirmwareLoad Walk(const std::vector<uint8_t>& bytes, const DeviceRecord& device) {
    const std::string path = (dir / "fw.bin").string();
    WriteFile(path, bytes);
    return WalkFirmwareFile(path, device, image);
  }
  static FirmwareVerdict Verdict(const FirmwareLoad& l) { return std::get<FirmwareVerdict>(l); }

  fs::path dir;
  std::vector<uint8_t> image;
};

TEST_F(FirmwareFile, FormatOneHasOneSectionWithoutMcuCode) {
  const auto data = PatternBytes(1000);
  const auto load =
      Walk(FirmwareFileBytes(1, {{0, 0x3610, 0x12, 0x34, data}}), Device(0x200, 0x3610));
  const auto& s = std::get<FirmwareSection>(load);
  EXPECT_EQ(s.index, 0);
  EXPECT_EQ(s.mcuCode, 0);
  EXPECT_EQ(s.deviceType, 0x3610);
  EXPECT_EQ(s.sectionParam, 0x1234);
  EXPECT_EQ(s.dataLength, 1000u);
  EXPECT_TRUE(std::equal(data.begin(), data.end(), image.begin()));
  EXPECT_TRUE(std::all_of(image.begin() + 1000, image.end(), [](uint8_t b) { return b == 0xFF; }));

  // The same file on a generation-3 bootloader fits only MCU code 0.
  EXPECT_TRUE(std::holds_alternative<FirmwareSection>(
      Walk(FirmwareFileBytes(0, {{0, 0x3610, 0, 0, data}}), Device(0x300, 0x3610, 0))));
  EXPECT_EQ(
      Verdict(Walk(FirmwareFileBytes(1, {{0, 0x3610, 0, 0, data}}), Device(0x300, 0x3610, 7))),
      FirmwareVerdict::kWrongMcu);
}

TEST_F(FirmwareFile, TheFirstFittingSectionOfSeveralIsLoaded) {
  const auto wanted = PatternBytes(300, 9);
  const auto file = FirmwareFileBytes(2, {{5, 0x4601, 0, 1, PatternBytes(50)},
                                          {7, 0x9308, 0, 2, PatternBytes(70)},
                                          {5, 0x9308, 0, 3, wanted},
                                          {5, 0x9308, 0, 4, PatternBytes(90)}});
  const auto load = Walk(file, Device(0x300, 0x9308, 5));
  const auto& s = std::get<FirmwareSection>(load);
  EXPECT_EQ(s.index, 2);
  EXPECT_EQ(s.sectionParam, 3);
  EXPECT_TRUE(std::equal(wanted.begin(), wanted.end(), image.begin()));
  EXPECT_EQ(image[300], 0xFF);  // nothing left of the longer earlier section
}

TEST_F(FirmwareFile, VerdictsFollowTheLastSectionReadAndTheBootloaderType) {
  const auto data = PatternBytes(10);
  // Right type first, another type last: the last decides.
  EXPECT_EQ(Verdict(Walk(FirmwareFileBytes(2, {{1, 0x9308, 0, 0, data}, {1, 0x4601, 0, 0, data}}),
                         Device(0x300, 0x9308, 2))),
            FirmwareVerdict::kWrongDevice);
  EXPECT_EQ(Verdict(Walk(FirmwareFileBytes(2, {{1, 0x4601, 0, 0, data}, {1, 0x9308, 0, 0, data}}),
                         Device(0x300, 0x9308, 2))),
            FirmwareVerdict::kWrongMcu);
  for (uint16_t unserved : {0x201, 0x2FF, 0x301, 0x400}) {
    EXPECT_EQ(
        Verdict(Walk(FirmwareFileBytes(2, {{0, 0x9308, 0, 0, data}}), Device(unserved, 0x9308))),
        FirmwareVerdict::kWrongBootloader)
        << unserved;
  }
  // Generation 1 and 2 ignore the MCU code.
  EXPECT_TRUE(std::holds_alternative<FirmwareSection>(
      Walk(FirmwareFileBytes(2, {{42, 0x9308, 0, 0, data}}), Device(1, 0x9308))));
}

TEST_F(FirmwareFile, SectionParameterHasASignedSecondByte) {
  EXPECT_EQ(DecodeSectionParam(0x12, 0x34), 0x1234);
  EXPECT_EQ(DecodeSectionParam(0x12, 0x80), 0x1180);
  EXPECT_EQ(DecodeSectionParam(0x01, 0xFF), 0x00FF);
  EXPECT_EQ(DecodeSectionParam(0x00, 0x7F), 0x007F);
  EXPECT_EQ(DecodeSectionParam(0x00, 0x80), 0xFF80);
  EXPECT_EQ(BlockCount(1000, 256), 4u);
  EXPECT_EQ(BlockCount(1024, 256), 4u);
  EXPECT_EQ(BlockCount(0, 256), 0u);
  EXPECT_EQ(BlockCount(kFirmwareImageSize, 500), 525u);
}

TEST_F(FirmwareFile, BrokenFilesAreRefusedWithoutTouchingMemoryOutsideTheBuffer) {
  const DeviceRecord device = Device(0x200, 0x3610);
  EXPECT_EQ(WalkFirmwareFile((dir / "missing.bin").string(), device, image),
            FirmwareLoad(FirmwareVerdict::kUnreadable));
  EXPECT_EQ(Verdict(Walk({}, device)), FirmwareVerdict::kUnreadable);
  EXPECT_EQ(Verdict(Walk({2}, device)), FirmwareVerdict::kUnreadable);
  EXPECT_EQ(Verdict(Walk({2, 0}, device)), FirmwareVerdict::kNoSections);

  auto file = FirmwareFileBytes(1, {{0, 0x3610, 0, 0, PatternBytes(100)}});
  for (size_t cut : {size_t{5}, size_t{12}, file.size() - 1}) {
    EXPECT_EQ(Verdict(Walk(std::vector<uint8_t>(file.begin(), file.begin() + cut), device)),
              FirmwareVerdict::kUnreadable)
        << cut;
  }
  // A length field far beyond the buffer is refused before any data is read.
  file = FirmwareFileBytes(1, {{0, 0x3610, 0, 0, {}}});
  file[9] = 0x00;
  file[10] = 0x04;
  file[11] = 0x00;
  file[12] = 0x01;  // 262,145 bytes
  EXPECT_EQ(Verdict(Walk(file, device)), FirmwareVerdict::kSectionTooLarge);
  // Exactly the buffer's size fits.
  const auto full = PatternBytes(kFirmwareImageSize);
  EXPECT_TRUE(std::holds_alternative<FirmwareSection>(
      Walk(FirmwareFileBytes(1, {{0, 0x3610, 0, 0, full}}), device)));
}

}  // namespace
