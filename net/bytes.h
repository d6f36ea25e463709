#pragma once
// Byte-order helpers for frames and image files. Frames put their opcode
// least significant byte first and every other multi-byte field most
// significant byte first, so both orders are needed.

#include <cstddef>
#include <cstdint>
#include <span>

namespace quorvik {

inline void PutBe16(std::span<uint8_t> out, size_t at, uint16_t v) {
  out[at] = static_cast<uint8_t>(v >> 8);
  out[at + 1] = static_cast<uint8_t>(v);
}

inline void PutBe32(std::span<uint8_t> out, size_t at, uint32_t v) {
  out[at] = static_cast<uint8_t>(v >> 24);
  out[at + 1] = static_cast<uint8_t>(v >> 16);
  out[at + 2] = static_cast<uint8_t>(v >> 8);
  out[at + 3] = static_cast<uint8_t>(v);
}

inline void PutLe16(std::span<uint8_t> out, size_t at, uint16_t v) {
  out[at] = static_cast<uint8_t>(v);
  out[at + 1] = static_cast<uint8_t>(v >> 8);
}

inline void PutLe32(std::span<uint8_t> out, size_t at, uint32_t v) {
  for (size_t i = 0; i < 4; ++i) out[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

// Reads fields of a received datagram. Devices send whatever length they
// like; a field beyond the received bytes reads as zero, never as what an
// earlier, longer datagram left in a buffer.
class FrameReader {
 public:
  explicit FrameReader(std::span<const uint8_t> bytes) : m_bytes(bytes) {}

  size_t size() const { return m_bytes.size(); }
  uint8_t U8(size_t at) const { return at < m_bytes.size() ? m_bytes[at] : 0; }
  uint16_t Be16(size_t at) const { return static_cast<uint16_t>(U8(at) << 8 | U8(at + 1)); }
  uint16_t Le16(size_t at) const { return static_cast<uint16_t>(U8(at) | U8(at + 1) << 8); }
  uint32_t Be32(size_t at) const {
    return static_cast<uint32_t>(Be16(at)) << 16 | static_cast<uint32_t>(Be16(at + 2));
  }
  uint32_t Le32(size_t at) const {
    return static_cast<uint32_t>(Le16(at)) | static_cast<uint32_t>(Le16(at + 2)) << 16;
  }
  // Copies count bytes starting at `at`, zero-filling what lies past the end.
  void Copy(size_t at, std::span<uint8_t> out) const {
    for (size_t i = 0; i < out.size(); ++i) out[i] = U8(at + i);
  }

 private:
  std::span<const uint8_t> m_bytes;
};

}  // namespace quorvik
