#include "app/qt/display_text.h"

QString DisplayText(const std::string& bytes) {
  QString text = QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
  for (QChar& c : text) {
    const ushort u = c.unicode();
    // C0, DEL, and the C1 controls that Latin-1 puts at 0x80 to 0x9F.
    if (u < 0x20 || (u >= 0x7F && u <= 0x9F)) c = QChar(QChar::ReplacementCharacter);
  }
  return text;
}
