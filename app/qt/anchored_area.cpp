#include "app/qt/anchored_area.h"

#include <QResizeEvent>
#include <algorithm>
#include <cmath>

namespace quorvik {

void CAnchoredArea::SetStartSize(QSize size) {
  m_start = size;
  setMinimumSize(size);
  updateGeometry();
}

void CAnchoredArea::Anchor(QWidget* control, Edges edges) {
  m_items.push_back({control, control->geometry(), edges});
}

QRect CAnchoredArea::Place(const Item& item, QSize growth) {
  // Edges, not sizes, are moved and rounded, so that controls which touch
  // at the starting size still touch.
  const auto move = [](int edge, double share, int by) {
    return edge + static_cast<int>(std::lround(share * by));
  };
  const QRect& s = item.start;
  const int left = move(s.x(), item.edges.left, growth.width());
  const int top = move(s.y(), item.edges.top, growth.height());
  const int right = move(s.x() + s.width(), item.edges.right, growth.width());
  const int bottom = move(s.y() + s.height(), item.edges.bottom, growth.height());
  return QRect(left, top, right - left, bottom - top);
}

void CAnchoredArea::resizeEvent(QResizeEvent* event) {
  const QSize growth(std::max(0, event->size().width() - m_start.width()),
                     std::max(0, event->size().height() - m_start.height()));
  for (const Item& item : m_items)
    if (item.control) item.control->setGeometry(Place(item, growth));
  QWidget::resizeEvent(event);
}

}  // namespace quorvik
