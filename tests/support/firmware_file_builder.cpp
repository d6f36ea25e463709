#include "tests/support/firmware_file_builder.h"

#include <fstream>

namespace quorvik {

std::vector<uint8_t> FirmwareFileBytes(uint8_t version, const std::vector<TestSection>& sections) {
  std::vector<uint8_t> out{version};
  if (version >= 2) out.push_back(static_cast<uint8_t>(sections.size()));
  auto be16 = [&](uint16_t v) {
    out.push_back(static_cast<uint8_t>(v >> 8));
    out.push_back(static_cast<uint8_t>(v));
  };
  for (const TestSection& s : sections) {
    if (version >= 2) be16(s.mcuCode);
    be16(s.deviceType);
    out.push_back(s.paramHigh);
    out.push_back(s.paramLow);
    out.insert(out.end(), {0xDE, 0xAD, 0xBE, 0xEF});  // reserved
    const auto n = static_cast<uint32_t>(s.data.size());
    be16(static_cast<uint16_t>(n >> 16));
    be16(static_cast<uint16_t>(n));
    out.insert(out.end(), s.data.begin(), s.data.end());
  }
  return out;
}

void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

std::vector<uint8_t> PatternBytes(size_t count, uint8_t seed) {
  std::vector<uint8_t> v(count);
  for (size_t i = 0; i < count; ++i) v[i] = static_cast<uint8_t>(i * 31 + seed);
  return v;
}

}  // namespace quorvik
