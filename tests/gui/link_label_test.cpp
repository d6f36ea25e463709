// The web link: followed by a left click that ends on it, or by Space or
// Enter while it has the keyboard; nothing else follows it.

#include <QTest>

#include "app/qt/link_label.h"

using namespace quorvik;

class LinkLabelTest : public QObject {
  Q_OBJECT

 private slots:
  void followedByALeftClickOrItsKeysAlone_data() {
    QTest::addColumn<QByteArray>("act");
    QTest::addColumn<int>("followed");
    QTest::newRow("left click") << QByteArray("left") << 1;
    QTest::newRow("right click") << QByteArray("right") << 0;
    QTest::newRow("middle click") << QByteArray("middle") << 0;
    QTest::newRow("left let go outside") << QByteArray("left outside") << 0;
    QTest::newRow("right let go, left still held") << QByteArray("left held, right") << 0;
    QTest::newRow("double click") << QByteArray("double") << 2;
    QTest::newRow("Space") << QByteArray("space") << 1;
    QTest::newRow("Enter") << QByteArray("enter") << 1;
    QTest::newRow("Ctrl+Space") << QByteArray("ctrl space") << 0;
  }
  void followedByALeftClickOrItsKeysAlone() {
    QFETCH(QByteArray, act);
    QFETCH(int, followed);
    CLinkLabel link(QStringLiteral("https://www.belmarr.example/"));
    link.resize(200, 20);
    int clicks = 0;
    link.onClick = [&clicks] { ++clicks; };
    link.show();
    QVERIFY(QTest::qWaitForWindowExposed(&link));
    const QPoint inside(100, 10), outside(300, 10);
    if (act == "left") {
      QTest::mouseClick(&link, Qt::LeftButton, {}, inside);
    } else if (act == "right") {
      QTest::mouseClick(&link, Qt::RightButton, {}, inside);
    } else if (act == "middle") {
      QTest::mouseClick(&link, Qt::MiddleButton, {}, inside);
    } else if (act == "left outside") {
      QTest::mousePress(&link, Qt::LeftButton, {}, inside);
      QTest::mouseRelease(&link, Qt::LeftButton, {}, outside);
    } else if (act == "left held, right") {
      QTest::mousePress(&link, Qt::LeftButton, {}, inside);
      QTest::mouseClick(&link, Qt::RightButton, {}, inside);
      QCOMPARE(clicks, 0);
      // Let go of the left button off the link, so that it follows nothing.
      QTest::mouseRelease(&link, Qt::LeftButton, {}, outside);
    } else if (act == "double") {
      // As a window system sends it: press, release, press, release.
      QTest::mouseDClick(link.windowHandle(), Qt::LeftButton, {}, inside);
    } else if (act == "space") {
      QTest::keyClick(&link, Qt::Key_Space);
    } else if (act == "enter") {
      QTest::keyClick(&link, Qt::Key_Return);
    } else if (act == "ctrl space") {
      QTest::keyClick(&link, Qt::Key_Space, Qt::ControlModifier);
    }
    QCOMPARE(clicks, followed);
  }
};

QTEST_MAIN(LinkLabelTest)
#include "link_label_test.moc"
