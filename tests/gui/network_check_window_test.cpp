// Help > Network check... on the real window, played network and a played
// check: the findings as a list, the check as a command of its own, closing
// that ends it, and the offer beside the notice after a search that listed
// nothing. No socket is opened.

#include <QAbstractItemModelTester>
#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QListView>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>
#include <atomic>
#include <fstream>
#include <mutex>
#include <thread>

#include "app/qt/network_check_dialog.h"
#include "app/qt/quorvik_window.h"
#include "tests/gui/widget_test_support.h"
#include "tests/support/scratch_directory.h"

using namespace std::chrono_literals;

namespace {

// Hands out its findings, then, while held, waits through the check's own
// clock as the real check does while it searches.
class CPlayedCheck {
 public:
  std::vector<CheckResult> findings;
  std::atomic<bool> hold{false};
  std::atomic<bool> cancelled{false};
  std::atomic<int> runs{0};

  NetworkCheckRequest lastRequest() {
    std::lock_guard lock(m_mutex);
    return m_request;
  }
  auto Function() {
    return [this](const NetworkCheckRequest& request, IClock& clock,
                  const std::function<void(const CheckResult&)>& onResult) {
      {
        std::lock_guard lock(m_mutex);
        m_request = request;
      }
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
    };
  }

 private:
  std::mutex m_mutex;
  NetworkCheckRequest m_request;
};

}  // namespace

class NetworkCheckWindowTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<CQuorvikWindow> window;
  CFakeNetwork network;
  std::unique_ptr<CPlayedCheck> check;
  CScratchDirectory scratch;

  CQtMainView& view() { return window->view(); }
  void StartAndSettle() {
    QuorvikWindowOptions options;
    options.timeScale = 0;
    options.networkCheck = check->Function();
    window = std::make_unique<CQuorvikWindow>(network, std::move(options));
    window->Start();
    QTRY_VERIFY_WITH_TIMEOUT(!window->IsRunningCommand(), 10000);
  }
  void Find() {
    QTest::mouseClick(view().button(Button::kFind), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!window->IsRunningCommand(), 10000);
  }

 private slots:
  void init() {
    ResetSharedDeviceState();
    std::ofstream("Quorvik.ini", std::ios::trunc);
    network = CFakeNetwork{};
    network.addresses = {{10, 0, 0, 12}};
    check = std::make_unique<CPlayedCheck>();
  }
  void cleanup() {
    if (check) check->hold = false;
    window.reset();
    ResetSharedDeviceState();
  }

  void checkIsACommandOfItsOwnAndListsEachFindingWithWhatToDo() {
    check->findings = {
        {CheckStatus::kPass, "interfaces", "Cards up with IPv4", "eth0 10.0.0.12/24", ""},
        {CheckStatus::kWarn, "port-6454", "UDP 6454 is held by ol\nad (pid 812)",
         "answers of running devices", "Close that program while you work with devices"},
        {CheckStatus::kFail, "firewall", "The firewall drops device answers", "policy drop",
         "sudo ufw allow quorvik"},
    };
    check->hold = true;
    StartAndSettle();
    QVERIFY(QTest::qWaitForWindowExposed(&view()));
    view().activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&view()));
    QTRY_COMPARE(QApplication::focusWidget(), view().deviceList());
    QCoreApplication::processEvents();
    QTest::keyClick(view().windowHandle(), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), view().button(Button::kFind));
    view().networkCheckAction()->trigger();
    CNetworkCheckDialog* dialog = window->networkCheckDialog();
    QVERIFY(dialog != nullptr && dialog->isVisible());
    QAbstractItemModelTester tester(dialog->model(),
                                    QAbstractItemModelTester::FailureReportingMode::QtTest);
    QAbstractItemModel* model = dialog->model();
    QTRY_COMPARE(model->rowCount(), 3);

    // While it searches the window takes no command, nor a second check.
    QVERIFY(window->IsRunningCommand());
    QVERIFY(!view().button(Button::kFind)->isEnabled());
    QVERIFY(!view().helpMenu()->menuAction()->isEnabled());
    QVERIFY(!view().networkCheckOffer()->isEnabled());
    QVERIFY(!dialog->runAgainButton()->isEnabled());
    QCOMPARE(check->lastRequest().caller, CheckCaller::kWindow);
    QCOMPARE(check->lastRequest().requestedAddress, std::string("10.0.0.12"));

    // The status in words, what to do on a line of its own; what the
    // system said never breaks the line.
    QCOMPARE(model->index(0, 0).data().toString(),
             QStringLiteral("PASS  Cards up with IPv4: eth0 10.0.0.12/24"));
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
    QVERIFY(dialog->runAgainButton()->isEnabled());

    // Again from its keyboard, into a fresh list; the window's keyboard is
    // back on Find once it is active again, never on a check box.
    QVERIFY(QTest::qWaitForWindowExposed(dialog));
    dialog->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(dialog));
    QTest::keyClick(dialog->windowHandle(), Qt::Key_A, Qt::AltModifier);
    QTRY_COMPARE(check->runs.load(), 2);
    QTRY_VERIFY(!window->IsRunningCommand());
    QCOMPARE(model->rowCount(), 3);
    view().activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&view()));
    QTRY_COMPARE(QApplication::focusWidget(), view().button(Button::kFind));
  }

  // Nothing is half-done when a check ends: closing its dialog, or the
  // window without a question, ends it at once, and the window goes on.
  void closingEndsARunningCheckAtOnce() {
    for (const bool closeWindow : {false, true}) {
      init();
      check->findings = {{CheckStatus::kPass, "interfaces", "Cards up with IPv4", "", ""}};
      check->hold = true;
      StartAndSettle();
      view().networkCheckAction()->trigger();
      CNetworkCheckDialog* dialog = window->networkCheckDialog();
      QTRY_COMPARE(dialog->model()->rowCount(), 1);
      QObject scope;
      bool asked = false;
      WhenModalShows(&scope, [&](QWidget* modal) {
        asked = true;
        modal->close();
      });
      QElapsedTimer timer;
      timer.start();
      if (closeWindow)
        QVERIFY(view().close());
      else
        dialog->close();
      QTRY_VERIFY(check->cancelled.load());
      QTRY_VERIFY(!window->IsRunningCommand());
      QVERIFY2(timer.elapsed() < 1000, closeWindow ? "window" : "dialog");
      QVERIFY(!asked);
      QVERIFY(window->networkCheckDialog() == nullptr);
      if (!closeWindow) {
        network.calls.clear();
        Find();
        QCOMPARE(network.calls, (std::vector<std::string>{"boot search", "app search"}));
      }
      cleanup();
    }
  }

  void emptyListOffersTheCheckUntilDevicesAreListed() {
    check->findings = {{CheckStatus::kPass, "interfaces", "Cards up with IPv4", "", ""}};
    StartAndSettle();
    QPushButton* offer = view().networkCheckOffer();
    QVERIFY(offer->isVisible() && offer->isEnabled());
    // The count line stays as it is.
    QListWidget* log = view().statusLog();
    QCOMPARE(log->item(log->count() - 1)->text(), QStringLiteral("0 Interfaces found"));

    QTest::mouseClick(offer, Qt::LeftButton);
    QVERIFY(window->networkCheckDialog() != nullptr);
    QTRY_VERIFY(!window->IsRunningCommand());
    QCOMPARE(check->runs.load(), 1);
    window->networkCheckDialog()->close();

    TwoDevicesAnswer(network);
    Find();
    QCOMPARE(view().deviceList()->topLevelItemCount(), 2);
    QVERIFY(!offer->isVisible());
    network.onSearch = nullptr;
    Find();
    QVERIFY(offer->isVisible());
  }
};

QTEST_MAIN(NetworkCheckWindowTest)
#include "network_check_window_test.moc"
