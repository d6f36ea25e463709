#include "app/qt/link_label.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionFocusRect>

namespace quorvik {

void CLinkLabel::mousePressEvent(QMouseEvent* event) {
  m_held = event->buttons();
  QLabel::mousePressEvent(event);
}

void CLinkLabel::mouseReleaseEvent(QMouseEvent* event) {
  // The left button is the one let go when it was held and is no more.
  const bool left = m_held.testFlag(Qt::LeftButton) && !event->buttons().testFlag(Qt::LeftButton);
  m_held = event->buttons();
  if (left && rect().contains(event->position().toPoint()) && onClick) onClick();
}

void CLinkLabel::keyPressEvent(QKeyEvent* event) {
  const int key = event->key();
  if ((key == Qt::Key_Space || key == Qt::Key_Return || key == Qt::Key_Enter) &&
      event->modifiers() == Qt::NoModifier && onClick) {
    onClick();
    return;
  }
  QLabel::keyPressEvent(event);
}

void CLinkLabel::paintEvent(QPaintEvent* event) {
  QLabel::paintEvent(event);
  if (!hasFocus()) return;
  // A label draws no focus of its own; without this the keyboard would
  // be on it unseen.
  QPainter painter(this);
  QStyleOptionFocusRect option;
  option.initFrom(this);
  option.rect = contentsRect().intersected(QStyle::alignedRect(
      layoutDirection(), alignment(), fontMetrics().size(0, text()) + QSize(4, 2), contentsRect()));
  style()->drawPrimitive(QStyle::PE_FrameFocusRect, &option, &painter, this);
}

}  // namespace quorvik
