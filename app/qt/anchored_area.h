#pragma once
// The window's client area. Its controls are placed in dialog units for the
// starting size, which is also the smallest: there the window looks as it
// was drawn. When the window grows, each edge of a control moves by its
// share of the growth, so that the list and the log take the new room and
// the controls beside them keep their distance to the edges they belong to.

#include <QPointer>
#include <QRect>
#include <QSize>
#include <QWidget>
#include <vector>

namespace quorvik {

class CAnchoredArea : public QWidget {
 public:
  // How far each edge moves, as a share of the growth (0: stays, 1: moves
  // with the right or bottom edge of the area).
  struct Edges {
    double left = 0, top = 0, right = 0, bottom = 0;
  };

  using QWidget::QWidget;

  void SetStartSize(QSize size);
  // `control` keeps its present geometry at the starting size.
  void Anchor(QWidget* control, Edges edges);

  QSize sizeHint() const override { return m_start; }
  QSize minimumSizeHint() const override { return m_start; }

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  struct Item {
    QPointer<QWidget> control;
    QRect start;
    Edges edges;
  };
  static QRect Place(const Item& item, QSize growth);

  QSize m_start;
  std::vector<Item> m_items;
};

}  // namespace quorvik
