// The device list's columns in a window larger than drawn.

#include <gtest/gtest.h>

#include "app/column_widths.h"

namespace {

struct Growing {
  const char* what;
  int growth;
  int serialNeeds;
  std::vector<int> widths;
};

TEST(GrownColumnWidths, TheSerialFirstThenEveryColumnByItsShare) {
  const std::vector<int> drawn = {230, 50, 160, 120};  // device, version, serial, MAC
  const size_t serial = 2;
  for (const Growing& g : std::initializer_list<Growing>{
           {"as drawn", 0, 250, drawn},
           {"narrower than drawn", -40, 250, drawn},
           {"all to a serial that is cut", 60, 250, {230, 50, 220, 120}},
           {"the serial whole, the rest shared", 146, 250, {253, 55, 266, 132}},
           {"a whole serial: all shared", 112, 100, {276, 60, 192, 144}},
       }) {
    EXPECT_EQ(GrownColumnWidths(drawn, g.growth, serial, g.serialNeeds), g.widths) << g.what;
    int sum = 0;
    for (int w : g.widths) sum += w;
    EXPECT_EQ(sum, 560 + std::max(0, g.growth)) << g.what;
  }
}

}  // namespace
