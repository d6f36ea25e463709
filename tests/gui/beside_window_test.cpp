// Where a panel goes beside the window: the place alone, on screens given
// as rectangles.

#include <QRect>
#include <QScreen>
#include <QSize>
#include <QTest>
#include <QWidget>

#include "app/qt/beside_window.h"

using namespace quorvik;

class BesideWindowTest : public QObject {
  Q_OBJECT

 private slots:
  // A 1280 x 800 screen, and one right of it: the panel beside the window
  // where there is room, and on the window's screen always.
  void panelsGoBesideTheWindowAndStayOnItsScreen_data() {
    QTest::addColumn<QRect>("window");
    QTest::addColumn<QSize>("panel");
    QTest::addColumn<QRect>("room");
    QTest::addColumn<QRect>("placed");
    const QRect screen(0, 0, 1280, 800), second(1280, 0, 1920, 1080);
    QTest::newRow("right") << QRect(0, 0, 604, 400) << QSize(400, 300) << screen
                           << QRect(612, 0, 400, 300);
    QTest::newRow("left") << QRect(700, 100, 500, 400) << QSize(600, 400) << screen
                          << QRect(92, 100, 600, 400);
    QTest::newRow("below") << QRect(386, 0, 604, 384) << QSize(940, 384) << screen
                           << QRect(340, 392, 940, 384);
    QTest::newRow("over, from the roomier side, hiding least of it")
        << QRect(300, 200, 604, 500) << QSize(940, 500) << screen << QRect(340, 0, 940, 500);
    QTest::newRow("larger than the screen")
        << QRect(100, 100, 604, 400) << QSize(2000, 1000) << screen << screen;
    QTest::newRow("window partly above the screen")
        << QRect(100, -50, 604, 400) << QSize(300, 200) << screen << QRect(712, 0, 300, 200);
    QTest::newRow("second screen")
        << QRect(2306, 0, 604, 384) << QSize(940, 384) << second << QRect(1358, 0, 940, 384);
  }
  void panelsGoBesideTheWindowAndStayOnItsScreen() {
    QFETCH(QRect, window);
    QFETCH(QSize, panel);
    QFETCH(QRect, room);
    QFETCH(QRect, placed);
    const BesidePlace place = BesideWindow(window, panel, room);
    QCOMPARE(place.panel, placed);
    QCOMPARE(place.window, window.topLeft());
  }

  // A panel that is of use smaller goes beside the window shrunk; where no
  // side holds even that, the window makes room, moving as little as it must.
  void panelsShrinkOrTheWindowMakesRoom() {
    const QRect screen(0, 0, 1280, 800);
    // A bare X server puts the window in the screen's corner: the station
    // goes under it rather than over its buttons.
    BesidePlace place = BesideWindow({0, 0, 686, 396}, {900, 560}, screen, {500, 300});
    QCOMPARE(place.panel, QRect(0, 404, 900, 396));
    QCOMPARE(place.window, QPoint(0, 0));
    // A window manager centres the window: no side holds the plan's columns.
    place = BesideWindow({298, 206, 688, 419}, {1117, 523}, screen, {1117, 300});
    QCOMPARE(place.panel, QRect(163, 0, 1117, 373));
    QCOMPARE(place.window, QPoint(298, 381));
  }

  // On Wayland the compositor places the panel: a position Qt only guesses
  // neither shrinks it nor moves the window.
  void whereTheCompositorPlacesWindowsThePanelKeepsItsSize() {
    if (ProgramPlacesWindows()) QSKIP("this platform lets the program place its windows");
    QWidget window, panel;
    const QRect room = window.screen()->availableGeometry();
    window.setGeometry(room.right() - 700, room.top(), 600, 400);
    panel.resize(room.width() - 500, room.height() - 100);
    const QSize size = panel.size();
    PlaceBesideWindow(&panel, &window, {400, 300});  // else shrunk to the room left of it
    QCOMPARE(panel.size(), size);
    QCOMPARE(window.pos(), QPoint(room.right() - 700, room.top()));
  }
};

QTEST_MAIN(BesideWindowTest)
#include "beside_window_test.moc"
