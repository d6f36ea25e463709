#pragma once
// Text that devices and files bring, made fit for a widget. Device names are
// bytes: Latin-1 gives every byte a character, so nothing is dropped or
// rejected; control characters (a CR or LF in a name, say) would break a
// row or a question into lines, so they show as U+FFFD instead. What is
// stored keeps the bytes.

#include <QString>
#include <string>

QString DisplayText(const std::string& bytes);
// The same for text that is UTF-8 (the journal, rig files, what the system
// reports): decoded as such, its control characters shown as U+FFFD.
QString DisplayUtf8(const std::string& text);
