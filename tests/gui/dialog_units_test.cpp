// The window's dialog units: the drawn layout converted with the font in
// use.

#include <QTest>

#include "app/qt/dialog_units.h"

using namespace quorvik;

class DialogUnitsTest : public QObject {
  Q_OBJECT

 private slots:
  void dialogUnitsKeepEdgesTogether() {
    const CDialogUnits du(7, 15);
    QCOMPARE(du.X(4), 7);
    QCOMPARE(du.Y(8), 15);
    // Neighbours that touch in units touch in pixels.
    QCOMPARE(du.Rect(7, 29, 3, 5).right() + 1, du.Rect(10, 29, 3, 5).x());
    QCOMPARE(du.ScalePixels(120), 140);
    // Never below the original's size: the pixel column widths must fit.
    const CDialogUnits tiny(2, 5);
    QCOMPARE(tiny.X(4), 6);
    QCOMPARE(tiny.Y(8), 13);
  }
};

QTEST_MAIN(DialogUnitsTest)
#include "dialog_units_test.moc"
