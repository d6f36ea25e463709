#include "net/frames.h"

#include <algorithm>
#include <cstring>

#include "net/bytes.h"

namespace quorvik {

bool HasMagic(std::span<const uint8_t> datagram, const Magic& magic) {
  return datagram.size() >= magic.size() &&
         std::memcmp(datagram.data(), magic.data(), magic.size()) == 0;
}

namespace {

// Clears the datagram so that every unnamed byte is zero filler.
std::span<uint8_t> Begin(std::span<uint8_t> out, size_t length, const Magic& magic,
                         uint16_t opcode) {
  auto frame = out.first(length);
  std::fill(frame.begin(), frame.end(), uint8_t{0});
  EncodeHeader(frame, magic, opcode);
  return frame;
}

void PutIdentity(std::span<uint8_t> frame, size_t at, const DeviceRecord& record, size_t count) {
  std::copy_n(record.identity.begin(), std::min(count, record.identity.size()), frame.begin() + at);
}

}  // namespace

size_t EncodeHeader(std::span<uint8_t> out, const Magic& magic, uint16_t opcode) {
  std::copy(magic.begin(), magic.end(), out.begin());
  PutLe16(out, 8, opcode);
  return kHeaderLength;
}

size_t EncodeBootSearch(std::span<uint8_t> out) {
  Begin(out, kSearchLength, kBootMagic, kOpSearch);
  return kSearchLength;
}

size_t EncodeAppSearch(std::span<uint8_t> out) {
  Begin(out, kSearchLength, kAppMagic, kOpSearch);
  return kSearchLength;
}

size_t EncodeWriteBlock(std::span<uint8_t> out, const DeviceRecord& record, uint32_t blockOffset,
                        std::span<const uint8_t> block, uint32_t sectionLength,
                        uint16_t sectionParam) {
  const WriteBlockLayout& layout = WriteBlockLayoutFor(record.loaderType);
  auto frame = Begin(out, layout.datagramLength, kBootMagic, kOpWriteBlock);
  // Generation 3 sends only the identity bytes the device reported; the
  // older generations always carry a fixed-size serial number.
  size_t identityBytes = layout.identityBytes;
  if (GenerationOf(record.loaderType) == Generation::kGen3)
    identityBytes = std::min<size_t>(record.identityLength, layout.identityBytes);
  PutIdentity(frame, layout.identityAt, record, identityBytes);
  PutBe16(frame, layout.sectionParamAt, sectionParam);
  PutBe16(frame, layout.deviceIdAt, record.deviceId);
  PutBe32(frame, layout.offsetAt, blockOffset);
  PutBe32(frame, layout.sectionLengthAt, sectionLength);
  size_t count = std::min({static_cast<size_t>(record.blockSize), layout.MaxData(), block.size()});
  std::copy_n(block.begin(), count, frame.begin() + layout.dataAt);
  return layout.datagramLength;
}

size_t EncodeVerify(std::span<uint8_t> out, const DeviceRecord& record) {
  auto frame = Begin(out, kVerifyLength, kBootMagic, kOpVerify);
  PutIdentity(frame, 11, record, kIdentityCapacity);
  return kVerifyLength;
}

size_t EncodeRunApplication(std::span<uint8_t> out, const DeviceRecord& record) {
  auto frame = Begin(out, kRunApplicationLength, kBootMagic, kOpRunApplication);
  PutIdentity(frame, 10, record, kIdentityCapacity);
  return kRunApplicationLength;
}

size_t EncodeEnterBootloader(std::span<uint8_t> out, const DeviceRecord& record) {
  auto frame = Begin(out, kEnterBootloaderLength, kAppMagic, kOpEnterBootloader);
  std::copy(record.mac.begin(), record.mac.end(), frame.begin() + 10);
  return kEnterBootloaderLength;
}

size_t EncodeFactoryReset(std::span<uint8_t> out, const DeviceRecord& record) {
  if (record.loaderType == 0) {
    auto frame = Begin(out, kFactoryResetAppLength, kAppMagic, kOpFactoryReset);
    std::copy(record.mac.begin(), record.mac.end(), frame.begin() + 10);
    return kFactoryResetAppLength;
  }
  auto frame = Begin(out, kFactoryResetBootLength, kBootMagic, kOpFactoryReset);
  PutIdentity(frame, 10, record, kIdentityCapacity);
  PutLe32(frame, 26, kFactoryResetPattern);
  return kFactoryResetBootLength;
}

namespace {

constexpr std::array<uint16_t, 256> MakeCrcTable() {
  std::array<uint16_t, 256> table{};
  for (unsigned i = 0; i < 256; ++i) {
    uint16_t crc = static_cast<uint16_t>(i);
    for (int bit = 0; bit < 8; ++bit)
      crc =
          (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0xA001) : static_cast<uint16_t>(crc >> 1);
    table[i] = crc;
  }
  return table;
}

constexpr auto kCrcTable = MakeCrcTable();

uint16_t Crc16Step(uint16_t crc, uint8_t byte) {
  return static_cast<uint16_t>((crc >> 8) ^ kCrcTable[(crc ^ byte) & 0xFF]);
}

uint16_t SwapBytes(uint16_t v) {
  return static_cast<uint16_t>(v << 8 | v >> 8);
}

}  // namespace

uint16_t ComputeImageCrc(const uint8_t* bytes, size_t length) {
  uint16_t crc = 0xFFFF;
  for (size_t i = 0; i < length; ++i) crc = Crc16Step(crc, bytes[i]);
  return SwapBytes(crc);
}

uint16_t ComputeImageCrcPadded(std::span<const uint8_t> bytes, size_t length) {
  uint16_t crc = 0xFFFF;
  for (size_t i = 0; i < length; ++i) crc = Crc16Step(crc, i < bytes.size() ? bytes[i] : 0xFF);
  return SwapBytes(crc);
}

}  // namespace quorvik
