#pragma once
// Writes firmware image files byte by byte for tests.

#include <cstdint>
#include <string>
#include <vector>

namespace quorvik {

struct TestSection {
  uint16_t mcuCode = 0;
  uint16_t deviceType = 0;
  uint8_t paramHigh = 0;
  uint8_t paramLow = 0;
  std::vector<uint8_t> data;
};

// The file's bytes: format version, then (from version 2) the section count,
// then each section's header and data.
std::vector<uint8_t> FirmwareFileBytes(uint8_t version, const std::vector<TestSection>& sections);
void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes);
// `count` bytes of a recognisable pattern.
std::vector<uint8_t> PatternBytes(size_t count, uint8_t seed = 1);

}  // namespace quorvik
