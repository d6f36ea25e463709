#include "tools/cli/device_selection.h"

#include <algorithm>
#include <cctype>
#include <string>

#include "base/hex_text.h"
#include "devices/device_identity.h"
#include "net/reply_processing.h"

namespace quorvik {

std::optional<std::vector<uint8_t>> ParseSerial(std::string_view text) {
  auto bytes = ParseHexBytes(text);
  if (!bytes || bytes->empty() || bytes->size() > 16) return std::nullopt;
  return bytes;
}

std::optional<std::array<uint8_t, 6>> ParseMac(std::string_view text) {
  return ParseMacText(text);
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
    const bool match = selector.kind == DeviceSelector::Kind::kMac
                           ? record.mac == selector.mac
                           : NamedBySerial(record, selector.serial);
    if (match) rows.push_back(static_cast<int>(i));
  }
  return rows;
}

}  // namespace quorvik
