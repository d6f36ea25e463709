// The roll-call on the real window, played network: a rig saved through the
// Application menu, a panel beside the window that follows every Find, and
// a chosen device selected in the main list, which otherwise stays as it
// is. No socket is opened; every wait of the logic passes at once.

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QFileDialog>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>
#include <QTreeView>
#include <QTreeWidget>
#include <fstream>

#include "app/qt/quorvik_window.h"
#include "base/text.h"
#include "tests/gui/played_window.h"
#include "tests/gui/widget_test_support.h"
#include "tests/support/scratch_directory.h"

using namespace quorvik;

namespace {

const std::vector<uint8_t> kMacC = {0x02, 0x10, 0x20, 0x30, 0x40, 0xCD};
const std::vector<uint8_t> kMacD = {0x02, 0x10, 0x20, 0x30, 0x40, 0xDD};

QStringList ListRows(const QTreeWidget* list) {
  QStringList rows;
  for (int i = 0; i < list->topLevelItemCount(); ++i)
    rows << list->topLevelItem(i)->text(0) + QLatin1Char('|') + list->topLevelItem(i)->text(2);
  return rows;
}

}  // namespace

class RollCallTest : public QObject, CPlayedWindowFixture {
  Q_OBJECT

 private:
  // Played devices: version of A, and whether B and D answer.
  uint16_t versionA = 0x0203;
  bool bAnswers = true, dAnswers = false;

  // A: running node; B: a loader; C: running node; D: a newcomer.
  void Answer() {
    network.onSearch = [this](bool boot) {
      if (boot) {
        if (bAnswers)
          ProcessDatagram(
              network.devices, kBootPortA,
              Gen1Answer(1, 0x0105, 0x0461, 512, kMacA, IdentityBytes(0x01, 11)).Span());
        return;
      }
      ProcessDatagram(network.devices, kAppPort,
                      AppAnswer(versionA, kMacB, "Node A", IdentityBytes(0xA0, 11)).Span());
      ProcessDatagram(network.devices, kAppPort,
                      AppAnswer(0x0100, kMacC, "Node C", IdentityBytes(0xC0, 11)).Span());
      if (dAnswers)
        ProcessDatagram(network.devices, kAppPort,
                        AppAnswer(0x0100, kMacD, "Node D", IdentityBytes(0xD0, 11)).Span());
    };
  }
  // A menu item, chosen with the keyboard through the menu bar.
  void ChooseFromApplicationMenu(char mnemonic) {
    QVERIFY(HasKeyboard(&view()));
    QTest::keyClick(view().windowHandle(), Qt::Key_A, Qt::AltModifier);
    QTRY_VERIFY(QApplication::activePopupWidget() != nullptr);
    QTest::keyClick(QApplication::activePopupWidget()->windowHandle(), mnemonic);
  }
  QString GroupTitle(CRollCallPanel* panel, RollCallStatus status) {
    return panel->model()->GroupIndex(status).data().toString();
  }
  QModelIndex Line(CRollCallPanel* panel, RollCallStatus status, int n, int column = 0) {
    return panel->model()->index(n, column, panel->model()->GroupIndex(status));
  }

 private slots:
  void init() {
    // The black-list hides a spare that the rig will hold.
    std::ofstream("Quorvik.ini", std::ios::trunc)
        << "[APP]\nHIDDEN=e0e1e2e3e4e5e6e7e8e9ea (Spare)\n";
    network.Reset();
    network.addresses = {{10, 0, 0, 12}};
    Answer();
    StartWindow({});
  }
  void cleanup() {
    while (QWidget* modal = QApplication::activeModalWidget()) modal->close();
    window.reset();
  }

