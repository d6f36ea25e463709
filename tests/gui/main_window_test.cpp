// The real main window on a played network: its controls, start-up, Find,
// the network switch, the command thread and closing in the middle of a
// command. No socket is opened; waits pass through a clock that the test can
// hold.

#include <unistd.h>
#include <QAbstractItemModelTester>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QStyle>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <QWindow>
#include <atomic>
#include <condition_variable>
#include <fstream>
#include <future>
#include <mutex>
#include <numeric>
#include <thread>

#include "app/qt/about_dialog.h"
#include "app/qt/dialog_units.h"
#include "app/qt/display_text.h"
#include "app/qt/history_dialog.h"
#include "app/qt/quorvik_window.h"
#include "app/qt/recover_dialog.h"
#include "app/qt/roll_call_panel.h"
#include "net/reply_processing.h"
#include "records/journal.h"
#include "tests/gui/played_window.h"
#include "tests/gui/widget_test_support.h"
#include "tests/support/datagram_builder.h"
#include "tests/support/fake_main_view.h"
#include "tests/support/scratch_directory.h"

using namespace quorvik;

using namespace std::chrono_literals;

namespace {

// Passes time at once, except that it can hold the command thread in a
// chosen wait until the test lets it go.
class CGateClock : public IClock {
 public:
  void SleepFor(std::chrono::milliseconds) override {
    std::unique_lock lock(m_mutex);
    ++m_sleeps;
    if (m_sleeps != m_holdAt) return;
    m_held = true;
    m_changed.wait(lock, [this] { return !m_held; });
  }
  void HoldAtSleep(int fromNow) {
    std::lock_guard lock(m_mutex);
    m_holdAt = m_sleeps + fromNow;
  }
  bool IsHeld() const {
    std::lock_guard lock(m_mutex);
    return m_held;
  }
  void Release() {
    {
      std::lock_guard lock(m_mutex);
      m_held = false;
      m_holdAt = -1;
    }
    m_changed.notify_all();
  }

 private:
  mutable std::mutex m_mutex;
  std::condition_variable m_changed;
  int m_sleeps = 0;
  int m_holdAt = -1;
  bool m_held = false;
};

QStringList Cells(QTreeWidget* list, int row) {
  QStringList cells;
  QTreeWidgetItem* item = list->topLevelItem(row);
  for (int c = 0; item != nullptr && c < list->columnCount(); ++c) cells << item->text(c);
  return cells;
}

// A caption as it reads on screen: its Alt-key marker is not shown.
QString Shown(QString caption) {
  return caption.replace(QRegularExpression(QStringLiteral("&(.)")), QStringLiteral("\\1"));
}

QStringList Lines(QListWidget* log) {
  QStringList lines;
  for (int i = 0; i < log->count(); ++i) lines << log->item(i)->text();
  return lines;
}

}  // namespace

class MainWindowTest : public QObject, CPlayedWindowFixture {
  Q_OBJECT

 private:
  CGateClock gate;
  std::atomic<int> replyWaitAborts{0};
  void MakeWindow(QuorvikWindowOptions options) {
    options.abortReplyWaits = [this] { ++replyWaitAborts; };
    window = std::make_unique<CQuorvikWindow>(network, std::move(options));
  }
  void MakeGatedWindow() {
    QuorvikWindowOptions options;
    options.innerClock = &gate;
    MakeWindow(std::move(options));
  }

  void StartAndSettle() {
    window->Start();
    QTRY_VERIFY_WITH_TIMEOUT(!window->IsRunningCommand(), 10000);
  }
  // The window has the keyboard, as on a desktop after start.
  void ActivateWindow() { QVERIFY(HasKeyboard(&view())); }

 private slots:

  void init() {
    StartAfresh();
    network.addresses = {{10, 0, 0, 12}, {10, 0, 0, 1}};
    replyWaitAborts = 0;
  }
  void cleanup() {
    gate.Release();
    window.reset();
  }

