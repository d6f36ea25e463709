#pragma once
// Text that devices and files bring, made fit for a widget. Device names are
// bytes in no known encoding: read as UTF-8 where they are valid UTF-8, as
// the journal reads them, else as Latin-1, which gives every byte a
// character, so that nothing is dropped or rejected. What is stored keeps
// the bytes. Characters that would break a row or a question into lines
// (CR, LF, a line separator) or reorder the text beside a name (a
// bidirectional override or isolate left open) show as U+FFFD instead.

#include <QString>
#include <string>

namespace quorvik {

QString DisplayText(const std::string& bytes);
// The same for text that is UTF-8 (the journal, rig files, what the system
// reports).
QString DisplayUtf8(const std::string& text);

}  // namespace quorvik
