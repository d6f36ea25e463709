// The device list's columns in the room the list has for them.

#include <gtest/gtest.h>

#include "app/column_widths.h"

using namespace quorvik;

namespace {

struct Fitting {
  const char* what;
  int room;
  std::vector<int> needs;  // device, version, serial, MAC
  std::vector<int> widths;
};

TEST(FittedColumnWidths, TheSerialFirstThenEveryColumnByItsShare) {
  const std::vector<int> drawn = {230, 50, 160, 120};
  const size_t serial = 2;
  for (const Fitting& f : std::initializer_list<Fitting>{
           {"as drawn", 560, {120, 40, 150, 110}, drawn},
           {"all room beyond to a serial that is cut",
            620,
            {230, 50, 250, 120},
            {230, 50, 220, 120}},
           {"the serial whole, the rest shared", 706, {120, 40, 250, 110}, {253, 55, 266, 132}},
           {"a whole serial: all shared", 672, {120, 40, 100, 110}, {276, 60, 192, 144}},
           // A 16-byte serial at the drawn size: from the widest spare.
           {"a cut serial takes what others do not need",
            560,
            {130, 40, 224, 110},
            {166, 50, 224, 120}},
           {"a scroll bar's width comes out of the spare",
            546,
            {120, 40, 150, 110},
            {216, 50, 160, 120}},
           {"nothing to spare: as drawn", 560, {230, 50, 250, 120}, drawn},
       }) {
    const std::vector<int> widths = FittedColumnWidths(drawn, f.room, serial, f.needs);
    EXPECT_EQ(widths, f.widths) << f.what;
    int sum = 0;
    for (int w : widths) sum += w;
    EXPECT_EQ(sum, f.room) << f.what;
  }
}

}  // namespace
