#include "base/text.h"

namespace quorvik {

namespace {

bool IsUtf8(std::string_view text) {
  for (size_t i = 0; i < text.size();) {
    const size_t length = Utf8SequenceLength(text, i);
    if (length == 0) return false;
    i += length;
  }
  return true;
}

}  // namespace

size_t Utf8SequenceLength(std::string_view text, size_t at) {
  const auto byte = [&](size_t i) { return static_cast<uint8_t>(text[i]); };
  const uint8_t lead = byte(at);
  size_t length = 0;
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF)
    length = 2;
  else if (lead >= 0xE0 && lead <= 0xEF)
    length = 3;
  else if (lead >= 0xF0 && lead <= 0xF4)
    length = 4;
  else
    return 0;
  if (at + length > text.size()) return 0;
  for (size_t i = 1; i < length; ++i)
    if ((byte(at + i) & 0xC0) != 0x80) return 0;
  // Overlong forms, surrogates and code points past U+10FFFF.
  if (lead == 0xE0 && byte(at + 1) < 0xA0) return 0;
  if (lead == 0xED && byte(at + 1) > 0x9F) return 0;
  if (lead == 0xF0 && byte(at + 1) < 0x90) return 0;
  if (lead == 0xF4 && byte(at + 1) > 0x8F) return 0;
  return length;
}

void AppendLatin1(std::string& out, uint8_t byte) {
  if (byte >= 0x80) out += static_cast<char>(0xC0 | byte >> 6);
  out += static_cast<char>(byte >= 0x80 ? 0x80 | (byte & 0x3F) : byte);
}

std::string ToUtf8(std::string_view bytes) {
  if (IsUtf8(bytes)) return std::string(bytes);
  std::string text;
  for (const char c : bytes) AppendLatin1(text, static_cast<uint8_t>(c));
  return text;
}

std::string Printable(std::string_view bytes) {
  std::string text = ToUtf8(bytes);
  for (size_t i = 0; i < text.size(); ++i) {
    const auto b = static_cast<uint8_t>(text[i]);
    if (b < 0x20 || b == 0x7F) text[i] = '?';
    // C1 controls, U+0080 to U+009F, are as able to steer a terminal.
    if (b == 0xC2 && i + 1 < text.size() && static_cast<uint8_t>(text[i + 1]) <= 0x9F)
      text.replace(i, 2, "?");
    // Bidirectional embeddings, overrides and isolates (U+202A to U+202E,
    // U+2066 to U+2069) reorder what stands beside them: a name could make
    // a serial or an outcome read backwards.
    if (b == 0xE2 && i + 2 < text.size()) {
      const auto second = static_cast<uint8_t>(text[i + 1]);
      const auto third = static_cast<uint8_t>(text[i + 2]);
      if ((second == 0x80 && third >= 0xAA && third <= 0xAE) ||
          (second == 0x81 && third >= 0xA6 && third <= 0xA9))
        text.replace(i, 3, "?");
    }
  }
  return text;
}

}  // namespace quorvik
