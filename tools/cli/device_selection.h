#pragma once
// Which row of the device list a command line means. The operator of the
// window clicks a row; a script names the device by its serial number, its
// hardware address or the row a previous `list` printed.

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "devices/device_identity.h"
#include "net/device_record.h"

namespace quorvik {

struct DeviceSelector {
  enum class Kind { kSerial, kMac, kRow };
  Kind kind = Kind::kRow;
  std::vector<uint8_t> serial;
  std::array<uint8_t, 6> mac{};
  int row = 0;
};

// Hex digits as `list` prints them, either case; 1 to 16 bytes.
std::optional<std::vector<uint8_t>> ParseSerial(std::string_view text);
// Six pairs of hex digits separated by '-' or ':', or twelve digits.
std::optional<std::array<uint8_t, 6>> ParseMac(std::string_view text);

// The rows (row i is record i) that the selector names. More than one means
// the command line is ambiguous, none that nothing answered to it.
std::vector<int> MatchingRows(std::span<const DeviceRecord> records,
                              const DeviceSelector& selector);

}  // namespace quorvik
