#include "app/qt/display_text.h"

namespace {

QString WithoutControls(QString text) {
  for (QChar& c : text) {
    const ushort u = c.unicode();
    // C0, DEL, and the C1 controls (which Latin-1 puts at 0x80 to 0x9F).
    if (u < 0x20 || (u >= 0x7F && u <= 0x9F)) c = QChar(QChar::ReplacementCharacter);
  }
  return text;
}

}  // namespace

QString DisplayText(const std::string& bytes) {
  return WithoutControls(QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size())));
}

QString DisplayUtf8(const std::string& text) {
  return WithoutControls(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
}
