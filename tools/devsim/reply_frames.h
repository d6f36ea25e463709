#pragma once
// Answers a simulated device puts on the wire. Each encoder returns the
// whole datagram; bytes its layout leaves unnamed are zero.

#include <cstdint>
#include <vector>

#include "tools/devsim/sim_config.h"

namespace quorvik {

// Boot search answer in the layout of the device's loader generation.
std::vector<uint8_t> EncodeBootSearchReply(const DeviceConfig& device);
// Application search answer, at least 128 bytes long.
std::vector<uint8_t> EncodeAppSearchReply(const DeviceConfig& device);
std::vector<uint8_t> EncodeWriteBlockReply();
// `crc` is what ComputeImageCrc yields; on the wire it reads back as
// byte 10 * 256 + byte 11.
std::vector<uint8_t> EncodeVerifyReply(uint16_t crc, uint16_t status);

constexpr size_t kAppSearchReplyMinLength = 128;
constexpr size_t kWriteBlockReplyLength = 10;
constexpr size_t kVerifyReplyLength = 14;

}  // namespace quorvik
