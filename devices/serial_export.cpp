#include "devices/serial_export.h"

#include <cctype>
#include <cstdio>

namespace quorvik {

std::string BuildSerialLine(const DeviceRecord& record) {
  const auto& b = record.identity;
  char line[64];
  if (record.identityLength == 11) {
    std::snprintf(
        line, sizeof line,
        "0x%.2x,0x%.2x,0x%.2x,0x%.2x,0x%.2x,0x%.2x,0x%.2x,0x%.2x,0x%.2x,0x%.2x,0x%.2x\r\n", b[0],
        b[1], b[2], b[3], b[4], b[5], b[6], b[7], b[8], b[9], b[10]);
  } else if (record.identityLength == 16) {
    std::snprintf(line, sizeof line,
                  "0x%.2x%.2x%.2x%.2x,0x%.2x%.2x%.2x%.2x,0x%.2x%.2x%.2x%.2x,0x%.2x%.2x%.2x%.2x\r\n",
                  b[0], b[1], b[2], b[3], b[4], b[5], b[6], b[7], b[8], b[9], b[10], b[11], b[12],
                  b[13], b[14], b[15]);
  } else {
    return {};
  }
  std::string text = line;
  for (char& c : text)
    if (c != 'x') c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

int CountSerialLines(const std::string& collection) {
  int lines = 0;
  for (size_t at = collection.find("\r\n", 1); at != std::string::npos;
       at = collection.find("\r\n", at + 2))
    ++lines;
  return lines;
}

}  // namespace quorvik