  void showsTheCaptionAndEveryControlInItsPlace() {
    MakeGatedWindow();
    QCOMPARE(view().windowTitle(), QStringLiteral("Belmarr Quorvik V1.41"));
    QCOMPARE(Shown(view().button(Button::kFind)->text()), QStringLiteral("Find"));
    QCOMPARE(Shown(view().button(Button::kFirmwareUpdate)->text()),
             QStringLiteral("Firmware-Update"));
    QCOMPARE(Shown(view().button(Button::kFactoryReset)->text()), QStringLiteral("Factory reset"));
    QVERIFY(!view().button(Button::kFactoryReset)->isEnabled());
    QVERIFY(view().testButton()->isHidden());
    QCOMPARE(Shown(view().checkBox(CheckBox::kUseLastFile)->text()),
             QStringLiteral("Use last file again"));
    QCOMPARE(Shown(view().checkBox(CheckBox::kAndMakeUpdate)->text()),
             QStringLiteral("... and make Update"));
    QVERIFY(!view().checkBox(CheckBox::kUseLastFile)->isChecked());
    QCOMPARE(view().webLink()->text(), QStringLiteral("https://www.belmarr.example/"));
    bool networkLabel = false;
    for (QLabel* label : view().findChildren<QLabel*>())
      networkLabel |= Shown(label->text()) == QStringLiteral("Network:") &&
                      label->buddy() == view().networkCombo();
    QVERIFY(networkLabel);
    QCOMPARE(view().deviceList()->columnCount(), 0);  // until start-up gives the columns

    QCOMPARE(view().applicationMenu()->title(), QStringLiteral("&Application"));
    QCOMPARE(view().showBlackListAction()->text(), QStringLiteral("Show Black-List"));
    QCOMPARE(view().aboutAction()->text(), QString::fromUtf8("Inf&o über Quorvik..."));

    // Proportions of the 392 x 200 unit window: list, buttons, log and bar.
    const QWidget* client = view().centralWidget();
    const QRect list = view().deviceList()->geometry();
    QVERIFY(qAbs(double(list.width()) / client->width() - 378.0 / 392) < 0.01);
    QVERIFY(qAbs(double(list.height()) / client->height() - 82.0 / 200) < 0.01);
    QCOMPARE(view().button(Button::kFind)->x(), list.x());
    QCOMPARE(view().button(Button::kFirmwareUpdate)->geometry().right(), list.right());
    QCOMPARE(view().statusLog()->geometry().right(), list.right());
    QVERIFY(view().statusLog()->y() > view().button(Button::kFind)->geometry().bottom());
    QVERIFY(view().progressBar()->y() > view().statusLog()->geometry().bottom());
    // Captions fit even where the font is wider than the original's.
    for (CheckBox box : {CheckBox::kUseLastFile, CheckBox::kAndMakeUpdate}) {
      QCheckBox* check = view().checkBox(box);
      QVERIFY(check->width() >= check->sizeHint().width());
      QVERIFY(check->geometry().right() <= list.right());
    }
  }

  void startUpShowsTheWindowAtOnceThenListsTheDevices() {
    std::ofstream("Quorvik.ini") << "[APP]\nSELECTED_IP=10.0.0.1\n";
    TwoDevicesAnswer(network);
    gate.HoldAtSleep(1);  // the 5 s start-up wait
    MakeGatedWindow();
    window->Start();
    QVERIFY(view().isVisible());
    QVERIFY(window->IsRunningCommand());
    QTRY_VERIFY(gate.IsHeld());
    // Entries arrive while the start-up search still waits.
    QTRY_COMPARE(view().networkCombo()->count(), 3);
    QCOMPARE(view().networkCombo()->itemText(0), QStringLiteral("10.0.0.12"));
    QCOMPARE(view().networkCombo()->itemText(1), QStringLiteral("10.0.0.1"));
    QCOMPARE(view().networkCombo()->currentIndex(), 1);
    gate.Release();
    QTRY_VERIFY(!window->IsRunningCommand());

    QTreeWidget* list = view().deviceList();
    QCOMPARE(list->columnCount(), 4);
    QCOMPARE(list->headerItem()->text(0), QStringLiteral("Device"));
    QCOMPARE(list->headerItem()->text(3), QStringLiteral("MAC"));
    const CDialogUnits& du = view().dialogUnits();
    QCOMPARE(list->columnWidth(0), du.ScalePixels(230));
    QCOMPARE(list->columnWidth(1), du.ScalePixels(50));
    QCOMPARE(list->columnWidth(2), du.ScalePixels(160));
    QCOMPARE(list->columnWidth(3), du.ScalePixels(120));

    QCOMPARE(list->topLevelItemCount(), 2);
    QCOMPARE(Cells(list, 0), (QStringList{"Net/DMX Gateway 1", "1.05", "0102030405060708090A0B",
                                          "00-0A-95-9D-68-16"}));
    // Each byte of the name is one character; a control character shows as
    // a replacement, so that no row breaks into lines.
    QCOMPARE(list->topLevelItem(1)->text(0), DisplayText(kOddName));
    QCOMPARE(Lines(view().statusLog()), QStringList{"2 Interfaces found"});
    QVERIFY(list->topLevelItem(0)->isSelected());
    QCOMPARE(view().SelectedRow(), 0);
    QVERIFY(view().button(Button::kFirmwareUpdate)->isEnabled());
    QVERIFY(!view().button(Button::kFactoryReset)->isEnabled());
  }

