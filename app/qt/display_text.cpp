#include "app/qt/display_text.h"

#include "base/text.h"
#include "records/flat_json.h"

namespace quorvik {

namespace {

bool IsShownAsReplacement(char16_t u) {
  return u < 0x20 || (u >= 0x7F && u <= 0x9F)  // C0, DEL and C1
         || u == 0x2028 || u == 0x2029         // line and paragraph separators
         || (u >= 0x202A && u <= 0x202E)       // embeddings and overrides
         || (u >= 0x2066 && u <= 0x2069);      // isolates
}

QString WithoutControls(QString text) {
  for (QChar& c : text)
    if (IsShownAsReplacement(c.unicode())) c = QChar(QChar::ReplacementCharacter);
  return text;
}

}  // namespace

QString DisplayText(const std::string& bytes) {
  return DisplayUtf8(ToUtf8(bytes));
}

QString DisplayUtf8(const std::string& text) {
  return WithoutControls(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
}

}  // namespace quorvik
