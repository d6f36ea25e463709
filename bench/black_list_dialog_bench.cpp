// How long the "Device Black-List" dialog takes to open, and a deletion to
// show, with a black-list of 100,000 hidden devices (settings files of that
// size were seen in the field). The real dialog of the real window, on the
// offscreen platform; nothing touches a network.
//
//   QT_QPA_PLATFORM=offscreen build/release/bench/black_list_dialog_bench [ENTRIES]
//
// Target: under a second for each.

#include <QApplication>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTimer>
#include <QTreeView>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/qt/qt_main_view.h"
#include "devices/black_list.h"
#include "net/reply_processing.h"

using namespace quorvik;

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  const int entries = argc > 1 ? std::atoi(argv[1]) : 100000;
  std::string text;
  char serial[40];
  for (int i = 0; i < entries; ++i) {
    std::snprintf(serial, sizeof serial, "0a0b0c0d0e0f%010x", i);
    text += std::string(i == 0 ? "" : ";") + serial + " (Truss node " + std::to_string(i) + ")";
  }
  DeviceSession devices;
  QElapsedTimer indexing;
  indexing.start();
  {
    std::lock_guard lock(devices.deviceMutex);
    devices.blackList = std::move(text);
  }
  const double indexMs = indexing.nsecsElapsed() / 1e6;

  CQtMainView view;
  view.show();
  CDlgBlacklist logic(devices);
  QElapsedTimer clock;
  double openMs = -1, deleteMs = -1;
  auto* poll = new QTimer(&view);
  QObject::connect(poll, &QTimer::timeout, [&] {
    QWidget* dialog = QApplication::activeModalWidget();
    if (dialog == nullptr) return;
    poll->stop();
    openMs = clock.nsecsElapsed() / 1e6;
    auto* list = dialog->findChild<QTreeView*>();
    list->selectionModel()->select(list->model()->index(entries / 2, 0),
                                   QItemSelectionModel::ClearAndSelect);
    for (QPushButton* button : dialog->findChildren<QPushButton*>()) {
      if (button->text() != QStringLiteral("Delete")) continue;
      QElapsedTimer deleting;
      deleting.start();
      button->click();
      list->viewport()->repaint();
      deleteMs = deleting.nsecsElapsed() / 1e6;
    }
    dialog->close();
  });
  poll->start(0);
  clock.start();
  view.RunBlackListDialog(logic);
  std::printf("black-list of %d entries: index %.1f ms, dialog shown %.1f ms, delete %.1f ms\n",
              entries, indexMs, openMs, deleteMs);
  return openMs >= 0 && deleteMs >= 0 ? 0 : 1;
}
