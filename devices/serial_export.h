#pragma once
// Serial numbers collected as lines of hex constants for the clipboard.

#include <string>

#include "net/device_record.h"

namespace quorvik {

// "0x01,0x02,...\r\n" for an 11-byte identity, "0x00112233,...\r\n" for a
// 16-byte one: upper-case digits after a lower-case "0x". Empty for any
// other length.
std::string BuildSerialLine(const DeviceRecord& record);

// Lines in a collection: its CR LF pairs.
int CountSerialLines(const std::string& collection);

}  // namespace quorvik
