#pragma once
// SHA-256 of a byte sequence, for recording which file went into a device.

#include <cstdint>
#include <span>
#include <string>

namespace quorvik {

// Lower-case hex, 64 digits.
std::string Sha256Hex(std::span<const uint8_t> bytes);

}  // namespace quorvik
