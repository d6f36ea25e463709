#include "tests/support/datagram_builder.h"

#include <algorithm>

#include "net/bytes.h"
#include "net/frames.h"

namespace quorvik {

CDatagram::CDatagram(const Magic& magic, uint16_t opcode, size_t length)
    : m_bytes(std::max(length, kHeaderLength), 0) {
  EncodeHeader(m_bytes, magic, opcode);
}

CDatagram& CDatagram::Resize(size_t length) {
  m_bytes.resize(length, 0);
  return *this;
}

CDatagram& CDatagram::U8(size_t at, uint8_t v) {
  if (at + 1 > m_bytes.size()) m_bytes.resize(at + 1, 0);
  m_bytes[at] = v;
  return *this;
}

CDatagram& CDatagram::Be16(size_t at, uint16_t v) {
  if (at + 2 > m_bytes.size()) m_bytes.resize(at + 2, 0);
  PutBe16(m_bytes, at, v);
  return *this;
}

CDatagram& CDatagram::Bytes(size_t at, std::initializer_list<uint8_t> bytes) {
  return Bytes(at, std::span<const uint8_t>(bytes.begin(), bytes.size()));
}

CDatagram& CDatagram::Bytes(size_t at, std::span<const uint8_t> bytes) {
  if (at + bytes.size() > m_bytes.size()) m_bytes.resize(at + bytes.size(), 0);
  std::copy(bytes.begin(), bytes.end(), m_bytes.begin() + static_cast<long>(at));
  return *this;
}

CDatagram& CDatagram::Text(size_t at, std::string_view text) {
  return Bytes(at, std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
}

std::vector<uint8_t> IdentityBytes(uint8_t first, size_t count) {
  std::vector<uint8_t> id(count);
  for (size_t i = 0; i < count; ++i) id[i] = static_cast<uint8_t>(first + i);
  return id;
}

CDatagram Gen1Answer(uint16_t type, uint16_t version, uint16_t deviceId, uint16_t blockSize,
                     std::span<const uint8_t> mac, std::span<const uint8_t> identity11) {
  CDatagram d(kBootMagic, kOpSearchReply, 64);
  d.Be16(10, type).Be16(12, version).Be16(14, deviceId).Be16(16, blockSize);
  d.Bytes(18, mac).Bytes(24, identity11);
  return d;
}

CDatagram Gen2Answer(uint16_t type, uint16_t version, uint16_t deviceId, uint16_t blockSize,
                     std::span<const uint8_t> mac, std::span<const uint8_t> identity16) {
  return Gen1Answer(type, version, deviceId, blockSize, mac, identity16);
}

CDatagram Gen3Answer(uint16_t typeWord, uint16_t version, uint16_t deviceId, uint16_t mcuId,
                     uint16_t blockSize, std::span<const uint8_t> mac, uint8_t units,
                     std::span<const uint8_t> identity) {
  CDatagram d(kBootMagic, kOpSearchReply, 64);
  d.Be16(10, typeWord).Bytes(12, mac).U8(18, units).Be16(19, deviceId).Be16(21, mcuId);
  d.Be16(23, version).Be16(25, blockSize).U8(27, static_cast<uint8_t>(identity.size()));
  d.Bytes(28, identity);
  return d;
}

CDatagram AppAnswer(uint16_t version, std::span<const uint8_t> mac, std::string_view name,
                    std::span<const uint8_t> identity) {
  CDatagram d(kAppMagic, kOpSearchReply, 128);
  d.Bytes(18, mac).Be16(24, version).Text(44, name.substr(0, 64));
  d.U8(108, static_cast<uint8_t>(identity.size())).Bytes(109, identity);
  return d;
}

}  // namespace quorvik
