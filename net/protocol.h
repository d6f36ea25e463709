#pragma once
// Constants of the device protocol: ports, magics, opcodes and the
// generation rules that pick a frame layout.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace quorvik {

// An IPv4 address as its four octets, first octet first.
using Ipv4Address = std::array<uint8_t, 4>;

constexpr uint16_t kBootPortA = 10001;
constexpr uint16_t kBootPortB = 10010;
constexpr uint16_t kAppPort = 6454;

using Magic = std::array<uint8_t, 8>;
constexpr Magic kBootMagic = {'Z', 'Q', '7', 'B', 'O', 'O', 'T', 0};
constexpr Magic kAppMagic = {'B', 'e', 'l', 'm', 'a', 'r', 'r', 0};

constexpr uint16_t kOpSearch = 0x5090;
constexpr uint16_t kOpSearchReply = 0x5091;
constexpr uint16_t kOpWriteBlock = 0x5010;
constexpr uint16_t kOpWriteBlockReply = 0x5011;
constexpr uint16_t kOpRunApplication = 0x5020;
constexpr uint16_t kOpVerify = 0x5030;
constexpr uint16_t kOpVerifyReply = 0x5031;
constexpr uint16_t kOpEnterBootloader = 0x5093;
constexpr uint16_t kOpFactoryReset = 0x5094;

constexpr size_t kHeaderLength = 10;
constexpr size_t kMaxRequestLength = 554;
constexpr size_t kReceiveBufferSize = 1024;
constexpr size_t kIdentityCapacity = 16;
constexpr size_t kGen1IdentityLength = 11;
constexpr size_t kAppIdentityCompareLength = 11;
constexpr size_t kNameCapacity = 64;

// Where the answers carry their fields (byte offsets from the magic).
namespace reply_at {
constexpr size_t kOpcode = 8;
// ReplyBootSearch, every generation.
constexpr size_t kTypeWord = 10;
// Generations 1 and 2.
constexpr size_t kVersion = 12;
constexpr size_t kDeviceId = 14;
constexpr size_t kBlockSize = 16;
constexpr size_t kMac = 18;
constexpr size_t kIdentity = 24;
// Generation 3.
constexpr size_t kGen3Mac = 12;
constexpr size_t kGen3Units = 18;
constexpr size_t kGen3DeviceId = 19;
constexpr size_t kGen3McuId = 21;
constexpr size_t kGen3Version = 23;
constexpr size_t kGen3BlockSize = 25;
constexpr size_t kGen3IdentityLength = 27;
constexpr size_t kGen3Identity = 28;
// ReplyAppSearch.
constexpr size_t kAppMac = 18;
constexpr size_t kAppVersion = 24;
constexpr size_t kAppName = 44;
constexpr size_t kAppIdentityLength = 108;
constexpr size_t kAppIdentity = 109;
// ReplyVerify.
constexpr size_t kVerifyValue = 10;
constexpr size_t kVerifyStatus = 12;
}  // namespace reply_at

constexpr uint32_t kFactoryResetPattern = 0x5E2B71C4;
constexpr size_t kSearchLength = 10;
constexpr size_t kVerifyLength = 548;
constexpr size_t kRunApplicationLength = 26;
constexpr size_t kEnterBootloaderLength = 16;
constexpr size_t kFactoryResetAppLength = 16;
constexpr size_t kFactoryResetBootLength = 30;

enum class Generation { kApplication, kGen1, kGen2, kGen3 };

// Bootloader generation of a stored loaderType (or a type word from a boot
// search answer): 1..511, 512..767, 768 and above. 0 is a device running its
// application.
constexpr Generation GenerationOf(uint16_t loaderType) {
  if (loaderType == 0) return Generation::kApplication;
  if (loaderType < 512) return Generation::kGen1;
  if (loaderType < 768) return Generation::kGen2;
  return Generation::kGen3;
}

// Where the fields of a write-block request sit for one generation.
struct WriteBlockLayout {
  size_t identityAt;
  size_t identityBytes;  // most identity bytes the frame carries
  size_t sectionParamAt;
  size_t deviceIdAt;
  size_t offsetAt;
  size_t sectionLengthAt;
  size_t dataAt;
  size_t datagramLength;
  size_t MaxData() const { return datagramLength - dataAt; }
};

// Generation 1 is also the layout for any loaderType below 512, 0 included.
constexpr WriteBlockLayout kWriteBlockGen1{10, 11, 21, 23, 25, 29, 35, 548};
constexpr WriteBlockLayout kWriteBlockGen2{10, 16, 26, 28, 30, 34, 40, 552};
constexpr WriteBlockLayout kWriteBlockGen3{11, 16, 27, 29, 31, 35, 41, 554};

constexpr const WriteBlockLayout& WriteBlockLayoutFor(uint16_t loaderType) {
  if (loaderType < 512) return kWriteBlockGen1;
  if (loaderType < 768) return kWriteBlockGen2;
  return kWriteBlockGen3;
}

bool HasMagic(std::span<const uint8_t> datagram, const Magic& magic);

}  // namespace quorvik
