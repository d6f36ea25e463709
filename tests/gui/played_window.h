#pragma once
// What the widget tests of the real window on a played network share: the
// window each test makes, the network it plays, and a scratch working
// folder, where the window reads and writes Quorvik.ini.

#include <QTest>
#include <array>
#include <cstdint>
#include <fstream>
#include <memory>
#include <vector>

#include "app/qt/quorvik_window.h"
#include "tests/support/fake_main_view.h"
#include "tests/support/scratch_directory.h"

namespace quorvik {

struct CPlayedWindowFixture {
  std::unique_ptr<CQuorvikWindow> window;
  CFakeNetwork network;
  CScratchDirectory scratch;

  CQtMainView& view() { return window->view(); }
  // True once the window's command has ended, within 10 s.
  bool Settled() {
    return QTest::qWaitFor([this] { return !window->IsRunningCommand(); }, 10000);
  }
  // Makes the window with `options`, its waits taking no time, and starts
  // it; the test fails when the start-up search does not end.
  void StartWindow(QuorvikWindowOptions options) {
    options.timeScale = 0;
    window = std::make_unique<CQuorvikWindow>(network, std::move(options));
    window->Start();
    QVERIFY(Settled());
  }
  // Before each test: an empty settings file (being there, it is the one the
  // window uses), and a played network of one card, 10.0.0.12, where nothing
  // answers yet.
  void StartAfresh() {
    std::ofstream("Quorvik.ini", std::ios::trunc);
    network.Reset();
    network.addresses = {{10, 0, 0, 12}};
  }
};

}  // namespace quorvik
