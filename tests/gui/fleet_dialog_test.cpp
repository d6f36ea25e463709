// "Application > Update all..." on the real window and a played network:
// the file dialog, the plan as a table, a device left out with the keyboard,
// Start, the states of the run, the tally, and "Stop after this device".
// No socket is opened; every wait of the logic passes at once.

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSpinBox>
#include <QTableView>
#include <QTest>
#include <atomic>
#include <thread>

#include "app/qt/quorvik_window.h"
#include "app/qt/recover_dialog.h"
#include "app/qt/station_dialog.h"
#include "app/qt/waits_box.h"
#include "base/text.h"
#include "records/journal.h"
#include "tests/gui/played_window.h"
#include "tests/gui/widget_test_support.h"
#include "tests/support/firmware_file_builder.h"
#include "tests/support/scratch_directory.h"

using namespace quorvik;

using namespace std::chrono_literals;

namespace {

constexpr uint16_t kModel = 0x3680;
constexpr uint16_t kMcu = 0x0021;

std::vector<uint8_t> MacOf(char name) {
  return {0x00, 0x0A, 0x95, 0x00, 0x00, static_cast<uint8_t>(name)};
}

}  // namespace

class FleetDialogTest : public QObject, CPlayedWindowFixture {
  Q_OBJECT

 private:
  std::string journal;
  // Played devices by name: in their loader or running, and the model
  // their loader reports. Touched by the command thread only while it runs.
  std::map<char, bool> inLoader;
  std::map<char, uint16_t> model;
  std::map<char, int> written;
  char failsToWrite = 0;
  // The command thread waits in the second block of this device until the
  // test lets it go on.
  char holdAt = 0;
  std::atomic<bool> held{false}, letGo{false};
  // The window's closing cut the reply waits short.
  std::atomic<bool> aborted{false};

  static char NameOf(const DeviceRecord& r) { return static_cast<char>(r.mac[5]); }

  void Play() {
    network.onSearch = [this](bool boot) {
      for (const auto& [name, loader] : inLoader) {
        const std::vector<uint8_t> mac = MacOf(name), serial = IdentityBytes(uint8_t(name), 11);
        if (boot && loader)
          ProcessDatagram(
              network.devices, kBootPortA,
              Gen3Answer(0x0381, 0x0100, model[name], kMcu, 256, mac, 1, serial).Span());
        if (!boot && !loader)
          ProcessDatagram(network.devices, kAppPort, AppAnswer(0x0100, mac, "Node", serial).Span());
      }
    };
    network.onEnterBootloader = [this](const DeviceRecord& r) { inLoader[NameOf(r)] = true; };
    network.onRun = [this](const DeviceRecord& r) { inLoader[NameOf(r)] = false; };
    network.onWrite = [this](const WriteCall& call) {
      const char name = NameOf(call.device);
      if (name == failsToWrite) return false;
      if (name == holdAt && call.offset > 0 && !held.exchange(true)) {
        for (int i = 0; i < 10000 && !letGo && !aborted; ++i) std::this_thread::sleep_for(1ms);
        if (aborted) return false;
      }
      ++written[name];
      return true;
    };
  }

  // "Application > Update all...", and the file typed into its dialog.
  void PlanWithFile(const std::string& path, QString* dialogFolder = nullptr) {
    WhenModalShows(this, [this, path, dialogFolder](QWidget* modal) {
      if (dialogFolder) *dialogFolder = qobject_cast<QFileDialog*>(modal)->directory().path();
      TypeFileName(modal, QString::fromStdString(path));
    });
    QVERIFY(HasKeyboard(&view()));
    QTest::keyClick(view().windowHandle(), Qt::Key_A, Qt::AltModifier);
    QTRY_VERIFY(QApplication::activePopupWidget() != nullptr);
    QTest::keyClick(QApplication::activePopupWidget()->windowHandle(), 'a');
    QTRY_VERIFY(window->fleetDialog() != nullptr);
    QVERIFY(Settled());
  }

  CFleetDialog* ActiveFleetDialog() {
    CFleetDialog* dialog = window->fleetDialog();
    if (!QTest::qWaitForWindowExposed(dialog)) return nullptr;
    if (!HasKeyboard(dialog)) return nullptr;
    return dialog;
  }

  QString State(CFleetDialog* dialog, int row) {
    return dialog->model()->index(row, CFleetModel::kState).data().toString();
  }

  std::string RigFile() {
    const std::string path = (scratch.path() / "rig.bin").string();
    WriteFile(path, FirmwareFileBytes(2, {{kMcu, kModel, 0x01, 0x05, PatternBytes(600)}}));
    return path;
  }

