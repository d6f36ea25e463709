#pragma once
// Bytes as hexadecimal text and back: serials, hardware addresses and the
// black-list's keys, written and read in one place.

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace quorvik {

// Two digits of `byte` at out[0] and out[1], in lower or upper case.
inline void WriteHexByte(uint8_t byte, char* out, bool upper = false) {
  const char* digits = upper ? "0123456789ABCDEF" : "0123456789abcdef";
  out[0] = digits[byte >> 4];
  out[1] = digits[byte & 0x0F];
}

// Four digits of a 16-bit code (a model, a checksum, an opcode).
std::string HexWord(uint16_t value, bool upper = false);
// The form logs and journals give such a code: "0x" and four lower-case
// digits, which scripts reading old journals already expect.
inline std::string Hex16(uint16_t value) { return "0x" + HexWord(value); }

// Two digits per byte, `separator` between bytes.
std::string HexText(std::span<const uint8_t> bytes, bool upper, std::string_view separator = {});

// Two hex digits per byte, either case, nothing else; nothing for any other
// text (an odd count, a stray character, a sign).
std::optional<std::vector<uint8_t>> ParseHexBytes(std::string_view text);

// A hardware address as people copy it from anywhere: six pairs joined by
// '-' or ':' (one of them throughout), or twelve digits.
std::optional<std::array<uint8_t, 6>> ParseMacText(std::string_view text);

}  // namespace quorvik
