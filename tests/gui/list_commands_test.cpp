// The device list's mouse commands on the real window, played network: the
// context menu a row gets, the device buttons a click leaves, the black-list
// dialog and the serial collection on the clipboard. No socket is opened;
// every wait of the logic passes at once.

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTreeView>
#include <QTreeWidget>
#include <fstream>
#include <iterator>
#include <optional>

#include "app/qt/display_text.h"
#include "app/qt/quorvik_window.h"
#include "net/reply_processing.h"
#include "records/settings_file.h"
#include "tests/gui/played_window.h"
#include "tests/gui/widget_test_support.h"
#include "tests/support/datagram_builder.h"
#include "tests/support/fake_main_view.h"
#include "tests/support/scratch_directory.h"

using namespace quorvik;

namespace {

const std::vector<uint8_t> kMacC = {0x02, 0x10, 0x20, 0x30, 0x40, 0xCD};
const std::string kBootName = "Net/DMX Gateway 1";

const std::string kBootEntry = "0102030405060708090a0b (" + kBootName + ")";
const std::string kAppEntry = "a0a1a2a3a4a5a6a7a8a9aa (" + kOddName + ")";

QString Latin1(const std::string& bytes) {
  return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

std::string FileBytes(const char* path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), {}};
}

std::string StoredBlackList() {
  return CSettingsFile("Quorvik.ini").Read(kSettingsSection, kKeyHidden);
}

QStringList Rows(const QTreeView* tree) {
  QStringList rows;
  for (int i = 0; i < tree->model()->rowCount(); ++i)
    rows << tree->model()->index(i, 0).data().toString();
  return rows;
}

QPoint RowCentre(const QTreeView* tree, int row) {
  return tree->visualRect(tree->model()->index(row, 0)).center();
}

// Separators as "-", so that the menu's whole shape is one comparison.
QStringList Items(const QMenu* menu) {
  QStringList items;
  for (const QAction* action : menu->actions())
    items << (action->isSeparator() ? QStringLiteral("-") : action->text());
  return items;
}

QMenu* OpenPopup() {
  return qobject_cast<QMenu*>(QApplication::activePopupWidget());
}

QPushButton* ButtonCalled(QWidget* dialog, const QString& caption) {
  for (QPushButton* b : dialog->findChildren<QPushButton*>())
    if (b->text().remove(QLatin1Char('&')) == caption) return b;
  return nullptr;
}

}  // namespace

class ListCommandsTest : public QObject, CPlayedWindowFixture {
  Q_OBJECT

 private:
  QTreeWidget* list() { return view().deviceList(); }

  // Row 0: a bootloader that cannot reset; row 1: a bootloader of the one
  // type that can; row 2: a node running its application.
  void ThreeDevicesAnswer() {
    network.onSearch = [this](bool boot) {
      if (boot) {
        ProcessDatagram(network.devices, kBootPortA,
                        Gen1Answer(1, 0x0105, 0x0461, 512, kMacA, IdentityBytes(0x01, 11)).Span());
        ProcessDatagram(network.devices, kBootPortA,
                        Gen1Answer(1, 0x0107, 0x3610, 512, kMacC, IdentityBytes(0x20, 11)).Span());
      } else {
        ProcessDatagram(network.devices, kAppPort,
                        AppAnswer(0x0203, kMacB, kOddName, IdentityBytes(0xA0, 11)).Span());
      }
    };
  }

  void StartAndSettle() { StartWindow({}); }

  QPoint RowPoint(int row) { return list()->visualItemRect(list()->topLevelItem(row)).center(); }
  QPoint EmptyPoint() { return {5, list()->viewport()->height() - 3}; }

  // One mouse action on the list, and the command that it starts run to its
  // end. False when the action started no command.
  bool OnList(QTest::MouseAction action, Qt::MouseButton button, QPoint at) {
    auto signal = action == QTest::MouseDClick ? &CQtMainView::deviceListDoubleClicked
                  : button == Qt::RightButton  ? &CQtMainView::deviceListRightClicked
                                               : &CQtMainView::deviceListClicked;
    QSignalSpy sent(&view(), signal);
    QTest::mouseEvent(action, list()->viewport(), button, {}, at);
    return QTest::qWaitFor([&] { return sent.count() > 0; }, 5000) && Settled() &&
           sent.count() == 1;
  }
  bool ClickRow(int row) { return OnList(QTest::MouseClick, Qt::LeftButton, RowPoint(row)); }
  bool RightClickRow(int row) { return OnList(QTest::MouseClick, Qt::RightButton, RowPoint(row)); }