  // A name that is valid UTF-8 reads as such, any other byte by byte; what
  // could break its row or reorder the text beside it shows as a replacement.
  void deviceNamesShowAsTheirTextAndNeverReorderTheirNeighbours_data() {
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QString>("shown");
    QTest::newRow("Latin-1") << QByteArray("B\xFChne 50%") << QStringLiteral(u"B\u00FChne 50%");
    QTest::newRow("UTF-8") << QByteArray("B\xC3\xBChne") << QStringLiteral(u"B\u00FChne");
    QTest::newRow("Arabic") << QByteArray("\xD9\x85\xD8\xB3\xD8\xB1\xD8\xAD 2")
                            << QStringLiteral(u"\u0645\u0633\u0631\u062D 2");
    QTest::newRow("emoji") << QByteArray("Spot \xF0\x9F\x92\xA1")
                           << QStringLiteral(u"Spot \U0001F4A1");
    QTest::newRow("override") << QByteArray("\xE2\x80\xAEssurT 1")
                              << QStringLiteral(u"\uFFFDssurT 1");
    QTest::newRow("embedding") << QByteArray("A\xE2\x80\xAAz") << QStringLiteral(u"A\uFFFDz");
    QTest::newRow("isolates") << QByteArray("\xE2\x81\xA6x\xE2\x81\xA9")
                              << QStringLiteral(u"\uFFFDx\uFFFD");
    QTest::newRow("line separator") << QByteArray("a\xE2\x80\xA8z") << QStringLiteral(u"a\uFFFDz");
    QTest::newRow("C1 as UTF-8") << QByteArray("a\xC2\x85z") << QStringLiteral(u"a\uFFFDz");
  }
  void deviceNamesShowAsTheirTextAndNeverReorderTheirNeighbours() {
    QFETCH(QByteArray, name);
    QFETCH(QString, shown);
    network.onSearch = [this, name](bool boot) {
      if (!boot)
        ProcessDatagram(
            network.devices, kAppPort,
            AppAnswer(0x0100, kMacB, name.toStdString(), IdentityBytes(0xA0, 11)).Span());
    };
    MakeGatedWindow();
    StartAndSettle();
    QCOMPARE(view().deviceList()->topLevelItem(0)->text(0), shown);
  }

  // A 16-byte serial shows whole in its tooltip and in its cell, at the
  // window's drawn size with room the device column does not need; as the
  // window grows, the columns share the room, and give it back when the
  // window is as drawn again.
  void columnsTakeTheRoomOfALargerWindowTheSerialFirst() {
    const QString serial = QStringLiteral("1112131415161718191A1B1C1D1E1F20");
    network.onSearch = [this](bool boot) {
      if (!boot)
        ProcessDatagram(network.devices, kAppPort,
                        AppAnswer(0x0100, kMacB, "Node", IdentityBytes(0x11, 16)).Span());
    };
    MakeGatedWindow();
    StartAndSettle();
    QVERIFY(QTest::qWaitForWindowExposed(&view()));
    QTreeWidget* list = view().deviceList();
    QCOMPARE(list->topLevelItem(0)->text(2), serial);
    QCOMPARE(list->topLevelItem(0)->toolTip(2), serial);
    const auto widths = [list] {
      QList<int> w;
      for (int c = 0; c < list->columnCount(); ++c) w << list->columnWidth(c);
      return w;
    };
    const int margins =
        2 * (list->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, list) + 1);
    const auto serialWhole = [&] {
      return list->fontMetrics().horizontalAdvance(serial) + margins <= list->columnWidth(2);
    };
    const QList<int> drawn = widths();
    QVERIFY(serialWhole());
    const CDialogUnits& du = view().dialogUnits();
    QCOMPARE(std::accumulate(drawn.begin(), drawn.end(), 0),
             du.ScalePixels(230) + du.ScalePixels(50) + du.ScalePixels(160) + du.ScalePixels(120));
    QVERIFY(drawn[0] < du.ScalePixels(230));

    const QSize start = view().size();
    view().resize(start + QSize(300, 0));
    QTRY_VERIFY(serialWhole());
    const QList<int> grown = widths();
    QCOMPARE(std::accumulate(grown.begin(), grown.end(), 0),
             std::accumulate(drawn.begin(), drawn.end(), 300));
    QVERIFY(grown[0] > drawn[0] && grown[1] >= drawn[1] && grown[3] > drawn[3]);

