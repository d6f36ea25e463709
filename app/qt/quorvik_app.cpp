#include "app/qt/quorvik_app.h"

#include <QIcon>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>

#include "app/qt/quorvik_window.h"
#include "commands/network.h"
#include "net/network_session.h"

namespace quorvik {

CQuorvikApp::CQuorvikApp(int& argc, char** argv) : m_application(argc, argv) {
  QApplication::setApplicationName(QStringLiteral("Quorvik"));
  QApplication::setApplicationVersion(QStringLiteral(QUORVIK_VERSION));
  // Lets the desktop (Wayland above all) match the window to its desktop
  // file and icon, both named by the application id.
  QGuiApplication::setDesktopFileName(QStringLiteral("example.belmarr.Quorvik"));
  QIcon icon;
  for (int size : {16, 32, 48, 256})
    icon.addFile(QStringLiteral(":/icons/example.belmarr.Quorvik-%1.png").arg(size),
                 QSize(size, size));
  QApplication::setWindowIcon(icon);
}

int CQuorvikApp::Run(const std::string& rollCallRig, bool systemJournal,
                     const std::string& stationFile) {
  // Before a socket opens: a second program on the ports would mix its
  // acknowledgements with ours.
  const std::unique_ptr<CInstanceLock> lock = TakeNetworkOrSay(nullptr);
  if (!lock) return 2;
  CSystemNetwork network;
  int result = 0;
  {
    QuorvikWindowOptions options;
    options.journalPath = JournalPath();
    options.systemJournal = systemJournal;
    options.rollCallRig = rollCallRig;
    options.stationFile = stationFile;
    CQuorvikWindow window(network, std::move(options));
    window.Start();
    // For the start-up benchmark: the moment the event loop has shown the
    // window, on the monotonic clock, so a harness can measure from exec.
    if (std::getenv("QUORVIK_REPORT_SHOWN") != nullptr) {
      QTimer::singleShot(0, [] {
        timespec now{};
        ::clock_gettime(CLOCK_MONOTONIC, &now);
        std::fprintf(stderr, "quorvik: shown at %lld.%09ld\n", static_cast<long long>(now.tv_sec),
                     now.tv_nsec);
      });
    }
    // For the flood benchmark: the longest gap between ticks of a 10 ms
    // timer, reported every second, tells how long the event loop stalled.
    QTimer stallProbe;
    if (std::getenv("QUORVIK_REPORT_STALLS") != nullptr) {
      auto last =
          std::make_shared<std::chrono::steady_clock::time_point>(std::chrono::steady_clock::now());
      auto longest = std::make_shared<double>(0);
      auto ticks = std::make_shared<int>(0);
      QObject::connect(&stallProbe, &QTimer::timeout, [last, longest, ticks] {
        const auto now = std::chrono::steady_clock::now();
        *longest =
            std::max(*longest, std::chrono::duration<double, std::milli>(now - *last).count());
        *last = now;
        if (++*ticks % 100 == 0) std::fprintf(stderr, "quorvik: longest stall %.1f ms\n", *longest);
      });
      stallProbe.start(10);
    }
    result = QApplication::exec();
  }
  // The command thread has ended with the window; the network closes as it
  // goes, before the ports' lock is given up.
  return result;
}

}  // namespace quorvik
