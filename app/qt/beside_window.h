#pragma once
// Panels that the main window opens beside itself (the roll-call, the update
// history, the network check, the fleet plan) are read while the operator
// works in the window: they go where both show at once, and never past the
// edge of the screen that holds the window, where a part of them, often
// their summary line, would be out of reach.

#include <QRect>
#include <QSize>

class QWidget;

// Where a panel of `size` goes, frames included: right of `window`, else
// left of it, else below it; where none of these has room, over it, from
// the side where the screen has more. Within `room` in every case, shrunk
// to it when larger.
QRect BesideWindow(const QRect& window, QSize size, const QRect& room);

// Moves and, where the screen is too small, shrinks the top-level `panel`,
// before it first shows, to its place beside `window`.
void PlaceBesideWindow(QWidget* panel, const QWidget* window);
