#pragma once
// The black-list text and the test of whether it hides a device. Entries
// are "<serial as lower-case hex> (<name>)" joined by ";". A device's key is
// its serial in the same hex; it is hidden by an entry whose serial starts
// with the key (a running device reports the first 11 bytes of the serial
// its loader reports), or whose serial the key extends with zero bytes only
// (a loader pads a short serial with zeros). Matching anchors at the start
// of each entry's serial: a key found only inside another serial, or in a
// name, hides nothing.

#include <algorithm>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quorvik {

class CBlackListText {
 public:
  CBlackListText() = default;
  explicit CBlackListText(std::string text) { assign(std::move(text)); }
  CBlackListText& operator=(std::string text) {
    assign(std::move(text));
    return *this;
  }

  void assign(std::string text);
  void clear() { assign({}); }
  bool empty() const { return m_text.empty(); }
  const std::string& text() const { return m_text; }
  // Appends an entry with exactly one ";" between entries.
  void Append(std::string_view entry);

  // Whether the device with this key (two lower-case hex digits per serial
  // byte) is hidden. An empty key is hidden only by an entry whose serial is
  // empty, never by the mere presence of text. The serials are kept sorted,
  // so that a list of any length costs a binary search per answer.
  bool Hides(std::string_view key) const;

 private:
  std::string m_text;
  std::vector<std::string> m_serials;  // sorted, without empty ones
  bool m_emptySerial = false;
};

// Calls `entry` with each ";"-separated entry in order: empty entries
// inside are kept, a trailing ";" gives no empty last entry, the empty text
// gives none. Walked by position, so that a list of a hundred thousand
// entries splits in one pass.
template <typename Entry>
void ForEachBlackListEntry(std::string_view text, Entry entry) {
  size_t at = 0;
  while (text.size() + 1 - at > 1) {
    const size_t end = std::min(text.find(';', at), text.size());
    entry(text.substr(at, end - at));
    at = end + 1;
  }
}
std::vector<std::string> SplitBlackList(std::string_view text);
// Appends an entry with exactly one ";" between entries.
void AppendBlackListEntry(std::string& text, std::string_view entry);

// The serial an entry begins with: the text before its name, after any
// blanks a hand-edited file may put first. Empty for an entry whose device
// reported no serial; nothing for text that is no serial at all (upper-case
// digits, a stray piece of a name), which hides no device.
std::optional<std::string_view> EntrySerial(std::string_view entry);

}  // namespace quorvik