    view().resize(start);
    QTRY_COMPARE(widths(), drawn);
  }

  void statusLogShowsExactlyTheThreeNewestLines() {
    MakeGatedWindow();
    StartAndSettle();
    for (const char* text : {"one", "two", "three", "four"})
      window->dlg().AddStatusLine(text, Beep::kNone);
    QListWidget* log = view().statusLog();
    QCOMPARE(Lines(log), (QStringList{"two", "three", "four"}));
    const QRect viewport = log->viewport()->rect();
    for (int i = 0; i < 3; ++i) QVERIFY(viewport.contains(log->visualItemRect(log->item(i))));
    QVERIFY(viewport.height() < 4 * log->visualItemRect(log->item(0)).height());
  }

  void findRebuildsTheListFromANewSearch() {
    TwoDevicesAnswer(network);
    MakeGatedWindow();
    StartAndSettle();
    QCOMPARE(view().deviceList()->topLevelItemCount(), 2);

    network.onSearch = [this](bool boot) {
      if (!boot)
        ProcessDatagram(network.devices, kAppPort,
                        AppAnswer(0x0310, kMacB, "Dock", IdentityBytes(0x30, 11)).Span());
    };
    network.calls.clear();
    QTest::mouseClick(view().button(Button::kFind), Qt::LeftButton);
    QTRY_VERIFY(!window->IsRunningCommand());
    QCOMPARE(network.calls, (std::vector<std::string>{"boot search", "app search"}));
    QCOMPARE(view().deviceList()->topLevelItemCount(), 1);
    QCOMPARE(view().deviceList()->topLevelItem(0)->text(0), QStringLiteral("Dock"));
    QCOMPARE(Lines(view().statusLog()).last(), QStringLiteral("1 Interfaces found"));
    // A device in application mode can be reset.
    QVERIFY(view().button(Button::kFactoryReset)->isEnabled());
    QCOMPARE(view().progressBar()->value(), 0);
  }

  void commandBlocksTheControlsButNotTheCheckBoxesUntilItEnds() {
    TwoDevicesAnswer(network);
    MakeGatedWindow();
    StartAndSettle();
    network.calls.clear();
    gate.HoldAtSleep(40);  // in the middle of the 2 s search progress
    QTest::mouseClick(view().button(Button::kFind), Qt::LeftButton);
    QTRY_VERIFY(gate.IsHeld());

    // The window repaints the progress while the command waits.
    QTRY_COMPARE(view().progressBar()->value(), 40);
    for (Button b : {Button::kFind, Button::kFirmwareUpdate, Button::kFactoryReset})
      QVERIFY(!view().button(b)->isEnabled());
    QVERIFY(!view().deviceList()->isEnabled());
    QVERIFY(!view().networkCombo()->isEnabled());
    QVERIFY(!view().applicationMenu()->menuAction()->isEnabled());
    QVERIFY(!view().helpMenu()->menuAction()->isEnabled());
    QCOMPARE(view().centralWidget()->cursor().shape(), Qt::WaitCursor);

    // A second click finds the command busy; the check box stays live and
    // what it says reaches the command thread.
    view().button(Button::kFind)->click();
    QCheckBox* chain = view().checkBox(CheckBox::kAndMakeUpdate);
    QVERIFY(chain->isEnabled());
    QTest::mouseClick(chain, Qt::LeftButton, {}, QPoint(5, chain->height() / 2));
    QVERIFY(chain->isChecked());
    QVERIFY(view().IsChecked(CheckBox::kAndMakeUpdate));

    gate.Release();
    QTRY_VERIFY(!window->IsRunningCommand());
    QCOMPARE(network.calls, (std::vector<std::string>{"boot search", "app search"}));
    QVERIFY(view().button(Button::kFind)->isEnabled());
    QVERIFY(view().button(Button::kFirmwareUpdate)->isEnabled());
    // Released to the state the logic gave it, not simply enabled.
    QVERIFY(!view().button(Button::kFactoryReset)->isEnabled());
    QVERIFY(view().deviceList()->isEnabled());
    QVERIFY(view().networkCombo()->isEnabled());
    QVERIFY(view().applicationMenu()->menuAction()->isEnabled());
    QVERIFY(view().centralWidget()->cursor().shape() != Qt::WaitCursor);
  }

  void choosingAnotherNetworkSwitchesToIt() {
    MakeGatedWindow();
    StartAndSettle();
    network.calls.clear();
    TwoDevicesAnswer(network);
    QComboBox* combo = view().networkCombo();
    QCOMPARE(combo->currentIndex(), 0);
    combo->setCurrentIndex(1);
    emit combo->activated(1);
    QTRY_VERIFY(!window->IsRunningCommand());
    QCOMPARE(network.calls.front(), std::string("open 10.0.0.1"));
    QCOMPARE(view().deviceList()->topLevelItemCount(), 2);
    QCOMPARE(view().progressBar()->value(), 0);
    std::ifstream ini("Quorvik.ini");
    const std::string text((std::istreambuf_iterator<char>(ini)), {});
    QVERIFY(text.find("SELECTED_IP=10.0.0.1") != std::string::npos);
  }

  // "All networks" is the entry after the cards; only while it is chosen
  // does the list name each row's card, and mark a device heard on two.
  void theNetworkColumnShowsOnlyWhileAllNetworksIsChosen() {
    std::ofstream("Quorvik.ini", std::ios::trunc) << "[APP]\nSELECTED_IP=10.0.0.1\nHIDDEN=\n";
    network.onSearch = [this](bool boot) {
      const auto opened =
          std::find_if(network.calls.rbegin(), network.calls.rend(),
                       [](const std::string& c) { return c.rfind("open ", 0) == 0; });
      const bool all = opened != network.calls.rend() && *opened == "open all";
      for (const Ipv4Address card : {Ipv4Address{10, 0, 0, 12}, Ipv4Address{10, 0, 0, 1}})
        if (!boot && (all || card[3] == 1))
          ProcessDatagram(network.devices, kAppPort,
                          AppAnswer(0x0100, kMacB, "Node", IdentityBytes(0xA0, 11)).Span(), {},
                          all ? card : Ipv4Address{});
    };
    MakeGatedWindow();
    StartAndSettle();
    ActivateWindow();
    QTreeWidget* list = view().deviceList();
    QCOMPARE(list->columnCount(), 4);
    QComboBox* combo = view().networkCombo();
    QCOMPARE(combo->itemText(2), QStringLiteral("All networks"));
    combo->setFocus();
    QTRY_VERIFY(combo->hasFocus());
    QTest::keyClick(combo, Qt::Key_Down);
    QTRY_VERIFY(!window->IsRunningCommand());
    QCOMPARE(combo->currentIndex(), 2);
    QCOMPARE(list->columnCount(), 5);
    QCOMPARE(list->headerItem()->text(4), QStringLiteral("Network"));
    QCOMPARE(list->topLevelItemCount(), 2);
    QCOMPARE(list->topLevelItem(0)->text(4), QStringLiteral("10.0.0.12"));
    QCOMPARE(list->topLevelItem(1)->text(4), QStringLiteral("10.0.0.1"));
    QCOMPARE(list->topLevelItem(1)->text(0),
             QStringLiteral("Node (answers on 2 networks: bridged or misconfigured)"));
    QVERIFY(list->topLevelItem(1)->toolTip(4).contains(QStringLiteral("bridged")));

    QTRY_VERIFY(combo->hasFocus());
    QTest::keyClick(combo, Qt::Key_Up);
    QTRY_VERIFY(!window->IsRunningCommand());
    QCOMPARE(list->columnCount(), 4);
    QCOMPARE(list->topLevelItemCount(), 1);
    QCOMPARE(list->topLevelItem(0)->text(0), QStringLiteral("Node"));
  }

  // Ending a command half-way can leave a device in its loader: the close
  // box asks first (No is the default), and a Yes ends the command at once.
  void closingDuringACommandAsksThenEndsItAtOnce() {
    std::atomic<bool> searched{false};
    network.onSearch = [&searched](bool) { searched = true; };
    MakeWindow({});  // real time: the start-up search waits 5 s
    window->Start();
    QTRY_VERIFY(searched.load());
    QString question;
    QMessageBox::StandardButton defaultButton = QMessageBox::NoButton;
    WhenModalShows(this, [&](QWidget* modal) {
      auto* box = qobject_cast<QMessageBox*>(modal);
      question = box->text();
      defaultButton = box->standardButton(box->defaultButton());
      box->button(QMessageBox::No)->click();
    });
    QVERIFY(!view().close());
    QCOMPARE(question, QStringLiteral("A command is still running. Closing now can leave the "
                                      "device in its bootloader. Close anyway?"));
    QCOMPARE(defaultButton, QMessageBox::No);
    QVERIFY(view().isVisible());
    QVERIFY(window->IsRunningCommand());
    QCOMPARE(replyWaitAborts.load(), 0);

    WhenModalShows(this, [](QWidget* modal) {
      qobject_cast<QMessageBox*>(modal)->button(QMessageBox::Yes)->click();
    });
    QElapsedTimer timer;
    timer.start();
    QVERIFY(view().close());
    QVERIFY(timer.elapsed() < 1000);
    QVERIFY(!view().isVisible());
    QCOMPARE(replyWaitAborts.load(), 1);
    // The unwound start-up never reached its list.
    QCOMPARE(view().deviceList()->columnCount(), 0);
  }

  // A command that ends while the close box's question is up leaves
  // nothing to warn of: the question goes and the window closes.
  void closeQuestionGoesWhenTheCommandEnds() {
    TwoDevicesAnswer(network);
    MakeGatedWindow();
    StartAndSettle();
    gate.HoldAtSleep(10);
    QTest::mouseClick(view().button(Button::kFind), Qt::LeftButton);
    QTRY_VERIFY(gate.IsHeld());
    bool answeredByTest = false;
    WhenModalShows(this, [&](QWidget* modal) {
      gate.Release();
      // Only if the question stays: otherwise the test would hang here.
      QTimer::singleShot(3000, modal, [&answeredByTest, modal] {
        answeredByTest = true;
        QTest::keyClick(modal->windowHandle(), Qt::Key_Escape);
      });
    });
    QVERIFY(view().close());
    QVERIFY(!answeredByTest);
    QVERIFY(!view().isVisible());
    QVERIFY(!window->IsRunningCommand());
    QCOMPARE(replyWaitAborts.load(), 0);
    QCOMPARE(view().deviceList()->topLevelItemCount(), 2);  // the Find ran to its end
  }

  void escapeEndsTheProgramButNotARunningCommand() {
    MakeGatedWindow();
    StartAndSettle();
    ActivateWindow();
    gate.HoldAtSleep(10);
    QTest::mouseClick(view().button(Button::kFind), Qt::LeftButton);
    QTRY_VERIFY(gate.IsHeld());
    // The keys go where the keyboard is, as a user's would.
    for (Qt::Key key : {Qt::Key_Escape, Qt::Key_Return, Qt::Key_Enter, Qt::Key_Space})
      QTest::keyClick(view().windowHandle(), key);
    QVERIFY(view().isVisible());
    QVERIFY(!view().checkBox(CheckBox::kUseLastFile)->isChecked());
    gate.Release();
    QTRY_VERIFY(!window->IsRunningCommand());
    QTest::keyClick(view().windowHandle(), Qt::Key_Escape);
    QVERIFY(!view().isVisible());
  }

  // After a command the keyboard is back on the control that started it:
  // Enter presses that button again, and never lands on a check box.
  void focusReturnsToTheControlThatStartedTheCommand() {
    TwoDevicesAnswer(network);
    MakeGatedWindow();
    StartAndSettle();
    ActivateWindow();
    QPushButton* find = view().button(Button::kFind);
    QTest::mouseClick(find, Qt::LeftButton);
    QTRY_VERIFY(!window->IsRunningCommand());
    // A compositor may take the keyboard away for a moment and give it back
    // later: the control gets it with the window's activation.
    QTRY_COMPARE(QApplication::focusWidget(), find);

    network.calls.clear();
    QTest::keyClick(view().windowHandle(), Qt::Key_Return);
    QVERIFY(view().isVisible());
    QTRY_VERIFY(!window->IsRunningCommand());
    QCOMPARE(network.calls, (std::vector<std::string>{"boot search", "app search"}));
    QTRY_COMPARE(QApplication::focusWidget(), find);
    QVERIFY(!view().checkBox(CheckBox::kUseLastFile)->isChecked());
  }

  // On an X server without a window manager the program's windows can be
  // left without the keyboard, yet keys reach the window under the pointer:
  // they must do there what they do on a desktop.
  void keysDoWhatTheyDoWithAWindowManagerWhenNoWindowHasTheKeyboard() {
    TwoDevicesAnswer(network);
    MakeGatedWindow();
    StartAndSettle();
    {
      // A window that had the keyboard and is gone leaves it with none.
      QWidget other;
      other.show();
      QVERIFY(HasKeyboard(&other));
    }
    QTRY_VERIFY(QGuiApplication::focusWindow() == nullptr);
    QVERIFY(!view().isActiveWindow());

    QPushButton* find = view().button(Button::kFind);
    for (int round = 0; round < 2; ++round) {
      network.calls.clear();
      gate.HoldAtSleep(1);
      if (round == 0)
        QTest::mouseClick(find, Qt::LeftButton);
      else
        QTest::keyClick(view().windowHandle(), Qt::Key_Return);
      QTRY_VERIFY(gate.IsHeld());
      // Nor do they end a command that runs.
      for (Qt::Key key : {Qt::Key_Escape, Qt::Key_Return, Qt::Key_Enter})
        QTest::keyClick(view().windowHandle(), key);
      QVERIFY(view().isVisible());
      gate.Release();
      QTRY_VERIFY(!window->IsRunningCommand());
      QVERIFY(view().isVisible());
      QCOMPARE(network.calls, (std::vector<std::string>{"boot search", "app search"}));
      // Return presses Find again, as with the keyboard on the window.
      QTRY_COMPARE(view().focusWidget(), find);
      QVERIFY(QGuiApplication::focusWindow() == nullptr);
    }
    QTest::keyClick(view().windowHandle(), Qt::Key_Escape);
    QVERIFY(!view().isVisible());
  }

  // A bench PC's bare X server has no window manager, and the window never
  // has the keyboard: after a mouse click on Find, Return still presses Find
  // and does not close the program.
  void keysWorkWhereNoWindowHasTheKeyboard() {
    TwoDevicesAnswer(network);
    MakeGatedWindow();
    StartAndSettle();
    {
      // A window that had the keyboard and is gone leaves it with none.
      QWidget other;
      other.show();
      QVERIFY(HasKeyboard(&other));
    }
    if (!QTest::qWaitFor([] { return QGuiApplication::focusWindow() == nullptr; }))
      QSKIP("a window has the keyboard on this platform (run under a bare X server)");
    QPushButton* find = view().button(Button::kFind);
    QTest::mouseClick(find, Qt::LeftButton);
    QTRY_VERIFY(!window->IsRunningCommand());
    QTRY_COMPARE(view().focusWidget(), find);
    network.calls.clear();
    QTest::keyClick(view().windowHandle(), Qt::Key_Return);
    QVERIFY(view().isVisible());
    QTRY_VERIFY(!window->IsRunningCommand());
    QCOMPARE(network.calls, (std::vector<std::string>{"boot search", "app search"}));
  }

  // Nothing hands out the keyboard on a bare X server: the window takes it
  // when it shows, and back from a box of its own that closes, so that its
  // Alt keys work without a click and its keys wherever the pointer is.
  void theWindowTakesTheKeyboardWhereNothingHandsItOut() {
    MakeGatedWindow();
    StartAndSettle();
    QTRY_COMPARE(QGuiApplication::focusWindow(), view().windowHandle());
    // Help > Info..., with the keyboard; the box closed with Esc.
    WhenModalShows(this,
                   [](QWidget* box) { QTest::keyClick(box->windowHandle(), Qt::Key_Escape); });
    QTest::keyClick(view().windowHandle(), Qt::Key_H, Qt::AltModifier);
    QTRY_VERIFY(QApplication::activePopupWidget() != nullptr);
    QTest::keyClick(QApplication::activePopupWidget()->windowHandle(), 'o');
    QTRY_COMPARE(QGuiApplication::focusWindow(), view().windowHandle());
    QTest::keyClick(view().windowHandle(), Qt::Key_A, Qt::AltModifier);
    QTRY_VERIFY(QApplication::activePopupWidget() != nullptr);
    QTest::keyClick(QApplication::activePopupWidget()->windowHandle(), Qt::Key_Escape);
  }

  // Devices left half-updated wait in their loaders for the line under the
  // list to be answered: Enter and Esc, which end the program elsewhere,
  // take the keyboard to "Recover..." instead, where Enter opens recovery.
  void keysThatEndTheProgramWaitForTheHalfUpdatedQuestion() {
    const std::vector<uint8_t> serial = IdentityBytes(0x21, 11);
    network.onSearch = [this, serial](bool boot) {
      if (boot)
        ProcessDatagram(network.devices, kBootPortA,
                        Gen3Answer(0x0381, 0x0100, 0x3680, 0x21, 256, kMacA, 1, serial).Span());
    };
    const std::string journal = (scratch.path() / "half-updated.jsonl").string();
    std::remove(journal.c_str());
    QVERIFY(JournalUnfinishedUpdate(journal, serial, kMacA, "matrix.bin"));
    QuorvikWindowOptions options;
    options.innerClock = &gate;
    options.journalPath = journal;
    MakeWindow(std::move(options));
    StartAndSettle();
    ActivateWindow();
    QTRY_VERIFY(view().recoverOffer()->isVisible());
    for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Escape, Qt::Key_Escape}) {
      QTest::keyClick(view().windowHandle(), key);
      QVERIFY(view().isVisible());
      QCOMPARE(QApplication::focusWidget(), view().recoverOffer());
    }
    QTest::keyClick(view().windowHandle(), Qt::Key_Return);
    QTRY_VERIFY(window->recoverDialog() != nullptr && window->recoverDialog()->isVisible());
  }

  void enterPressesAFocusedButtonAndEndsTheProgramElsewhere() {
    MakeGatedWindow();
    StartAndSettle();
    network.calls.clear();
    QTest::keyClick(view().button(Button::kFind), Qt::Key_Return);
    QVERIFY(view().isVisible());
    QTRY_VERIFY(!window->IsRunningCommand());
    QCOMPARE(network.calls, (std::vector<std::string>{"boot search", "app search"}));

    QTest::keyClick(view().networkCombo(), Qt::Key_Return);
    QVERIFY(!view().isVisible());
  }

  void aboutBoxShowsNameVersionAndNotice() {
    MakeGatedWindow();
    QString title;
    QStringList texts;
    QTimer::singleShot(0, this, [&] {
      auto* about = qobject_cast<CAboutDlg*>(QApplication::activeModalWidget());
      if (about == nullptr) return;
      title = about->windowTitle();
      for (QLabel* label : about->findChildren<QLabel*>())
        if (!label->text().isEmpty()) texts << label->text();
      about->findChild<QPushButton*>()->click();
    });
    view().aboutAction()->trigger();
    QCOMPARE(title, QString::fromUtf8("Info über Quorvik"));
    QCOMPARE(texts.size(), 2);
    QCOMPARE(texts.front(), QStringLiteral("Quorvik Version 1.41"));
  }

  // A compositor, not the program, places windows on Wayland: a box or panel
  // stays above its window and beside it only when it belongs to that
  // window, and one that does not may open behind it.
  void boxesAndPanelsBelongToTheWindow() {
    MakeGatedWindow();
    StartAndSettle();
    QWindow* main = view().windowHandle();
    QWindow* aboutOwner = nullptr;
    WhenModalShows(this, [&](QWidget* modal) {
      aboutOwner = modal->windowHandle()->transientParent();
      modal->close();
    });
    view().aboutAction()->trigger();
    QCOMPARE(aboutOwner, main);
    view().historyAction()->trigger();
    auto* history = view().findChild<CHistoryDialog*>();
    QVERIFY(history != nullptr && QTest::qWaitForWindowExposed(history));
    QCOMPARE(history->windowHandle()->transientParent(), main);
    CRollCallPanel* rollCall = window->OpenRollCall();
    QVERIFY(QTest::qWaitForWindowExposed(rollCall));
    QCOMPARE(rollCall->windowHandle()->transientParent(), main);
    history->close();
    rollCall->close();
  }

  // A modal question asked by the command thread is answered on the window
  // thread; closing the window answers it cautiously instead.
  void modalBoxesAnswerTheCommandThread() {
    MakeGatedWindow();
    QString shownText;
    WhenModalShows(this, [&](QWidget* modal) {
      auto* box = qobject_cast<QMessageBox*>(modal);
      shownText = box->text();
      box->button(QMessageBox::Yes)->click();
    });
    auto yes = std::async(std::launch::async,
                          [this] { return view().AskYesNo("Reset >" + kOddName + "< ?"); });
    QTRY_COMPARE(yes.wait_for(0s), std::future_status::ready);
    QVERIFY(yes.get());
    QCOMPARE(shownText, QStringLiteral("Reset >") + DisplayText(kOddName) + QStringLiteral("< ?"));

    bool answeredWhileOpen = false;
    std::future<std::optional<std::string>> file;
    WhenModalShows(this, [&](QWidget* modal) {
      view().CancelModalRequests();
      answeredWhileOpen = file.wait_for(2s) == std::future_status::ready;
      modal->close();
    });
    file = std::async(std::launch::async, [this] {
      return view().ChooseFile({"/tmp/fw.bin", "bin", "Firmware", "*.bin"});
    });
    QTRY_COMPARE(file.wait_for(0s), std::future_status::ready);
    QVERIFY(answeredWhileOpen);
    QVERIFY(!file.get().has_value());
    // Later questions get the cautious answer without a box.
    QVERIFY(!std::async(std::launch::async, [this] { return view().AskYesNo("again?"); }).get());
  }

  // Alt+U asks for the firmware file; its type shows its pattern once.
  void firmwareFileDialogNamesItsTypeOnce() {
    TwoDevicesAnswer(network);
    MakeGatedWindow();
    StartAndSettle();
    ActivateWindow();
    QStringList types;
    WhenModalShows(this, [&](QWidget* modal) {
      if (auto* dialog = qobject_cast<QFileDialog*>(modal)) types = dialog->nameFilters();
      QTest::keyClick(modal->windowHandle(), Qt::Key_Escape);
    });
    QTest::keyClick(view().windowHandle(), Qt::Key_U, Qt::AltModifier);
    QTRY_VERIFY(!types.isEmpty());
    QTRY_VERIFY(!window->IsRunningCommand());
    QCOMPARE(types, QStringList{"Firmware File (*.bin)"});
  }

  void viewChangesFromTheCommandThreadReadBackAtOnce() {
    MakeGatedWindow();
    int row = -2, entry = -2;
    bool checked = false;
    std::thread([&] {
      view().ShowDeviceRows({{"a", "", "", ""}, {"b", "", "", ""}});
      view().SelectRow(1);
      view().SetChecked(CheckBox::kUseLastFile, true);
      view().AddNetworkEntry("127.0.0.1");
      view().SelectNetworkEntry(0);
      // Read before the window thread has applied any of it.
      row = view().SelectedRow();
      checked = view().IsChecked(CheckBox::kUseLastFile);
      entry = view().SelectedNetworkEntry();
    }).join();
    QCOMPARE(row, 1);
    QVERIFY(checked);
    QCOMPARE(entry, 0);
    QTRY_COMPARE(view().deviceList()->topLevelItemCount(), 2);
    QVERIFY(view().deviceList()->topLevelItem(1)->isSelected());
    QVERIFY(view().checkBox(CheckBox::kUseLastFile)->isChecked());
    QCOMPARE(view().SelectedRow(), 1);
  }

  // The journal as a table: sortable, filtered by what the operator types,
  // exported as the rows shown.
  void updateHistoryFiltersSortsAndExportsTheJournal() {
    const std::string journal = (scratch.path() / "journal.jsonl").string();
    const CJournal writer(journal);
    for (const char* serial : {"2122232425262728292A2B", "3132333435363738393A3B"}) {
      CommandResult r;
      r.outcome = serial[0] == '2' ? Outcome::kOk : Outcome::kFailed;
      r.reason = "Line\r\nbreak";
      r.deviceName = "Node " + std::string(serial).substr(0, 4);
      r.device.version = 0x0102;
      r.device.identityLength = 11;
      for (int i = 0; i < 11; ++i)
        r.device.identity[i] =
            static_cast<uint8_t>(std::stoi(std::string(serial + 2 * i, 2), nullptr, 16));
      r.update = UpdateFacts{"/fw/a.bin", "ab", 1, 1300, 6, 0x1234, true};
      QVERIFY(!writer.Append(JournalRecord(r, {"host", "quorvik", "10.0.0.1"})));
    }
    std::ofstream(journal, std::ios::app) << "{\"torn";
    QuorvikWindowOptions options;
    options.innerClock = &gate;
    options.journalPath = journal;
    MakeWindow(std::move(options));
    StartAndSettle();
    view().historyAction()->trigger();
    CHistoryDialog* history = view().findChild<CHistoryDialog*>();
    QVERIFY(history != nullptr);
    QAbstractItemModelTester checked(history->table()->model(),
                                     QAbstractItemModelTester::FailureReportingMode::QtTest);
    QCOMPARE(history->table()->model()->rowCount(), 2);
    QVERIFY(history->note()->text().contains(QStringLiteral("1 line(s) could not be read")));
    // A line break in a reason never breaks its row.
    const int reason = 6;
    QCOMPARE(history->table()->model()->index(0, reason).data().toString(),
             QStringLiteral("Line\uFFFD\uFFFDbreak"));

    // It opens with the keyboard in its filter field.
    QVERIFY(QTest::qWaitForWindowExposed(history));
    QVERIFY(HasKeyboard(history));
    QTRY_COMPARE(QApplication::focusWidget(), history->filter());
    for (char c : std::string("3132")) QTest::keyClick(history->windowHandle(), c);
    QCOMPARE(history->table()->model()->rowCount(), 1);
    history->table()->sortByColumn(reason - 1, Qt::DescendingOrder);
    const std::string csv = (scratch.path() / "shown.csv").string();
    QCOMPARE(history->ExportTo(csv), std::string());
    std::ifstream in(csv, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), {});
    QVERIFY(text.rfind("time,host,program,", 0) == 0);
    QCOMPARE(std::count(text.begin(), text.end(), '\n'), 3);  // header, a row, its quoted break
    QVERIFY(text.find("3132333435363738393A3B") != std::string::npos);
    QVERIFY(text.find("2122232425262728292A2B") == std::string::npos);
    history->close();
  }

  // A second program on the ports is named in a box, and the window never
  // opens its sockets.
  void anotherProgramOnThePortsIsNamedAndTheWindowStaysClosed() {
    const CInstanceLock::Attempt held = CInstanceLock::Acquire("other-tool");
    QVERIFY(held.lock != nullptr);
    QString shown;
    WhenModalShows(this, [&](QWidget* modal) {
      shown = qobject_cast<QMessageBox*>(modal)->text();
      modal->close();
    });
    QVERIFY(TakeNetworkOrSay(nullptr) == nullptr);
    QCOMPARE(shown, QStringLiteral("Another program is using the devices' ports on this network: "
                                   "other-tool (pid %1).")
                        .arg(::getpid()));
  }
};

QTEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
