#pragma once
// Text from devices and files whose encoding nobody promised: device names
// are bytes, labels may come from an editor that saved Latin-1.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace quorvik {

// Valid UTF-8 passes unchanged; anything else is read as Latin-1.
std::string ToUtf8(std::string_view bytes);
// ToUtf8, with control characters and bidirectional overrides shown as
// '?', so that a device name can neither move the cursor, recolour a
// terminal nor reorder the line it stands in.
std::string Printable(std::string_view bytes);

// Length of the UTF-8 sequence starting at `at`, or 0 when it is not one
// (a stray continuation byte, an overlong form, a surrogate, too short).
size_t Utf8SequenceLength(std::string_view text, size_t at);
// `byte` read as Latin-1, appended as UTF-8.
void AppendLatin1(std::string& out, uint8_t byte);

}  // namespace quorvik
