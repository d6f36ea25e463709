#pragma once
// The device list's columns in the room the list has for them. As drawn they
// fill the list. A column whose text is cut (the serial, whose tail tells two
// devices apart) gets room first: from room beyond the drawn widths, then
// from columns wider than their own text. Room still beyond goes to every
// column by its drawn share; room short of the drawn widths (a scroll bar,
// say) comes out of columns wider than their text, so that no column is cut
// for it where none has to be.

#include <cstddef>
#include <vector>

namespace quorvik {

// `room`: the width the columns share; `needs`: the width that shows each
// column's whole text, header included; `first`: the column served first.
std::vector<int> FittedColumnWidths(const std::vector<int>& drawn, int room, size_t first,
                                    const std::vector<int>& needs);

}  // namespace quorvik