 private slots:
  void init() {
    network.Reset();
    network.addresses = {{10, 0, 0, 12}};
    inLoader.clear();
    model.clear();
    written.clear();
    failsToWrite = holdAt = 0;
    held = letGo = aborted = false;
    Play();
    journal = (scratch.path() / "journal.jsonl").string();
    std::remove(journal.c_str());
    QuorvikWindowOptions options;
    options.timeScale = 0;
    options.journalPath = journal;
    options.abortReplyWaits = [this] { aborted = true; };
    window = std::make_unique<CQuorvikWindow>(network, std::move(options));
  }
  void cleanup() {
    letGo = true;
    while (QWidget* modal = QApplication::activeModalWidget()) modal->close();
    window.reset();
  }

  void thePlanIsRunForTheCheckedDevicesAndEndsWithATally() {
    // A: a loader whose writes fail; B: running; C: a loader of another
    // model; D: a loader the operator leaves out.
    inLoader = {{'A', true}, {'B', false}, {'C', true}, {'D', true}};
    model = {{'A', kModel}, {'B', kModel}, {'C', 0x1234}, {'D', kModel}};
    failsToWrite = 'A';
    QVERIFY(!view().updateAllAction()->isEnabled());
    window->Start();
    QVERIFY(Settled());
    QVERIFY(view().updateAllAction()->isEnabled());

    QString folder;
    PlanWithFile(RigFile(), &folder);
    QCOMPARE(folder, QDir::currentPath());  // where Firmware-Update's dialog opens
    CFleetDialog* dialog = ActiveFleetDialog();
    QVERIFY(dialog);
    QVERIFY(!dialog->isModal());
    QUORVIK_VERIFY_ACCESSIBLE(dialog);
    QAbstractItemModelTester checked(dialog->model(),
                                     QAbstractItemModelTester::FailureReportingMode::QtTest);
    CFleetModel* m = dialog->model();
    QCOMPARE(m->rowCount(), 4);
    QCOMPARE(m->PlannedCount(), 3);
    QStringList names, states;
    for (int row = 0; row < 4; ++row) {
      names << m->index(row, CFleetModel::kSerial).data().toString().left(2);
      states << State(dialog, row);
    }
    // The loaders answer first; the running node's section shows after its
    // restart only.
    QCOMPARE(names, (QStringList{"41", "44", "42", "43"}));
    QCOMPARE(states, (QStringList{"to update", "to update", "to update",
                                  "skipped: Wrong firmware file selected! (ERROR DEVICE)"}));
    QCOMPARE(m->index(2, CFleetModel::kSection).data().toString(), QStringLiteral("?"));
    QCOMPARE(m->index(0, CFleetModel::kBlocks).data().toString(), QStringLiteral("3"));
    QVERIFY(!(m->flags(m->index(3, CFleetModel::kDevice)) & Qt::ItemIsUserCheckable));

    // D is left out with the keyboard: down to its row, Space on its box.
    QCOMPARE(QApplication::focusWidget(), dialog->table());
    QTest::keyClick(dialog->windowHandle(), Qt::Key_Down);
    QTest::keyClick(dialog->windowHandle(), Qt::Key_Space);
    QCOMPARE(m->index(1, CFleetModel::kDevice).data(Qt::CheckStateRole).toInt(), Qt::Unchecked);
    QCOMPARE(State(dialog, 1), QStringLiteral("left out"));

    QTest::keyClick(dialog->windowHandle(), Qt::Key_S, Qt::AltModifier);
    QTRY_VERIFY_WITH_TIMEOUT(dialog->summary()->text().startsWith(QStringLiteral("Summary:")),
                             10000);
    QVERIFY(Settled());
    QCOMPARE(State(dialog, 0), QStringLiteral("failed: Timeout on write data! [0000]"));
    QCOMPARE(State(dialog, 1), QStringLiteral("skipped: left out"));
    QCOMPARE(State(dialog, 2), QStringLiteral("ok, running"));
    QCOMPARE(dialog->summary()->text(),
             QStringLiteral("Summary: 2 planned, 1 updated, 1 failed, 2 skipped, 1 confirmed "
                            "running"));
    QCOMPARE(dialog->progress()->value(), dialog->progress()->maximum());
    QCOMPARE(written, (std::map<char, int>{{'B', 3}}));
    // Each device the run reached is in the journal, as from Firmware-Update:
    // the start before its first frame, and the line that ends it.
    const std::vector<FlatRecord> lines = ReadJournal(journal).records;
    QCOMPARE(lines.size(), size_t{4});
    QCOMPARE(HistoryEntries(lines).size(), size_t{2});
    QVERIFY(IsStartLine(lines[0]) && IsStartLine(lines[2]));
    for (const FlatRecord& line : lines) QCOMPARE(TextOf(line, "waits"), std::string("ready"));
    // The window is itself again; the plan is not run twice.
    QVERIFY(view().button(Button::kFind)->isEnabled());
    QVERIFY(!dialog->startButton()->isEnabled());
    QVERIFY(dialog->stopButton()->isEnabled() == false);
  }

