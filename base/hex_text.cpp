#include "base/hex_text.h"

#include <algorithm>
#include <charconv>

namespace quorvik {

std::string HexWord(uint16_t value, bool upper) {
  std::string text(4, '0');
  WriteHexByte(static_cast<uint8_t>(value >> 8), text.data(), upper);
  WriteHexByte(static_cast<uint8_t>(value & 0xFF), text.data() + 2, upper);
  return text;
}

std::string HexText(std::span<const uint8_t> bytes, bool upper, std::string_view separator) {
  std::string text;
  text.reserve(bytes.size() * (2 + separator.size()));
  char digits[2];
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (i > 0) text += separator;
    WriteHexByte(bytes[i], digits, upper);
    text.append(digits, 2);
  }
  return text;
}

std::optional<std::vector<uint8_t>> ParseHexBytes(std::string_view text) {
  if (text.size() % 2 != 0) return std::nullopt;
  std::vector<uint8_t> bytes;
  bytes.reserve(text.size() / 2);
  for (size_t i = 0; i < text.size(); i += 2) {
    const char* first = text.data() + i;
    // from_chars takes a sign for no unsigned type, but reads "0x" as 0.
    if (first[0] == '+' || first[0] == '-' || first[1] == 'x' || first[1] == 'X')
      return std::nullopt;
    uint8_t value = 0;
    const auto [end, error] = std::from_chars(first, first + 2, value, 16);
    if (error != std::errc() || end != first + 2) return std::nullopt;
    bytes.push_back(value);
  }
  return bytes;
}

std::optional<std::array<uint8_t, 6>> ParseMacText(std::string_view text) {
  std::string digits;
  if (text.size() == 17) {
    const char separator = text[2];
    if (separator != '-' && separator != ':') return std::nullopt;
    for (size_t i = 0; i < text.size(); ++i) {
      if (i % 3 != 2)
        digits += text[i];
      else if (text[i] != separator)
        return std::nullopt;
    }
  } else if (text.size() == 12) {
    digits = text;
  } else {
    return std::nullopt;
  }
  const auto bytes = ParseHexBytes(digits);
  if (!bytes) return std::nullopt;
  std::array<uint8_t, 6> mac{};
  std::copy(bytes->begin(), bytes->end(), mac.begin());
  return mac;
}

}  // namespace quorvik