  void aSavedRigIsCalledAfterEveryFindAndPointsIntoTheList() {
    const QString rig = QString::fromStdString((scratch.path() / "show.rig.json").string());
    QString saidAfterSave;
    WhenModalShows(this, [&](QWidget* dialog) {
      TypeFileName(dialog, rig);
      WhenModalShows(this, [&](QWidget* box) {
        saidAfterSave = qobject_cast<QMessageBox*>(box)->informativeText();
        box->close();
      });
    });
    ChooseFromApplicationMenu('s');
    QTRY_VERIFY(!saidAfterSave.isEmpty());
    QCOMPARE(saidAfterSave, rig + QStringLiteral(": 3 device(s): 3 new, 0 found again"));

    // The technician labels a node and adds the black-listed spare.
    RigRead read = ReadRigFile(rig.toStdString());
    QVERIFY(read.rig);
    for (RigEntry& e : read.rig->devices)
      if (SerialText(e.serial) == "A0A1A2A3A4A5A6A7A8A9AA") e.label = "Truss 3 SR";
    RigEntry spare;
    spare.serial = IdentityBytes(0xE0, 11);
    spare.label = "Spare";
    read.rig->devices.push_back(spare);
    std::ofstream(rig.toStdString()) << EncodeRig(*read.rig, "2026-12-08T09:00:00.000Z");

    ChooseFromApplicationMenu('r');
    QTRY_VERIFY(window->view().findChild<CRollCallPanel*>() != nullptr);
    CRollCallPanel* panel = window->view().findChild<CRollCallPanel*>();
    QVERIFY(!panel->isModal());
    QAbstractItemModelTester checked(panel->model(),
                                     QAbstractItemModelTester::FailureReportingMode::QtTest);
    // A broken file leaves the rig shown as it was.
    std::ofstream(scratch.path() / "broken.json") << R"({"format": 1, "type": "quorvik-rig",)";
    QVERIFY(panel->LoadRig((scratch.path() / "broken.json").string()).find("cut short") !=
            std::string::npos);
    QCOMPARE(panel->LoadRig(rig.toStdString()), std::string());
    // Compared with the start-up Find at once.
    QCOMPARE(GroupTitle(panel, RollCallStatus::kPresent), QStringLiteral("Present (3)"));
    QCOMPARE(GroupTitle(panel, RollCallStatus::kHidden), QStringLiteral("Hidden (1)"));
    QVERIFY(panel->summary()->text().startsWith(QStringLiteral("As saved")));

    // A runs new firmware, B is gone, D is new: the next Find tells.
    versionA = 0x0204;
    bAnswers = false;
    dAnswers = true;
    QTest::mouseClick(view().button(Button::kFind), Qt::LeftButton);
    QVERIFY(Settled());
    QTRY_COMPARE(GroupTitle(panel, RollCallStatus::kChanged), QStringLiteral("Changed (1)"));
    for (const auto& [status, count] : {std::pair{RollCallStatus::kPresent, 1},
                                        {RollCallStatus::kMissing, 1},
                                        {RollCallStatus::kUnexpected, 1},
                                        {RollCallStatus::kHidden, 1}})
      QCOMPARE(panel->model()->rowCount(panel->model()->GroupIndex(status)), count);
    QCOMPARE(Line(panel, RollCallStatus::kChanged, 0).data().toString(),
             QStringLiteral("Truss 3 SR"));
    QCOMPARE(Line(panel, RollCallStatus::kChanged, 0, CRollCallModel::kVersion).data().toString(),
             QStringLiteral("2.03 \u2192 2.04"));
    QVERIFY(panel->summary()->text().startsWith(QStringLiteral("Not as saved")));

    // Choosing a listed device selects its row; the list stays as it is.
    const QStringList rows = ListRows(view().deviceList());
    const QString countLine = view().statusLog()->item(view().statusLog()->count() - 1)->text();
    const int rowOfC =
        Line(panel, RollCallStatus::kPresent, 0).data(CRollCallModel::kRowRole).toInt();
    QVERIFY(rowOfC > 0);
    QTreeView* tree = panel->tree();
    // As a mouse sends it: press, release, double-click, release.
    const QPoint at = tree->visualRect(Line(panel, RollCallStatus::kPresent, 0)).center();
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseDClick(tree->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseRelease(tree->viewport(), Qt::LeftButton, {}, at);
    QTRY_COMPARE(view().SelectedRow(), rowOfC);
    QVERIFY(Settled());
    QVERIFY(view().deviceList()->topLevelItem(rowOfC)->isSelected());

    // And with the keyboard: the unexpected newcomer, then Enter.
    QVERIFY(HasKeyboard(panel));
    tree->setFocus(Qt::TabFocusReason);
    QTest::keyClick(panel->windowHandle(), Qt::Key_End);  // the hidden spare, which is not listed
    QTest::keyClick(panel->windowHandle(), Qt::Key_Return);
    QTest::keyClick(panel->windowHandle(), Qt::Key_Up);
    QTest::keyClick(panel->windowHandle(), Qt::Key_Up);
    QCOMPARE(tree->currentIndex(), Line(panel, RollCallStatus::kUnexpected, 0));
    QTest::keyClick(panel->windowHandle(), Qt::Key_Return);
    const int rowOfD =
        Line(panel, RollCallStatus::kUnexpected, 0).data(CRollCallModel::kRowRole).toInt();
    QTRY_COMPARE(view().SelectedRow(), rowOfD);
    QVERIFY(Settled());
    QCOMPARE(ListRows(view().deviceList()), rows);
    QCOMPARE(view().statusLog()->item(view().statusLog()->count() - 1)->text(), countLine);
    QVERIFY(panel->isVisible());
  }

  // However close the window is to the edge of its screen, the panel opens
  // whole on that screen. ctest gives the test two screens of different
  // sizes.
  void thePanelOpensWholeOnTheWindowsScreen() {
    for (QScreen* screen : QGuiApplication::screens()) {
      const QRect room = screen->availableGeometry();
      QVERIFY(QTest::qWaitForWindowExposed(&view()));
      const QPoint at(room.right() - 290 - view().frameGeometry().width(), room.top());
      view().move(at);
      QTRY_COMPARE(view().frameGeometry().topLeft(), at);
      ChooseFromApplicationMenu('r');
      QTRY_VERIFY(view().findChild<CRollCallPanel*>() != nullptr);
      CRollCallPanel* panel = view().findChild<CRollCallPanel*>();
      QVERIFY(HasKeyboard(panel));
      QVERIFY2(room.contains(panel->frameGeometry()), qPrintable(screen->name()));
      QTest::keyClick(panel->windowHandle(), Qt::Key_Escape);
      QTRY_VERIFY(view().findChild<CRollCallPanel*>() == nullptr);
    }
  }

  // Each group has an icon whose shape tells it from every other without
  // colour.
  void theGroupsDifferInGreyScale() {
    std::vector<QImage> grey;
    for (const RollCallStatus status : kRollCallStatuses)
      grey.push_back(
          RollCallIcon(status).pixmap(24).toImage().convertToFormat(QImage::Format_Grayscale8));
    for (size_t a = 0; a < grey.size(); ++a)
      for (size_t b = a + 1; b < grey.size(); ++b) {
        int differing = 0;
        for (int y = 0; y < 24; ++y)
          for (int x = 0; x < 24; ++x)
            differing += std::abs(qGray(grey[a].pixel(x, y)) - qGray(grey[b].pixel(x, y))) > 60;
        QVERIFY2(differing > 24, qPrintable(QStringLiteral("%1 and %2").arg(a).arg(b)));
      }
  }
};

QTEST_MAIN(RollCallTest)
#include "roll_call_test.moc"
