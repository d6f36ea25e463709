// Request frames byte for byte, against vectors laid out by hand from the
// protocol's tables: a device that gets one byte in the wrong place will at
// best ignore the request, at worst write a block at the wrong offset.

#include <gtest/gtest.h>

#include <array>
#include <string_view>
#include <vector>

#include "net/frames.h"
#include "tests/support/datagram_builder.h"

using namespace quorvik;

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Encode(size_t (*encoder)(std::span<uint8_t>, const DeviceRecord&), const DeviceRecord& r) {
  std::array<uint8_t, kMaxRequestLength> buffer;
  buffer.fill(0xEE);  // anything not written by the encoder shows up
  return Bytes(buffer.begin(), buffer.begin() + static_cast<long>(encoder(buffer, r)));
}

Bytes Golden(size_t length, std::initializer_list<std::pair<size_t, Bytes>> fields) {
  Bytes out(length, 0);
  for (const auto& [at, bytes] : fields) std::copy(bytes.begin(), bytes.end(), out.begin() + at);
  return out;
}

const Bytes kBootHeader = {0x5A, 0x51, 0x37, 0x42, 0x4F, 0x4F, 0x54, 0x00};
const Bytes kAppHeader = {0x42, 0x65, 0x6C, 0x6D, 0x61, 0x72, 0x72, 0x00};

DeviceRecord Record(uint16_t loaderType, uint8_t identityLength) {
  DeviceRecord r;
  r.loaderType = loaderType;
  r.version = 0x0102;
  r.deviceId = 0x1234;
  r.blockSize = 4;
  r.mac = {0x00, 0x0A, 0x95, 0x9D, 0x68, 0x16};
  r.identityLength = identityLength;
  for (uint8_t i = 0; i < identityLength; ++i) r.identity[i] = static_cast<uint8_t>(0xA0 + i);
  r.port = kBootPortA;
  return r;
}

Bytes Identity(uint8_t count) {
  return IdentityBytes(0xA0, count);
}

Bytes WriteBlock(const DeviceRecord& r, uint32_t offset, const Bytes& block, uint32_t length,
                 uint16_t param) {
  std::array<uint8_t, kMaxRequestLength> buffer;
  buffer.fill(0xEE);
  size_t n = EncodeWriteBlock(buffer, r, offset, block, length, param);
  return Bytes(buffer.begin(), buffer.begin() + static_cast<long>(n));
}

TEST(SearchFrames, BootAndApplicationSearchAreTheBareHeader) {
  std::array<uint8_t, kMaxRequestLength> buffer;
  ASSERT_EQ(EncodeBootSearch(buffer), 10u);
  EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 10),
            (Bytes{0x5A, 0x51, 0x37, 0x42, 0x4F, 0x4F, 0x54, 0x00, 0x90, 0x50}));
  ASSERT_EQ(EncodeAppSearch(buffer), 10u);
  EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 10),
            (Bytes{0x42, 0x65, 0x6C, 0x6D, 0x61, 0x72, 0x72, 0x00, 0x90, 0x50}));
}

TEST(WriteBlockFrame, Generation1PutsOffsetLengthAndParameterAtTheirPlaces) {
  const DeviceRecord r = Record(1, 11);
  const Bytes block = {0xDE, 0xAD, 0xBE, 0xEF};
  EXPECT_EQ(WriteBlock(r, 512, block, 768, 0x0105), Golden(548, {{0, kBootHeader},
                                                                 {8, {0x10, 0x50}},
                                                                 {10, Identity(11)},
                                                                 {21, {0x01, 0x05}},
                                                                 {23, {0x12, 0x34}},
                                                                 {25, {0x00, 0x00, 0x02, 0x00}},
                                                                 {29, {0x00, 0x00, 0x03, 0x00}},
                                                                 {35, block}}));
}

TEST(WriteBlockFrame, Generation2CarriesSixteenIdentityBytes) {
  const DeviceRecord r = Record(512, 16);
  const Bytes block = {1, 2, 3, 4};
  EXPECT_EQ(WriteBlock(r, 0x01020304, block, 0x0A0B0C0D, 0xFF01),
            Golden(552, {{0, kBootHeader},
                         {8, {0x10, 0x50}},
                         {10, Identity(16)},
                         {26, {0xFF, 0x01}},
                         {28, {0x12, 0x34}},
                         {30, {0x01, 0x02, 0x03, 0x04}},
                         {34, {0x0A, 0x0B, 0x0C, 0x0D}},
                         {40, block}}));
}

