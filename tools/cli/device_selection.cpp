#include "tools/cli/device_selection.h"

#include <algorithm>
#include <cctype>
#include <string>

#include "devices/device_identity.h"
#include "net/reply_processing.h"

namespace {

std::optional<uint8_t> HexDigit(char c) {
  if (c >= '0' && c <= '9') return static_cast<uint8_t>(c - '0');
  const char lower = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (lower >= 'a' && lower <= 'f') return static_cast<uint8_t>(lower - 'a' + 10);
  return std::nullopt;
}

std::optional<std::vector<uint8_t>> ParseHexBytes(std::string_view text) {
  if (text.empty() || text.size() % 2 != 0) return std::nullopt;
  std::vector<uint8_t> bytes;
  for (size_t i = 0; i < text.size(); i += 2) {
    const auto high = HexDigit(text[i]), low = HexDigit(text[i + 1]);
    if (!high || !low) return std::nullopt;
    bytes.push_back(static_cast<uint8_t>(*high << 4 | *low));
  }
  return bytes;
}

// Identities compare as the devices compare them: padded with zeros to 16.
std::array<uint8_t, 16> Padded(std::span<const uint8_t> bytes) {
  std::array<uint8_t, 16> padded{};
  std::copy_n(bytes.begin(), std::min(bytes.size(), padded.size()), padded.begin());
  return padded;
}

}  // namespace

std::optional<std::vector<uint8_t>> ParseSerial(std::string_view text) {
  auto bytes = ParseHexBytes(text);
  if (!bytes || bytes->size() > 16) return std::nullopt;
  return bytes;
}

std::optional<std::array<uint8_t, 6>> ParseMac(std::string_view text) {
  std::string digits;
  if (text.size() == 17) {
    const char separator = text[2];
    if (separator != '-' && separator != ':') return std::nullopt;
    for (size_t i = 0; i < text.size(); ++i) {
      if (i % 3 == 2) {
        if (text[i] != separator) return std::nullopt;
      } else {
        digits += text[i];
      }
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

std::vector<int> MatchingRows(std::span<const DeviceRecord> records,
                              const DeviceSelector& selector) {
  std::vector<int> rows;
  if (selector.kind == DeviceSelector::Kind::kRow) {
    if (selector.row >= 0 && static_cast<size_t>(selector.row) < records.size())
      rows.push_back(selector.row);
    return rows;
  }
  for (size_t i = 0; i < records.size(); ++i) {
    const DeviceRecord& record = records[i];
    const bool match =
        selector.kind == DeviceSelector::Kind::kMac
            ? record.mac == selector.mac
            // Unit records carry no identity: a serial never names them.
            : record.identityLength > 0 && PaddedIdentity(record) == Padded(selector.serial);
    if (match) rows.push_back(static_cast<int>(i));
  }
  return rows;
}
