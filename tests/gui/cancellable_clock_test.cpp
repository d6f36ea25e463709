// The window's clock and command thread: closing the window cancels the
// clock, which ends the command's wait at once and every wait after it.

#include <QElapsedTimer>
#include <QTest>
#include <atomic>
#include <chrono>

#include "app/qt/cancellable_clock.h"
#include "app/qt/command_runner.h"

using namespace quorvik;

using namespace std::chrono_literals;

class CancellableClockTest : public QObject {
  Q_OBJECT

 private slots:
  void cancelledClockEndsTheWaitInProgressAndEveryLaterOne() {
    CCancellableClock clock;
    CCommandRunner runner;
    std::atomic<bool> unwound{false}, finished{false};
    QVERIFY(runner.Post(
        [&] {
          try {
            clock.SleepFor(60s);
          } catch (const CCommandCancelled&) {
            unwound = true;
            throw;
          }
        },
        [&] { finished = true; }));
    QVERIFY(!runner.Post([] {}, {}));  // one command at a time
    QElapsedTimer timer;
    timer.start();
    clock.Cancel();
    runner.Stop();
    QVERIFY(timer.elapsed() < 1000);
    QVERIFY(unwound && finished);
    QVERIFY_THROWS_EXCEPTION(CCommandCancelled, clock.SleepFor(1ms));
    QVERIFY(!runner.Post([] {}, {}));
  }
};

QTEST_MAIN(CancellableClockTest)
#include "cancellable_clock_test.moc"
