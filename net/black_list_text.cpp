#include "net/black_list_text.h"

#include <algorithm>

namespace quorvik {

namespace {

bool IsLowerHex(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
}

}  // namespace

std::optional<std::string_view> EntrySerial(std::string_view entry) {
  const size_t first = entry.find_first_not_of(" \t");
  if (first == std::string_view::npos) return std::nullopt;
  entry.remove_prefix(first);
  const std::string_view serial = entry.substr(0, entry.find_first_of(" \t("));
  if (!std::all_of(serial.begin(), serial.end(), IsLowerHex)) return std::nullopt;
  return serial;
}

std::vector<std::string> SplitBlackList(std::string_view text) {
  std::vector<std::string> entries;
  ForEachBlackListEntry(text, [&](std::string_view entry) { entries.emplace_back(entry); });
  return entries;
}

void AppendBlackListEntry(std::string& text, std::string_view entry) {
  if (!text.empty()) text += ';';
  text += entry;
}

namespace {

// Calls `found` with the serial of each entry that has one; the empty entry
// ";;" leaves behind has none.
template <typename Found>
void ForEachSerial(std::string_view text, Found found) {
  ForEachBlackListEntry(text, [&](std::string_view entry) {
    if (const auto serial = EntrySerial(entry)) found(*serial);
  });
}

}  // namespace

void CBlackListText::assign(std::string text) {
  m_text = std::move(text);
  m_emptySerial = false;
  std::vector<std::string> serials;
  ForEachSerial(m_text, [&](std::string_view serial) {
    if (serial.empty())
      m_emptySerial = true;
    else
      serials.emplace_back(serial);
  });
  std::sort(serials.begin(), serials.end());
  m_serials = std::move(serials);
}

void CBlackListText::Append(std::string_view entry) {
  AppendBlackListEntry(m_text, entry);
  // An entry holding ";" (a device name may) is several entries.
  ForEachSerial(entry, [&](std::string_view serial) {
    if (serial.empty()) {
      m_emptySerial = true;
      return;
    }
    const std::string key(serial);
    m_serials.insert(std::upper_bound(m_serials.begin(), m_serials.end(), key), key);
  });
}

bool CBlackListText::Hides(std::string_view key) const {
  if (key.empty()) return m_emptySerial;
  const auto at = std::lower_bound(m_serials.begin(), m_serials.end(), key,
                                   [](const std::string& s, std::string_view k) { return s < k; });
  if (at != m_serials.end() && std::string_view(*at).starts_with(key)) return true;
  // The key may be a listed serial padded with zero bytes.
  std::string_view shorter = key;
  while (shorter.size() >= 2 && shorter.ends_with("00")) {
    shorter.remove_suffix(2);
    if (shorter.empty()) return m_emptySerial;
    if (std::binary_search(m_serials.begin(), m_serials.end(), shorter,
                           [](std::string_view a, std::string_view b) { return a < b; }))
      return true;
  }
  return false;
}

}  // namespace quorvik
