#pragma once
// Panels that the main window opens beside itself (the roll-call, the update
// history, the network check, the fleet plan, the station, recovery) are
// read while the operator works in the window: they go where both show at
// once, and never past the edge of the screen that holds the window, where a
// part of them, often their summary line, would be out of reach.

#include <QPoint>
#include <QRect>
#include <QSize>

class QWidget;

namespace quorvik {

// Where a panel of `size` goes, frames included, and where the window goes
// for it. Right of `window`, else left of it, below it or above it, whole
// where a side has room for it. Else the side with the most room takes it,
// shrunk to that room, as long as it holds `least` (by default the whole
// panel). Else the window moves, as little as makes such room on a side, and
// the panel goes there. Where not even that gives a side `least`, the panel
// goes over the window, from the side where the screen has more, at the
// height where it hides least of the window. Within `room` in every case,
// shrunk to it when larger.
struct BesidePlace {
  QRect panel;
  QPoint window;  // the window's top left: where it is unless it makes room
};
BesidePlace BesideWindow(const QRect& window, QSize size, const QRect& room, QSize least = {});

// Whether the program places its own windows: not on Wayland, where the
// compositor does, by their parent for the window's panels and dialogs.
bool ProgramPlacesWindows();

// Moves and sizes the top-level `panel`, before it first shows, to its place
// beside `window` (which moves when it must make room); `least` is by
// default the panel's layout minimum. Where the program does not place its
// windows, only sizes it to the window's screen.
void PlaceBesideWindow(QWidget* panel, QWidget* window, QSize least = {});

}  // namespace quorvik
