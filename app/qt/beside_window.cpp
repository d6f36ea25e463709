#include "app/qt/beside_window.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <algorithm>
#include <array>
#include <optional>

namespace quorvik {

namespace {

constexpr int kGap = 8;

// The start of a length `length` that lies at `at` where it can, else as
// near as it can within [low, low + room).
int Within(int at, int length, int low, int room) {
  return std::clamp(at, low, low + room - length);
}

long long Area(const QRect& r) {
  return r.isValid() ? static_cast<long long>(r.width()) * r.height() : 0;
}

}  // namespace

BesidePlace BesideWindow(const QRect& window, QSize size, const QRect& room, QSize least) {
  size = size.boundedTo(room.size());
  least = least.isValid() ? least.boundedTo(size) : size;
  // The four sides of a window at `at`, each as large as the room there
  // lets it be, up to the panel's size.
  const auto sides = [&](const QRect& at) {
    const int top = Within(at.top(), size.height(), room.top(), room.height());
    const int left = Within(at.left(), size.width(), room.left(), room.width());
    const int right = std::min(size.width(), room.right() - at.right() - kGap);
    const int leftward = std::min(size.width(), at.left() - kGap - room.left());
    const int below = std::min(size.height(), room.bottom() - at.bottom() - kGap);
    const int above = std::min(size.height(), at.top() - kGap - room.top());
    return std::array<QRect, 4>{QRect(at.right() + 1 + kGap, top, right, size.height()),
                                QRect(at.left() - kGap - leftward, top, leftward, size.height()),
                                QRect(left, at.bottom() + 1 + kGap, size.width(), below),
                                QRect(left, at.top() - kGap - above, size.width(), above)};
  };
  const auto holds = [&](const QRect& place) {
    return place.width() >= least.width() && place.height() >= least.height() &&
           room.contains(place);
  };
  const std::array<QRect, 4> here = sides(window);
  const QRect* best = nullptr;
  for (const QRect& place : here) {
    if (place.size() == size && room.contains(place)) return {place, window.topLeft()};
    if (holds(place) && (best == nullptr || Area(place) > Area(*best))) best = &place;
  }
  if (best != nullptr) return {*best, window.topLeft()};

  // The window makes room: pushed towards one edge as far as lets the
  // panel on the other side be as large as the screen allows.
  const int wide = std::min(size.width(), room.width() - window.width() - kGap);
  const int tall = std::min(size.height(), room.height() - window.height() - kGap);
  const QPoint moves[] = {
      {std::min(0, room.right() + 1 - kGap - wide - window.width() - window.left()), 0},
      {std::max(0, room.left() + wide + kGap - window.left()), 0},
      {0, std::min(0, room.bottom() + 1 - kGap - tall - window.height() - window.top())},
      {0, std::max(0, room.top() + tall + kGap - window.top())},
  };
  std::optional<BesidePlace> moved;
  for (size_t side = 0; side < 4; ++side) {
    const QRect at = window.translated(moves[side]);
    const QRect place = sides(at)[side];
    if (!holds(place)) continue;
    const bool larger = !moved || Area(place) > Area(moved->panel);
    const bool nearer =
        moved && Area(place) == Area(moved->panel) &&
        moves[side].manhattanLength() < (moved->window - window.topLeft()).manhattanLength();
    if (larger || nearer) moved = BesidePlace{place, at.topLeft()};
  }
  if (moved) return *moved;

  const bool moreOnTheRight = room.right() - window.right() >= window.left() - room.left();
  const int x = moreOnTheRight ? room.right() + 1 - size.width() : room.left();
  // Level with the window, or against the screen's top or bottom edge,
  // whichever hides less of the window.
  QRect over;
  for (const int y : {here[0].top(), room.top(), room.bottom() + 1 - size.height()}) {
    const QRect place(QPoint(x, y), size);
    if (!over.isValid() || Area(place & window) < Area(over & window)) over = place;
  }
  return {over, window.topLeft()};
}

bool ProgramPlacesWindows() {
  // Wayland's xdg_toplevel has no request that sets a window's position and
  // no event that tells it.
  return !QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
}

void PlaceBesideWindow(QWidget* panel, QWidget* window, QSize least) {
  const QRect frame = window->frameGeometry();
  // A panel that has not shown yet has no frame: it will get one like the
  // window's.
  const QSize frameMargins = frame.size() - window->size();
  if (!ProgramPlacesWindows()) {
    // The position Qt reports there is a guess of its own: placed by it, a
    // panel would be shrunk, or the window moved, for room that may be
    // there. The compositor places the panel by its parent; it gets its
    // whole size, as far as the window's screen holds it.
    const QSize room = window->screen()->availableGeometry().size() - frameMargins;
    panel->resize(panel->size().boundedTo(room));
    return;
  }
  QScreen* screen = QGuiApplication::screenAt(frame.center());
  if (screen == nullptr) screen = window->screen();
  if (!least.isValid()) least = panel->minimumSizeHint();
  const BesidePlace place =
      BesideWindow(frame, panel->size() + frameMargins, screen->availableGeometry(),
                   least.isValid() ? least + frameMargins : QSize());
  if (place.window != frame.topLeft()) window->move(place.window);
  panel->resize(place.panel.size() - frameMargins);
  panel->move(place.panel.topLeft());
}

}  // namespace quorvik
