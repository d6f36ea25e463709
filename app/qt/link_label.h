#pragma once
// The web address: a label that reports clicks and looks like a link. The
// keyboard reaches it by Tab and follows it with Space or Enter, as it
// would press a button.

#include <QLabel>
#include <functional>

namespace quorvik {

class CLinkLabel : public QLabel {
 public:
  using QLabel::QLabel;
  std::function<void()> onClick;

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void paintEvent(QPaintEvent* event) override;

 private:
  // The buttons held at the last press: a release lets go of one of them.
  Qt::MouseButtons m_held;
};

}  // namespace quorvik
