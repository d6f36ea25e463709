#pragma once
// The device list's columns as the window grows. At the drawn size they keep
// their drawn widths, which fill the list; room beyond it goes first to the
// column whose text is cut (the serial, whose tail tells two devices apart),
// until it shows whole, then to every column by its drawn share.

#include <cstddef>
#include <vector>

// `growth`: how much wider than drawn the list is (at most 0: as drawn);
// `needs`: the width that shows the whole text of column `first`.
std::vector<int> GrownColumnWidths(const std::vector<int>& drawn, int growth, size_t first,
                                   int needs);