TEST(WriteBlockFrame, Generation3HasAZeroAtByte10AndOnlyTheReportedIdentity) {
  DeviceRecord r = Record(0x0300, 5);
  const Bytes block = {9, 8, 7, 6};
  EXPECT_EQ(WriteBlock(r, 512, block, 768, 0x0105), Golden(554, {{0, kBootHeader},
                                                                 {8, {0x10, 0x50}},
                                                                 {11, Identity(5)},
                                                                 {27, {0x01, 0x05}},
                                                                 {29, {0x12, 0x34}},
                                                                 {31, {0x00, 0x00, 0x02, 0x00}},
                                                                 {35, {0x00, 0x00, 0x03, 0x00}},
                                                                 {41, block}}));
}

TEST(WriteBlockFrame, BlockIsCutToTheRecordsBlockSizeAndToTheRoomOfTheLayout) {
  Bytes image(600);
  for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<uint8_t>(i | 1);

  DeviceRecord gen2 = Record(600, 16);
  gen2.blockSize = 600;  // more than the 512 bytes a generation-2 frame holds
  Bytes frame = WriteBlock(gen2, 0, image, 600, 0);
  ASSERT_EQ(frame.size(), 552u);
  EXPECT_EQ(Bytes(frame.begin() + 40, frame.end()), Bytes(image.begin(), image.begin() + 512));

  DeviceRecord gen1 = Record(1, 11);
  gen1.blockSize = 3;
  frame = WriteBlock(gen1, 0, image, 600, 0);
  EXPECT_EQ(Bytes(frame.begin() + 35, frame.begin() + 39),
            (Bytes{image[0], image[1], image[2], 0}));

  // A block shorter than the block size never makes the encoder read on.
  gen1.blockSize = 256;
  frame = WriteBlock(gen1, 0, Bytes{7, 7}, 2, 0);
  EXPECT_EQ(Bytes(frame.begin() + 35, frame.begin() + 38), (Bytes{7, 7, 0}));
}

TEST(MaintenanceFrames, VerifyRunAndEnterBootloaderLayouts) {
  DeviceRecord r = Record(0x0300, 16);
  EXPECT_EQ(Encode(EncodeVerify, r),
            Golden(548, {{0, kBootHeader}, {8, {0x30, 0x50}}, {11, Identity(16)}}));
  EXPECT_EQ(Encode(EncodeRunApplication, r),
            Golden(26, {{0, kBootHeader}, {8, {0x20, 0x50}}, {10, Identity(16)}}));
  EXPECT_EQ(
      Encode(EncodeEnterBootloader, r),
      Golden(16, {{0, kAppHeader}, {8, {0x93, 0x50}}, {10, {0x00, 0x0A, 0x95, 0x9D, 0x68, 0x16}}}));
}

TEST(MaintenanceFrames, FactoryResetFormFollowsTheMode) {
  DeviceRecord app = Record(0, 11);
  EXPECT_EQ(
      Encode(EncodeFactoryReset, app),
      Golden(16, {{0, kAppHeader}, {8, {0x94, 0x50}}, {10, {0x00, 0x0A, 0x95, 0x9D, 0x68, 0x16}}}));
  DeviceRecord boot = Record(1, 11);
  EXPECT_EQ(Encode(EncodeFactoryReset, boot), Golden(30, {{0, kBootHeader},
                                                          {8, {0x94, 0x50}},
                                                          {10, Identity(11)},
                                                          {26, {0xC4, 0x71, 0x2B, 0x5E}}}));
}

TEST(ImageCrc, MatchesTheCheckValueWithItsBytesExchanged) {
  const std::string_view digits = "123456789";
  EXPECT_EQ(ComputeImageCrc(reinterpret_cast<const uint8_t*>(digits.data()), digits.size()),
            0x374B);
  EXPECT_EQ(ComputeImageCrc(nullptr, 0), 0xFFFF);
  const Bytes ff(1024, 0xFF);
  EXPECT_NE(ComputeImageCrc(ff), ComputeImageCrc(std::span(ff).first(1023)));
}

}  // namespace