  // The items of the menu that a right click on `row` opens, or nothing.
  std::optional<QStringList> MenuFor(int row) {
    if (!RightClickRow(row)) return std::nullopt;
    QMenu* menu = OpenPopup();
    if (menu == nullptr) return std::nullopt;
    QStringList items = Items(menu);
    menu->close();
    return items;
  }

  // Chooses "Add to Black-List" in the context menu of `row`, as the
  // operator does, and waits for that command.
  bool AddToBlackList(int row) {
    if (!RightClickRow(row)) return false;
    QMenu* menu = OpenPopup();
    if (menu == nullptr) return false;
    QAction* add = nullptr;
    for (QAction* action : menu->actions())
      if (action->text() == QStringLiteral("Add to Black-List")) add = action;
    if (add == nullptr) {
      menu->close();
      return false;
    }
    QSignalSpy chosen(add, &QAction::triggered);
    QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(add).center());
    return chosen.count() == 1 && Settled() && OpenPopup() == nullptr;
  }

  bool FirmwareUpdateEnabled() { return view().button(Button::kFirmwareUpdate)->isEnabled(); }
  bool FactoryResetEnabled() { return view().button(Button::kFactoryReset)->isEnabled(); }
  QString LastStatusLine() {
    QListWidget* log = view().statusLog();
    return log->count() == 0 ? QString() : log->item(log->count() - 1)->text();
  }

 private slots:

  void init() { StartAfresh(); }
  void cleanup() {
    while (QWidget* popup = QApplication::activePopupWidget()) popup->close();
    window.reset();
  }

  void rightClickOpensTheMenuOfTheRowsModeAndNoneWithoutASelection() {
    TwoDevicesAnswer(network);
    StartAndSettle();
    QCOMPARE(list()->topLevelItemCount(), 2);
    QCOMPARE(view().SelectedRow(), 0);

    const QStringList application{"Activate bootloader", "-", "Add to Black-List"};
    const QStringList bootloader{"Run application", "-", "Add to Black-List"};
    // The click selects the row under the pointer, away from the one that
    // start-up selected, and the menu follows that row.
    QCOMPARE(MenuFor(1), std::optional(application));
    QCOMPARE(view().SelectedRow(), 1);
    QCOMPARE(list()->selectedItems().size(), 1);
    QCOMPARE(MenuFor(0), std::optional(bootloader));
    QCOMPARE(view().SelectedRow(), 0);
    QCOMPARE(list()->selectedItems().size(), 1);

    QVERIFY(list()->itemAt(EmptyPoint()) == nullptr);
    QVERIFY(OnList(QTest::MouseClick, Qt::RightButton, EmptyPoint()));
    QCOMPARE(view().SelectedRow(), -1);
    QVERIFY(OpenPopup() == nullptr);

    // Nothing listed at all: still no menu.
    network.onSearch = nullptr;
    QTest::mouseClick(view().button(Button::kFind), Qt::LeftButton);
    QVERIFY(Settled());
    QCOMPARE(list()->topLevelItemCount(), 0);
    QVERIFY(OnList(QTest::MouseClick, Qt::RightButton, EmptyPoint()));
    QVERIFY(OpenPopup() == nullptr);
  }

  // However the operator holds the keys, the menu and its command are for
  // the row under the pointer alone.
  void rightClickWithCtrlActsOnTheClickedRowOnly() {
    TwoDevicesAnswer(network);
    StartAndSettle();
    QVERIFY(ClickRow(0));
    QSignalSpy sent(&view(), &CQtMainView::deviceListRightClicked);
    QTest::mouseClick(list()->viewport(), Qt::RightButton, Qt::ControlModifier, RowPoint(1));
    QVERIFY(QTest::qWaitFor([&] { return sent.count() == 1; }) && Settled());
    QCOMPARE(list()->selectedItems().size(), 1);
    QCOMPARE(view().SelectedRow(), 1);
    QMenu* menu = OpenPopup();
    QVERIFY(menu != nullptr);
    QCOMPARE(Items(menu).front(), QStringLiteral("Activate bootloader"));
    std::vector<DeviceRecord> restarted;
    network.onEnterBootloader = [&](const DeviceRecord& r) { restarted.push_back(r); };
    QTest::mouseClick(menu, Qt::LeftButton, {},
                      menu->actionGeometry(view().activateBootloaderAction()).center());
    QVERIFY(Settled());
    QCOMPARE(restarted.size(), size_t{1});
    QCOMPARE(std::vector<uint8_t>(restarted[0].mac.begin(), restarted[0].mac.end()), kMacB);
  }

  void clicksSetTheDeviceButtonsByTheClickedRow() {
    ThreeDevicesAnswer();
    StartAndSettle();
    QCOMPARE(list()->topLevelItemCount(), 3);

    struct Case {
      int row;  // -1: empty space
      bool firmwareUpdate, factoryReset;
    };
    // Every change of state in both directions.
    for (const Case& c :
         {Case{2, true, true}, Case{0, true, false}, Case{1, true, true}, Case{-1, false, false},
          Case{0, true, false}, Case{-1, false, false}, Case{2, true, true}}) {
      const QPoint at = c.row >= 0 ? RowPoint(c.row) : EmptyPoint();
      QVERIFY(OnList(QTest::MouseClick, Qt::LeftButton, at));
      QCOMPARE(view().SelectedRow(), c.row);
      QCOMPARE(FirmwareUpdateEnabled(), c.firmwareUpdate);
      QCOMPARE(FactoryResetEnabled(), c.factoryReset);
    }

    // The keyboard moves the selection but leaves the buttons as they were.
    QVERIFY(ClickRow(0));
    QVERIFY(!FactoryResetEnabled());
    list()->setFocus();
    QTest::keyClick(list(), Qt::Key_Down);
    QVERIFY(Settled());
    QCOMPARE(view().SelectedRow(), 1);
    QVERIFY(!FactoryResetEnabled());
  }

  // Two running devices that answer with one serial: one row that says so,
  // and no command reaches either, whichever the operator tries.
  void aSerialTwoDevicesAnswerAsIsMarkedAndRefusedWithoutSending() {
    network.onSearch = [this](bool boot) {
      if (boot) return;
      for (const auto& mac : {kMacA, kMacB})
        ProcessDatagram(network.devices, kAppPort,
                        AppAnswer(0x0203, mac, "Node", IdentityBytes(0xA0, 11)).Span());
    };
    StartAndSettle();
    QCOMPARE(list()->topLevelItemCount(), 1);
    QTreeWidgetItem* row = list()->topLevelItem(0);
    QCOMPARE(row->text(0), QStringLiteral("Node (2 devices answer as this serial)"));
    QVERIFY(row->toolTip(1).contains(QStringLiteral("no command is sent to it")));

    QVERIFY(ClickRow(0));
    network.calls.clear();
    QPushButton* update = view().button(Button::kFirmwareUpdate);
    update->setFocus();
    QTest::keyClick(update, Qt::Key_Space);
    QVERIFY(Settled());
    // Refused before the file dialog, naming both devices.
    QVERIFY(QApplication::activeModalWidget() == nullptr);
    QVERIFY(LastStatusLine().startsWith(QStringLiteral("2 devices answer as serial A0A1")));
    QVERIFY(LastStatusLine().contains(QStringLiteral("00-0A-95-9D-68-16")));
    QVERIFY(LastStatusLine().contains(QStringLiteral("02-10-20-30-40-AB")));
    QVERIFY(network.calls.empty());
  }

  void blackListDialogShowsDeletesAndSavesOnlyOnOk() {
    TwoDevicesAnswer(network);
    StartAndSettle();
    QVERIFY(AddToBlackList(0));
    QCOMPARE(StoredBlackList(), kBootEntry);
    QVERIFY(AddToBlackList(1));
    QCOMPARE(StoredBlackList(), kBootEntry + ";" + kAppEntry);
    const std::string fileBefore = FileBytes("Quorvik.ini");

    // First visit: a delete without a selected row, one of the middle row,
    // then Escape.
    QString caption, header;
    int columnWidth = 0;
    QStringList buttons, atOpen, afterBlindDelete, afterDelete;
    bool hadFocus = false;
    WhenModalShows(this, [&](QWidget* modal) {
      auto* tree = modal->findChild<QTreeView*>();
      QPushButton* remove = ButtonCalled(modal, QStringLiteral("Delete"));
      if (tree == nullptr || remove == nullptr) {
        modal->close();
        return;
      }
      QAbstractItemModelTester checked(tree->model(),
                                       QAbstractItemModelTester::FailureReportingMode::QtTest);
      caption = modal->windowTitle();
      header = tree->model()->headerData(0, Qt::Horizontal).toString();
      columnWidth = tree->columnWidth(0);
      for (QPushButton* b : modal->findChildren<QPushButton*>())
        buttons << b->text().remove(QLatin1Char('&'));
      atOpen = Rows(tree);
      // Focused, as on a desktop when the dialog opens: the list then has a
      // current row, which is not a selected one.
      hadFocus = HasKeyboard(modal, 2000);
      tree->setFocus(Qt::TabFocusReason);
      hadFocus = hadFocus && tree->hasFocus();
      remove->click();
      afterBlindDelete = Rows(tree);
      QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, RowCentre(tree, 1));
      remove->click();
      afterDelete = Rows(tree);
      QTest::keyClick(tree, Qt::Key_Escape);
    });
    view().showBlackListAction()->trigger();
    QVERIFY(Settled());
    QVERIFY(QApplication::activeModalWidget() == nullptr);

    QCOMPARE(caption, QStringLiteral("Device Black-List"));
    QCOMPARE(header, QStringLiteral("Device Serial-Nr"));
    // At least its 400 pixels, scaled like the window's own columns.
    QVERIFY(columnWidth >= view().dialogUnits().ScalePixels(400));
    buttons.sort();
    QCOMPARE(buttons, (QStringList{"Delete", "OK"}));
    // The ";" in the name splits the second entry in two rows; a control
    // character shows as a replacement, the file keeps its byte.
    const QStringList threeRows{Latin1(kBootEntry), Latin1("a0a1a2a3a4a5a6a7a8a9aa (B\xFChne 50%s"),
                                QStringLiteral("\uFFFD\u00FF)")};
    QCOMPARE(atOpen, threeRows);
    QVERIFY(hadFocus);
    QCOMPARE(afterBlindDelete, threeRows);
    QCOMPARE(afterDelete, (QStringList{Latin1(kBootEntry), QStringLiteral("\uFFFD\u00FF)")}));
    // Escape saves nothing, yet the deletion holds for this run: the node
    // whose serial went shows again, the bootloader stays hidden.
    QCOMPARE(FileBytes("Quorvik.ini"), fileBefore);
    QTest::mouseClick(view().button(Button::kFind), Qt::LeftButton);
    QVERIFY(Settled());
    QCOMPARE(list()->topLevelItemCount(), 1);
    QCOMPARE(list()->topLevelItem(0)->text(0), DisplayText(kOddName));
    QCOMPARE(LastStatusLine(), QStringLiteral("1 Interfaces found (1 hidden)"));

    // Second visit: delete the first row, then OK.
    QStringList secondOpen;
    WhenModalShows(this, [&](QWidget* modal) {
      auto* tree = modal->findChild<QTreeView*>();
      QPushButton* remove = ButtonCalled(modal, QStringLiteral("Delete"));
      QPushButton* ok = ButtonCalled(modal, QStringLiteral("OK"));
      if (tree == nullptr || remove == nullptr || ok == nullptr) {
        modal->close();
        return;
      }
      secondOpen = Rows(tree);
      QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, RowCentre(tree, 0));
      remove->click();
      QTest::mouseClick(ok, Qt::LeftButton);
    });
    view().showBlackListAction()->trigger();
    QVERIFY(Settled());
    QVERIFY(QApplication::activeModalWidget() == nullptr);
    QCOMPARE(secondOpen, afterDelete);
    QCOMPARE(StoredBlackList(), std::string("\x7F\xFF)"));
  }

  void doubleClickCollectsSerialsOnTheClipboard() {
    TwoDevicesAnswer(network);
    StartAndSettle();
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->setText(QStringLiteral("left by another program"));
    const QString first =
        QStringLiteral("0x01,0x02,0x03,0x04,0x05,0x06,0x07,0x08,0x09,0x0A,0x0B\r\n");
    const QString second =
        QStringLiteral("0xA0,0xA1,0xA2,0xA3,0xA4,0xA5,0xA6,0xA7,0xA8,0xA9,0xAA\r\n");

    QVERIFY(ClickRow(0));
    QVERIFY(OnList(QTest::MouseDClick, Qt::LeftButton, RowPoint(0)));
    QCOMPARE(clipboard->text(), first);
    QCOMPARE(LastStatusLine(), QStringLiteral("Copy serial to Clipboard - 1"));

    // A second device adds its line after the first.
    QVERIFY(ClickRow(1));
    QVERIFY(OnList(QTest::MouseDClick, Qt::LeftButton, RowPoint(1)));
    QCOMPARE(clipboard->text(), first + second);

    // A collected device again, and empty space, add nothing.
    clipboard->setText(QStringLiteral("changed meanwhile"));
    QVERIFY(ClickRow(0));
    QVERIFY(OnList(QTest::MouseDClick, Qt::LeftButton, RowPoint(0)));
    QCOMPARE(clipboard->text(), QStringLiteral("changed meanwhile"));
    QVERIFY(OnList(QTest::MouseClick, Qt::LeftButton, EmptyPoint()));
    QVERIFY(OnList(QTest::MouseDClick, Qt::LeftButton, EmptyPoint()));
    QCOMPARE(LastStatusLine(), QStringLiteral("No interface selected !"));
    QCOMPARE(clipboard->text(), QStringLiteral("changed meanwhile"));
  }
};

QTEST_MAIN(ListCommandsTest)
#include "list_commands_test.moc"