  // The fixed pauses are one key away, the estimates follow them, and the
  // next plan opens with them.
  void fixedWaitsAreChosenWithTheKeyboardAndRemembered() {
    inLoader = {{'B', false}};
    model = {{'B', kModel}};
    window->Start();
    QVERIFY(Settled());
    PlanWithFile(RigFile());
    CFleetDialog* dialog = ActiveFleetDialog();
    QVERIFY(dialog);
    QVERIFY(!dialog->waitsBox()->fixedBox()->isChecked());
    // The estimate follows: B's restart and start cost 6 s and 5.1 s more.
    const QModelIndex estimate = dialog->model()->index(0, CFleetModel::kEstimate);
    QCOMPARE(estimate.data().toString(), QStringLiteral("~4 s"));
    QTest::keyClick(dialog->windowHandle(), Qt::Key_X, Qt::AltModifier);
    QTRY_VERIFY(dialog->waitsBox()->fixedBox()->isChecked());
    QCOMPARE(estimate.data().toString(), QStringLiteral("~14 s"));
    QTest::keyClick(dialog->windowHandle(), Qt::Key_E, Qt::AltModifier);
    QCOMPARE(QApplication::focusWidget(), dialog->waitsBox()->settleBox());
    QTest::keyClick(dialog->windowHandle(), Qt::Key_Up);
    QTest::keyClick(dialog->windowHandle(), Qt::Key_S, Qt::AltModifier);
    QTRY_VERIFY_WITH_TIMEOUT(dialog->summary()->text().startsWith(QStringLiteral("Summary:")),
                             10000);
    QVERIFY(Settled());
    for (const FlatRecord& line : ReadJournal(journal).records)
      QCOMPARE(TextOf(line, "waits"), std::string("fixed"));
    dialog->close();
    QTRY_VERIFY(window->fleetDialog() == nullptr);
    PlanWithFile(RigFile());
    dialog = ActiveFleetDialog();
    QVERIFY(dialog);
    QVERIFY(dialog->waitsBox()->fixedBox()->isChecked());
    QCOMPARE(dialog->waitsBox()->settleBox()->value(), 350);
  }

  void stopAfterThisDeviceFinishesTheDeviceBeingWrittenAndLeavesTheRest() {
    inLoader = {{'E', true}, {'F', true}};
    model = {{'E', kModel}, {'F', kModel}};
    holdAt = 'E';
    window->Start();
    QVERIFY(Settled());
    PlanWithFile(RigFile());
    CFleetDialog* dialog = ActiveFleetDialog();
    QVERIFY(dialog);

    QTest::keyClick(dialog->windowHandle(), Qt::Key_S, Qt::AltModifier);
    QTRY_VERIFY(held.load());
    // The first block is in; the window is busy as during any command.
    QTRY_COMPARE(State(dialog, 0), QStringLiteral("writing: 1 of 3 blocks"));
    QCOMPARE(State(dialog, 1), QStringLiteral("waiting"));
    QVERIFY(dialog->progress()->value() > 0);
    QVERIFY(window->IsRunningCommand());
    QVERIFY(!view().applicationMenu()->menuAction()->isEnabled());
    QVERIFY(!view().button(Button::kFind)->isEnabled());
    QVERIFY(!dialog->startButton()->isEnabled());
    // Esc does not close the dialog the run is watched and stopped in.
    QTest::keyClick(dialog->windowHandle(), Qt::Key_Escape);
    QVERIFY(dialog->isVisible());
    QVERIFY(!dialog->close());
    // Closing the main window asks first, as during any command.
    QString question;
    WhenModalShows(this, [&question](QWidget* modal) {
      auto* box = qobject_cast<QMessageBox*>(modal);
      question = box->text();
      box->button(QMessageBox::No)->click();
    });
    QVERIFY(!view().close());
    QVERIFY(question.startsWith(QStringLiteral("A command is still running.")));
    QVERIFY(window->IsRunningCommand());
    QVERIFY(ActiveFleetDialog());

    QCOMPARE(QApplication::focusWidget(), dialog->stopButton());
    QTest::keyClick(dialog->windowHandle(), Qt::Key_Space);
    QVERIFY(!dialog->stopButton()->isEnabled());
    letGo = true;
    QTRY_VERIFY_WITH_TIMEOUT(!dialog->IsRunning(), 10000);
    QVERIFY(Settled());
    QCOMPARE(State(dialog, 0), QStringLiteral("ok, running"));
    QCOMPARE(State(dialog, 1), QStringLiteral("not started: stopped before its turn"));
    QCOMPARE(dialog->summary()->text(),
             QStringLiteral("Stopped after the devices being written. Summary: 2 planned, 1 "
                            "updated, 0 failed, 0 skipped, 1 not started, 1 confirmed running"));
    QCOMPARE(written, (std::map<char, int>{{'E', 3}}));
    // The window's log shows the update's own lines, as from Firmware-Update.
    QStringList log;
    for (int i = 0; i < view().statusLog()->count(); ++i)
      log << view().statusLog()->item(i)->text();
    QVERIFY2(log.contains(QStringLiteral("RUN application.")), qPrintable(log.join('|')));
  }

