// The real window on a played network with a played network check: the
// check as a command of its own, closing that ends it, the offer after an
// empty search; and the window for a keyboard, a screen reader and large
// type. ctest also runs this program at QT_SCALE_FACTOR=2.

#include <QAbstractItemModelTester>
#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QListWidget>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QScopeGuard>
#include <QStatusBar>
#include <QTest>
#include <QTreeWidget>
#include <atomic>
#include <fstream>
#include <thread>

#include "app/qt/history_dialog.h"
#include "app/qt/network_check_dialog.h"
#include "app/qt/quorvik_window.h"
#include "app/qt/roll_call_panel.h"
#include "base/text.h"
#include "tests/gui/played_window.h"
#include "tests/gui/widget_test_support.h"
#include "tests/support/scratch_directory.h"

using namespace quorvik;

using namespace std::chrono_literals;

namespace {

// Hands out its findings, then, while held, waits through the check's own
// clock as the real check does while it searches.
struct CPlayedCheck {
  std::vector<CheckResult> findings;
  std::atomic<bool> hold{false}, cancelled{false};
  std::atomic<int> runs{0};
  NetworkCheckRequest request;  // set before the first finding shows

  std::vector<CheckResult> operator()(const NetworkCheckRequest& asked, IClock& clock,
                                      const std::function<void(const CheckResult&)>& onResult) {
    request = asked;
    ++runs;
    for (const CheckResult& f : findings) onResult(f);
    try {
      while (hold) {
        std::this_thread::sleep_for(5ms);
        clock.SleepFor(20ms);
      }
    } catch (const CCommandCancelled&) {
      cancelled = true;
      throw;
    }
    return findings;
  }
};

}  // namespace

class WindowAccessTest : public QObject, CPlayedWindowFixture {
  Q_OBJECT

 private:
  std::unique_ptr<CPlayedCheck> check;
  void StartAndSettle() {
    QuorvikWindowOptions options;
    options.networkCheck = std::ref(*check);
    StartWindow(std::move(options));
  }
  // Activation has been handled, and with it the window's own return of
  // the keyboard.
  void Activate(QWidget* top) {
    QVERIFY(QTest::qWaitForWindowExposed(top));
    QVERIFY(HasKeyboard(top));
    QCoreApplication::processEvents();
  }
  void Find() {
    QTest::mouseClick(view().button(Button::kFind), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!window->IsRunningCommand(), 10000);
  }

 private slots:
  void init() {
    StartAfresh();
    check = std::make_unique<CPlayedCheck>();
    check->findings = {
        {CheckStatus::kPass, "interfaces", "Cards up with IPv4", "eth0 10.0.0.12/24", ""},
        {CheckStatus::kWarn, "port-6454", "UDP 6454 is held by ol\nad (pid 812)",
         "answers of running devices", "Close that program while you work with devices"},
        {CheckStatus::kFail, "firewall", "The firewall drops device answers", "policy drop",
         "sudo ufw allow quorvik"},
    };
  }
  void cleanup() {
    check->hold = false;
    window.reset();
  }

