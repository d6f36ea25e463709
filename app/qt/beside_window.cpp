#include "app/qt/beside_window.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <algorithm>

namespace {

constexpr int kGap = 8;

// The start of a length `length` that lies at `at` where it can, else as
// near as it can within [low, low + room).
int Within(int at, int length, int low, int room) {
  return std::clamp(at, low, low + room - length);
}

}  // namespace

QRect BesideWindow(const QRect& window, QSize size, const QRect& room) {
  size = size.boundedTo(room.size());
  const int top = Within(window.top(), size.height(), room.top(), room.height());
  const QRect choices[] = {
      {QPoint(window.right() + 1 + kGap, top), size},
      {QPoint(window.left() - kGap - size.width(), top), size},
      {QPoint(Within(window.left(), size.width(), room.left(), room.width()),
              window.bottom() + 1 + kGap),
       size},
  };
  for (const QRect& place : choices)
    if (room.contains(place)) return place;
  const bool moreOnTheRight = room.right() - window.right() >= window.left() - room.left();
  return {QPoint(moreOnTheRight ? room.right() + 1 - size.width() : room.left(), top), size};
}

void PlaceBesideWindow(QWidget* panel, const QWidget* window) {
  const QRect frame = window->frameGeometry();
  QScreen* screen = QGuiApplication::screenAt(frame.center());
  if (screen == nullptr) screen = window->screen();
  // A panel that has not shown yet has no frame: it will get one like the
  // window's.
  const QSize frameMargins = frame.size() - window->size();
  const QRect place =
      BesideWindow(frame, panel->size() + frameMargins, screen->availableGeometry());
  panel->resize(place.size() - frameMargins);
  panel->move(place.topLeft());
}
