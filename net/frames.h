#pragma once
// Request frames as pure encoders over a caller's buffer, and the image
// checksum. Each encoder writes the whole datagram (zero filler included)
// and returns its length; the buffer must hold kMaxRequestLength bytes.

#include <cstddef>
#include <cstdint>
#include <span>

#include "net/device_record.h"
#include "net/protocol.h"

namespace quorvik {

size_t EncodeHeader(std::span<uint8_t> out, const Magic& magic, uint16_t opcode);
size_t EncodeBootSearch(std::span<uint8_t> out);
size_t EncodeAppSearch(std::span<uint8_t> out);
// Copies at most the record's blockSize bytes of `block`, cut to what the
// generation's layout can carry; bytes the block does not supply are zero.
size_t EncodeWriteBlock(std::span<uint8_t> out, const DeviceRecord& record, uint32_t blockOffset,
                        std::span<const uint8_t> block, uint32_t sectionLength,
                        uint16_t sectionParam);
size_t EncodeVerify(std::span<uint8_t> out, const DeviceRecord& record);
size_t EncodeRunApplication(std::span<uint8_t> out, const DeviceRecord& record);
size_t EncodeEnterBootloader(std::span<uint8_t> out, const DeviceRecord& record);
// The application form for a device in application mode, the boot form
// (identity plus confirmation pattern) otherwise.
size_t EncodeFactoryReset(std::span<uint8_t> out, const DeviceRecord& record);

// CRC-16/MODBUS with its two bytes exchanged, which is how devices report it
// in a verify answer (least significant byte first).
uint16_t ComputeImageCrc(const uint8_t* bytes, size_t length);
inline uint16_t ComputeImageCrc(std::span<const uint8_t> bytes) {
  return ComputeImageCrc(bytes.data(), bytes.size());
}
// The checksum of `length` bytes of which those past `bytes` are 0xFF, the
// padding of a last block that reaches past the image buffer.
uint16_t ComputeImageCrcPadded(std::span<const uint8_t> bytes, size_t length);

}  // namespace quorvik
