#include "tools/devsim/reply_frames.h"

#include <algorithm>

#include "net/bytes.h"
#include "net/frames.h"

namespace quorvik {

namespace {

std::vector<uint8_t> Frame(size_t length, const Magic& magic, uint16_t opcode) {
  std::vector<uint8_t> frame(length, 0);
  EncodeHeader(frame, magic, opcode);
  return frame;
}

void PutBytes(std::vector<uint8_t>& frame, size_t at, const uint8_t* bytes, size_t count) {
  std::copy_n(bytes, count, frame.begin() + static_cast<std::ptrdiff_t>(at));
}

}  // namespace

std::vector<uint8_t> EncodeBootSearchReply(const DeviceConfig& device) {
  const auto identity = device.PaddedIdentity();
  switch (device.BootGeneration()) {
    case Generation::kGen3: {
      auto frame = Frame(28 + device.identity.size(), kBootMagic, kOpSearchReply);
      PutBe16(frame, 10, device.loaderType);
      PutBytes(frame, 12, device.mac.data(), device.mac.size());
      frame[18] = device.units;
      PutBe16(frame, 19, device.deviceId);
      PutBe16(frame, 21, device.mcuId);
      PutBe16(frame, 23, device.version);
      PutBe16(frame, 25, device.blockSize);
      frame[27] = static_cast<uint8_t>(device.identity.size());
      PutBytes(frame, 28, device.identity.data(), device.identity.size());
      return frame;
    }
    case Generation::kGen1:
    case Generation::kGen2:
    case Generation::kApplication: {
      // The older loaders have no length field: the serial number always
      // fills its whole fixed slot.
      const size_t identityBytes =
          device.BootGeneration() == Generation::kGen2 ? kIdentityCapacity : kGen1IdentityLength;
      auto frame = Frame(24 + identityBytes, kBootMagic, kOpSearchReply);
      PutBe16(frame, 10, device.loaderType);
      PutBe16(frame, 12, device.version);
      PutBe16(frame, 14, device.deviceId);
      PutBe16(frame, 16, device.blockSize);
      PutBytes(frame, 18, device.mac.data(), device.mac.size());
      PutBytes(frame, 24, identity.data(), identityBytes);
      return frame;
    }
  }
  return {};
}

std::vector<uint8_t> EncodeAppSearchReply(const DeviceConfig& device) {
  const size_t identityAt = 109;
  auto frame = Frame(std::max(identityAt + device.identity.size(), kAppSearchReplyMinLength),
                     kAppMagic, kOpSearchReply);
  PutBytes(frame, 18, device.mac.data(), device.mac.size());
  PutBe16(frame, 24, device.appVersion);
  // A 64-byte name fills its slot and goes without a terminating zero.
  const size_t nameBytes = std::min(device.name.size(), kNameCapacity);
  PutBytes(frame, 44, reinterpret_cast<const uint8_t*>(device.name.data()), nameBytes);
  frame[108] = static_cast<uint8_t>(device.identity.size());
  PutBytes(frame, identityAt, device.identity.data(), device.identity.size());
  return frame;
}

std::vector<uint8_t> EncodeWriteBlockReply() {
  return Frame(kWriteBlockReplyLength, kBootMagic, kOpWriteBlockReply);
}

std::vector<uint8_t> EncodeVerifyReply(uint16_t crc, uint16_t status) {
  auto frame = Frame(kVerifyReplyLength, kBootMagic, kOpVerifyReply);
  PutBe16(frame, 10, crc);
  PutBe16(frame, 12, status);
  return frame;
}

}  // namespace quorvik