  void checkIsACommandOfItsOwnAndListsEachFindingWithWhatToDo() {
    check->hold = true;
    StartAndSettle();
    Activate(&view());
    QTest::keyClick(view().windowHandle(), Qt::Key_Tab);  // from the list to Find
    QCOMPARE(QApplication::focusWidget(), view().button(Button::kFind));
    view().networkCheckAction()->trigger();
    CNetworkCheckDialog* dialog = window->networkCheckDialog();
    QAbstractItemModelTester tester(dialog->model(),
                                    QAbstractItemModelTester::FailureReportingMode::QtTest);
    QAbstractItemModel* model = dialog->model();
    QTRY_COMPARE(model->rowCount(), 3);

    // While it searches the window takes no command, nor a second check.
    for (QWidget* off : {static_cast<QWidget*>(view().button(Button::kFind)),
                         static_cast<QWidget*>(view().networkCheckOffer()),
                         static_cast<QWidget*>(dialog->runAgainButton())})
      QVERIFY(!off->isEnabled());
    QVERIFY(!view().helpMenu()->menuAction()->isEnabled());
    QCOMPARE(check->request.caller, CheckCaller::kWindow);
    QCOMPARE(check->request.requestedAddress, std::string("10.0.0.12"));

    // The status in words, what to do on a line of its own; what the
    // system said never breaks the line.
    QCOMPARE(model->index(1, 0).data().toString(),
             QStringLiteral("WARN  UDP 6454 is held by ol\uFFFDad (pid 812): answers of running "
                            "devices\nWhat to do: Close that program while you work with devices"));
    QCOMPARE(model->index(2, 0).data(CNetworkCheckModel::kStatusRole).toInt(),
             int(CheckStatus::kFail));
    QVERIFY(!model->index(2, 0).data(Qt::DecorationRole).value<QIcon>().isNull());

    check->hold = false;
    QTRY_VERIFY(!window->IsRunningCommand());
    QCOMPARE(dialog->summary()->text(), QStringLiteral("Network check: 1 pass, 1 warn, 1 fail"));
    QVERIFY(view().button(Button::kFind)->isEnabled());

    // Again from the dialog's keyboard, into a fresh list; the window's
    // keyboard is back on Find once it is active again, never on a check box.
    Activate(dialog);
    QTest::keyClick(dialog->windowHandle(), Qt::Key_A, Qt::AltModifier);
    QTRY_COMPARE(check->runs.load(), 2);
    QTRY_VERIFY(!window->IsRunningCommand());
    QCOMPARE(model->rowCount(), 3);
    Activate(&view());
    QTRY_COMPARE(QApplication::focusWidget(), view().button(Button::kFind));
  }

  // Nothing is half-done when a check ends: closing its dialog, or the
  // window without a question, ends it at once, and the window goes on.
  void closingEndsARunningCheckAtOnce() {
    for (const bool closeWindow : {false, true}) {
      init();
      check->hold = true;
      StartAndSettle();
      view().networkCheckAction()->trigger();
      QTRY_COMPARE(window->networkCheckDialog()->model()->rowCount(), 3);
      QObject scope;
      bool asked = false;
      WhenModalShows(&scope, [&](QWidget* modal) {
        asked = true;
        modal->close();
      });
      QElapsedTimer timer;
      timer.start();
      QVERIFY(closeWindow ? view().close() : window->networkCheckDialog()->close());
      QTRY_VERIFY(check->cancelled && !window->IsRunningCommand());
      QVERIFY2(timer.elapsed() < 1000 && !asked, closeWindow ? "window" : "dialog");
      QVERIFY(window->networkCheckDialog() == nullptr);
      if (!closeWindow) {
        Find();
        QCOMPARE(network.calls.back(), std::string("app search"));
      }
      cleanup();
    }
  }

  void emptyListOffersTheCheckUntilDevicesAreListed() {
    StartAndSettle();
    QPushButton* offer = view().networkCheckOffer();
    QVERIFY(offer->isVisible() && offer->isEnabled());
    QListWidget* log = view().statusLog();
    QCOMPARE(log->item(log->count() - 1)->text(), QStringLiteral("0 Interfaces found"));
    QTest::mouseClick(offer, Qt::LeftButton);
    QTRY_COMPARE(check->runs.load(), 1);
    QTRY_VERIFY(!window->IsRunningCommand());
    window->networkCheckDialog()->close();

    TwoDevicesAnswer(network);
    Find();
    QVERIFY(!offer->isVisible());
    network.onSearch = nullptr;
    Find();
    QVERIFY(offer->isVisible());
  }