  // A window manager centres the window on a 1280 x 800 screen. Each panel
  // opens beside it, whole, the window making room where it must: the
  // station, recovery with its last column whole, and the plan with every
  // row, or with all the room the screen has beside the window.
  void panelsOpenBesideTheWindowWhole() {
    for (char name = 'a'; name < 'm'; ++name) {
      inLoader[name] = true;
      model[name] = kModel;
    }
    QVERIFY(JournalUnfinishedUpdate(journal, IdentityBytes('a', 11), MacOf('a'),
                                    "/srv/bench/firmware/releases/matrix-driver-hub75e-1.05.bin"));
    window->Start();
    QVERIFY(Settled());
    QTRY_VERIFY(view().recoverOffer()->isVisible());
    const QRect room = view().screen()->availableGeometry();
    QCOMPARE(room.size(), QSize(1280, 800));
    const std::vector<std::pair<const char*, std::function<QWidget*()>>> kPanels = {
        {"station",
         [this] {
           window->OpenStation();
           return QTest::qWaitFor([this] { return window->stationDialog() != nullptr; })
                      ? window->stationDialog()
                      : nullptr;
         }},
        {"recover",
         [this] {
           window->OpenRecover();
           return QTest::qWaitFor([this] { return window->recoverDialog() != nullptr; })
                      ? window->recoverDialog()
                      : nullptr;
         }},
        {"plan", [this] { return (PlanWithFile(RigFile()), window->fleetDialog()); }},
    };
    for (const auto& [name, open] : kPanels) {
      view().move(room.center() - view().rect().center());
      QWidget* panel = open();
      QVERIFY2(QTest::qWaitForWindowExposed(panel), name);
      const QRect main = view().frameGeometry(), beside = panel->frameGeometry();
      QVERIFY2(room.contains(main) && room.contains(beside) && !main.intersects(beside), name);
      // Every column whole; every row, or all the room there is.
      if (const auto* table = panel->findChild<QTableView*>()) {
        QVERIFY2(table->horizontalHeader()->length() <= table->viewport()->width(), name);
        const int last = table->model()->rowCount() - 1;
        QVERIFY2(table->rowViewportPosition(last) + table->rowHeight(last) <=
                         table->viewport()->height() ||
                     beside.top() == room.top() || beside.bottom() == room.bottom(),
                 name);
      }
      panel->close();
    }
  }

  // Closing the window ends the run at once, as it ends any command: the
  // device being written is journalled as interrupted, not as a device that
  // stopped answering, and the next is not begun.
  void closingTheWindowMidRunEndsItAtOnce() {
    inLoader = {{'E', true}, {'F', true}};
    model = {{'E', kModel}, {'F', kModel}};
    holdAt = 'E';
    window->Start();
    QVERIFY(Settled());
    PlanWithFile(RigFile());
    CFleetDialog* dialog = ActiveFleetDialog();
    QVERIFY(dialog);
    QTest::keyClick(dialog->windowHandle(), Qt::Key_S, Qt::AltModifier);
    QTRY_VERIFY(held.load());
    WhenModalShows(this, [](QWidget* modal) {
      qobject_cast<QMessageBox*>(modal)->button(QMessageBox::Yes)->click();
    });
    // The command thread has ended when the window is closed.
    QVERIFY(view().close());
    QVERIFY(aborted.load());
    QCOMPARE(written, (std::map<char, int>{{'E', 1}}));
    const std::vector<FlatRecord> lines = ReadJournal(journal).records;
    QCOMPARE(lines.size(), size_t{2});
    QVERIFY(IsStartLine(lines[0]));
    QCOMPARE(TextOf(lines[1], "outcome"), std::string("interrupted"));
  }
};

QTEST_MAIN(FleetDialogTest)
#include "fleet_dialog_test.moc"
