#pragma once
// Lays out reply datagrams byte by byte at the positions the devices use, so
// that tests state each field where the wire puts it.

#include <cstdint>
#include <initializer_list>
#include <span>
#include <string_view>
#include <vector>

#include "net/protocol.h"

namespace quorvik {

class CDatagram {
 public:
  CDatagram(const Magic& magic, uint16_t opcode, size_t length);

  CDatagram& U8(size_t at, uint8_t v);
  CDatagram& Be16(size_t at, uint16_t v);
  CDatagram& Bytes(size_t at, std::initializer_list<uint8_t> bytes);
  CDatagram& Bytes(size_t at, std::span<const uint8_t> bytes);
  CDatagram& Text(size_t at, std::string_view text);
  CDatagram& Resize(size_t length);

  std::span<const uint8_t> Span() const { return m_bytes; }
  const std::vector<uint8_t>& Vector() const { return m_bytes; }

 private:
  std::vector<uint8_t> m_bytes;
};

// Identity of `count` bytes: first, first+1, ...
std::vector<uint8_t> IdentityBytes(uint8_t first, size_t count);

// Search answers as each generation lays them out.
CDatagram Gen1Answer(uint16_t type, uint16_t version, uint16_t deviceId, uint16_t blockSize,
                     std::span<const uint8_t> mac, std::span<const uint8_t> identity11);
CDatagram Gen2Answer(uint16_t type, uint16_t version, uint16_t deviceId, uint16_t blockSize,
                     std::span<const uint8_t> mac, std::span<const uint8_t> identity16);
CDatagram Gen3Answer(uint16_t typeWord, uint16_t version, uint16_t deviceId, uint16_t mcuId,
                     uint16_t blockSize, std::span<const uint8_t> mac, uint8_t units,
                     std::span<const uint8_t> identity);
CDatagram AppAnswer(uint16_t version, std::span<const uint8_t> mac, std::string_view name,
                    std::span<const uint8_t> identity);

}  // namespace quorvik