  // Tab goes round every control in the order they are drawn, the list and
  // the log included; the menu key opens the selected device's menu.
  void tabReachesEveryControlAndTheMenuKeyTheDeviceMenu() {
    TwoDevicesAnswer(network);
    StartAndSettle();
    Activate(&view());
    QList<QWidget*> round;
    for (int i = 0; i < 12 && (round.isEmpty() || QApplication::focusWidget() != round.front());
         ++i) {
      round << QApplication::focusWidget();
      QTest::keyClick(view().windowHandle(), Qt::Key_Tab);
    }
    QCOMPARE(round,
             (QList<QWidget*>{view().deviceList(), view().button(Button::kFind),
                              view().button(Button::kFirmwareUpdate), view().statusLog(),
                              view().webLink(), view().checkBox(CheckBox::kUseLastFile),
                              view().checkBox(CheckBox::kAndMakeUpdate), view().networkCombo()}));
    QTest::keyClick(view().windowHandle(), Qt::Key_Menu);  // row 0: a bootloader
    QTRY_VERIFY(QApplication::activePopupWidget() != nullptr);
    auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    QCOMPARE(menu->actions().front()->text(), QStringLiteral("Run application"));
    menu->close();
  }

  // Every control has a name a screen reader says, and every caption an
  // Alt key of its own.
  void everyControlHasANameAndItsOwnAltKey() {
    StartAndSettle();  // nothing answers: the offer shows
    view().ShowPortProblems({"UDP 6454 is held by olad (pid 812)"});
    view().networkCheckAction()->trigger();
    QTRY_VERIFY(!window->IsRunningCommand());
    QMap<QChar, QString> menus;
    for (QAction* menu : view().menuBar()->actions()) menus[Mnemonic(menu->text())] = menu->text();
    QUORVIK_VERIFY_ACCESSIBLE(&view(), menus);
    QUORVIK_VERIFY_ACCESSIBLE(window->networkCheckDialog());

    TwoDevicesAnswer(network);
    Find();
    view().historyAction()->trigger();
    QUORVIK_VERIFY_ACCESSIBLE(view().findChild<CHistoryDialog*>());
    QUORVIK_VERIFY_ACCESSIBLE(window->OpenRollCall());
  }

  void listAndLogGrowWithTheWindowNeverBelowItsStart() {
    StartAndSettle();
    QVERIFY(QTest::qWaitForWindowExposed(&view()));
    const QSize start = view().size();
    QWidget* list = view().deviceList();
    QWidget* log = view().statusLog();
    const QRect list0 = list->geometry(), log0 = log->geometry(),
                bar0 = view().progressBar()->geometry();

    view().resize(start + QSize(200, 160));
    QTRY_COMPARE(list->size(), list0.size() + QSize(200, 120));
    QCOMPARE(log->geometry(), log0.adjusted(0, 120, 200, 160));
    QCOMPARE(view().button(Button::kFirmwareUpdate)->geometry().right(), list->geometry().right());
    QCOMPARE(view().progressBar()->geometry(), bar0.translated(200, 160));

    view().resize(start - QSize(50, 50));
    QCOMPARE(view().size(), start);
    QCOMPARE(log->geometry(), log0);
  }

  // Captions hold their size hint, lists and bars their smallest usable
  // size, the log its three lines, and all lie inside the window.
  void fourteenPointFontClipsNothing() {
    const QFont original = QApplication::font();
    QFont large = original;
    large.setPointSize(14);
    QApplication::setFont(large);
    const auto restore = qScopeGuard([&] { QApplication::setFont(original); });
    TwoDevicesAnswer(network);
    StartAndSettle();
    view().ShowPortProblems({"UDP 6454 is held by olad (pid 812)"});
    QVERIFY(QTest::qWaitForWindowExposed(&view()));
    for (QWidget* w : Controls(&view())) {
      const bool caption = qobject_cast<QAbstractButton*>(w) || qobject_cast<QLabel*>(w) ||
                           qobject_cast<QComboBox*>(w);
      const QSize need = caption ? w->sizeHint() : w->minimumSizeHint();
      QVERIFY2(w->width() >= need.width() && w->height() >= need.height(), qPrintable(Describe(w)));
      QVERIFY(view().rect().contains(QRect(w->mapTo(&view(), QPoint(0, 0)), w->size())));
    }
    QListWidget* log = view().statusLog();
    for (const char* line : {"one", "two", "three"}) window->dlg().AddStatusLine(line, Beep::kNone);
    for (int i = 0; i < 3; ++i)
      QVERIFY(log->viewport()->rect().contains(log->visualItemRect(log->item(i))));
  }
};

QTEST_MAIN(WindowAccessTest)
#include "window_access_test.moc"
