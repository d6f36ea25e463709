// The real window on the real sockets, against simulated devices on lo:
// start-up finds them all and Find finds them again. Runs only inside a
// private network namespace.

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <QTreeWidget>

#include <QAbstractItemModelTester>
#include <QLabel>
#include <QTableView>
#include <QTreeView>
#include <fstream>

#include "app/qt/models/recover_model.h"
#include "app/qt/network_check_dialog.h"
#include "app/qt/quorvik_window.h"
#include "app/qt/recover_dialog.h"
#include "app/qt/roll_call_panel.h"
#include "app/qt/waits_box.h"
#include "base/text.h"
#include "commands/sha256.h"
#include "net/network_session.h"
#include "records/journal.h"
#include "tests/gui/simulator_bench.h"
#include "tests/gui/widget_test_support.h"
#include "tests/support/firmware_file_builder.h"
#include "tests/support/simulator_process.h"

using namespace quorvik;

class DevsimWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void listsTheSimulatedDevices() {
    QUORVIK_SKIP_OUTSIDE_PRIVATE_NETNS();
    CSimulatorBench bench;
    QVERIFY(bench.entered());

    QVERIFY(bench.Start(QUORVIK_DEVSIM_PATH, QStringLiteral(QUORVIK_DEMO_CONFIG)));
    QVERIFY(bench.Ready());

    CSystemNetwork network;
    {
      // The start-up wait at a fifth of its length is still plenty on lo.
      QuorvikWindowOptions options;
      options.timeScale = 0.2;
      CQuorvikWindow window(network, options);
      window.Start();
      QTRY_VERIFY_WITH_TIMEOUT(!window.IsRunningCommand(), 10000);
      CQtMainView& view = window.view();
      QCOMPARE(view.networkCombo()->currentText(), QStringLiteral("127.0.0.1"));
      QTreeWidget* list = view.deviceList();
      // Four devices, one of them with two units more.
      QCOMPARE(list->topLevelItemCount(), 6);
      QStringList macs;
      for (int i = 0; i < list->topLevelItemCount(); ++i) macs << list->topLevelItem(i)->text(3);
      QVERIFY(macs.contains(QStringLiteral("02-10-20-30-40-01")));
      QVERIFY(!list->findItems(QStringLiteral("Demo Dimmer 4"), Qt::MatchExactly).isEmpty());
      QCOMPARE(view.statusLog()->item(view.statusLog()->count() - 1)->text(),
               QStringLiteral("6 Interfaces found"));

      view.button(Button::kFind)->click();
      QTRY_VERIFY_WITH_TIMEOUT(!window.IsRunningCommand(), 10000);
      QCOMPARE(list->topLevelItemCount(), 6);
      QCOMPARE(view.statusLog()->count(), 2);

      // The real network check, beside the window's own open ports: it
      // searches on the window's network and counts the simulator's answers.
      view.networkCheckAction()->trigger();
      CNetworkCheckDialog* dialog = window.networkCheckDialog();
      QVERIFY(dialog != nullptr);
      QTRY_VERIFY_WITH_TIMEOUT(!window.IsRunningCommand(), 20000);
      QMap<QString, QString> findings;
      for (int row = 0; row < dialog->model()->rowCount(); ++row) {
        const QModelIndex index = dialog->model()->index(row, 0);
        findings[index.data(CNetworkCheckModel::kIdRole).toString()] = index.data().toString();
      }
      QVERIFY2(findings.value(QStringLiteral("chosen")).contains(QStringLiteral("lo 127.0.0.1/8")),
               qPrintable(findings.value(QStringLiteral("chosen"))));
      QVERIFY(findings.value(QStringLiteral("chosen")).contains(QStringLiteral("Network choice")));
      const QString search = findings.value(QStringLiteral("search"));
      QVERIFY2(!search.isEmpty() && !search.contains(QStringLiteral(" 0 answer(s)")),
               qPrintable(search));
      dialog->close();
    }
    QVERIFY(bench.Stop());
  }

  // A device whose update never ended waits in its loader: start-up says so
  // under the list, and the recover dialog writes it the same file again,
  // waiting for its application to answer unless told to pause.
  void offersToRecoverAHalfUpdatedDevice() {
    QUORVIK_SKIP_OUTSIDE_PRIVATE_NETNS();
    CSimulatorBench bench;
    QVERIFY(bench.entered());
    const std::string dir = bench.dir();
    const std::string config = dir + "/sim.json", firmware = dir + "/matrix.bin",
                      journal = dir + "/journal.jsonl";
    std::ofstream(config)
        << "{\"devices\": [{\"mode\": \"boot\", \"loaderType\": 897, \"deviceId\": 13952, "
           "\"mcuId\": 33, \"blockSize\": 256, \"identity\": \"2122232425262728292a2b\", "
           "\"mac\": \"00-0A-95-00-00-21\"}]}";
    const std::vector<uint8_t> bytes =
        FirmwareFileBytes(2, {{33, 0x3680, 0x01, 0x05, PatternBytes(1300, 3)}});
    WriteFile(firmware, bytes);
    // The start of an update that never ended, as a killed program left it.
    CommandResult start;
    start.deviceName = "Matrix Wall";
    start.device.identityLength = 11;
    start.device.identity = {0x21, 0x22, 0x23, 0x24, 0x25, 0x26, 0x27, 0x28, 0x29, 0x2a, 0x2b};
    start.device.mac = {0x00, 0x0A, 0x95, 0x00, 0x00, 0x21};
    start.addressed = start.device;
    start.update.emplace();
    start.update->path = firmware;
    start.update->sha256 = Sha256Hex(bytes);
    start.update->fileBytes = bytes.size();
    QVERIFY(!CJournal(journal).Append(
        JournalStartRecord(start, {"bench", "quorvik-cli", "127.0.0.1"})));
    // The last recovery made the fixed pauses.
    std::ofstream("Quorvik.ini") << "[APP]\nRECOVER_WAITS=fixed\n";

    QVERIFY(bench.Start(QUORVIK_DEVSIM_PATH, QString::fromStdString(config)));
    QVERIFY(bench.Ready());
    CSystemNetwork network;
    {
      QuorvikWindowOptions options;
      options.timeScale = 0.2;
      options.journalPath = journal;
      CQuorvikWindow window(network, options);
      window.Start();
      QTRY_VERIFY_WITH_TIMEOUT(!window.IsRunningCommand(), 10000);
      CQtMainView& view = window.view();
      QTRY_VERIFY_WITH_TIMEOUT(view.halfUpdatedLine()->isVisible(), 5000);
      QCOMPARE(view.halfUpdatedLine()->text(), QStringLiteral("1 device was left half-updated:"));
      QVERIFY(view.recoverOffer()->isVisible());

      view.recoverOffer()->click();
      QTRY_VERIFY(window.recoverDialog() != nullptr);
      CRecoverDialog* dialog = window.recoverDialog();
      // The last recovery's choice, read from the settings file; by its key
      // back to waiting for the device, as recover --yes does.
      QVERIFY(dialog->waitsBox()->fixedBox()->isChecked());
      QVERIFY(HasKeyboard(dialog));
      QTest::keyClick(dialog->windowHandle(), Qt::Key_X, Qt::AltModifier);
      QTRY_VERIFY(!dialog->waitsBox()->fixedBox()->isChecked());
      QCOMPARE(dialog->model()->rowCount(), 1);
      QCOMPARE(dialog->model()->index(0, CRecoverModel::kFile).data().toString(),
               QString::fromStdString(firmware));
      QVERIFY(dialog->writeButton()->isEnabled());
      QVERIFY(dialog->runButton()->isEnabled());

      dialog->writeButton()->click();
      QTRY_VERIFY_WITH_TIMEOUT(window.IsRunningCommand(), 5000);
      QTRY_VERIFY_WITH_TIMEOUT(!window.IsRunningCommand(), 20000);
      // Written, verified and running: nothing is left, the line goes.
      QTRY_VERIFY_WITH_TIMEOUT(!view.halfUpdatedLine()->isVisible(), 5000);
      QCOMPARE(dialog->model()->rowCount(), 0);
      const std::vector<FlatRecord> lines = ReadJournal(journal).records;
      QCOMPARE(lines.size(), size_t{3});
      QVERIFY(IsStartLine(lines[1]));
      QCOMPARE(TextOf(lines[2], "outcome"), std::string("ok"));
      QCOMPARE(TextOf(lines[2], "confirmed"), std::string("running"));
      QCOMPARE(TextOf(lines[2], "file"), firmware);
      QCOMPARE(TextOf(lines[2], "waits"), std::string("ready"));
      std::ifstream ini("Quorvik.ini");
      const std::string settings((std::istreambuf_iterator<char>(ini)), {});
      QVERIFY2(settings.find("RECOVER_WAITS=ready") != std::string::npos, settings.c_str());
      dialog->close();
    }
    QVERIFY(bench.Stop());
  }

  // A rig that declares 3.04 for its dimmers: the roll-call says per device
  // how its firmware stands, "Bring up to date..." opens the fleet dialog
  // with the outdated dimmer planned and the other skipped, and the run
  // reads 3.04 back from the updated one.
  void bringsTheRigUpToDateFromTheRollCall() {
    QUORVIK_SKIP_OUTSIDE_PRIVATE_NETNS();
    CSimulatorBench bench;
    QVERIFY(bench.entered());
    const std::string dir = bench.dir();
    const std::string rig = dir + "/show.rig.json", journal = dir + "/journal.jsonl";
    // The section installs 3.04: the simulator reports its first two bytes.
    std::vector<uint8_t> section = PatternBytes(20 * 256, 5);
    section[0] = 0x03;
    section[1] = 0x04;
    const std::vector<uint8_t> file = FirmwareFileBytes(2, {{33, 0x3680, 0x01, 0x05, section}});
    WriteFile(dir + "/dimmer.bin", file);
    const auto dimmer = [](char n, int version) {
      return std::string(
                 "{\"mode\": \"app\", \"deviceId\": 13952, \"mcuId\": 33, \"blockSize\": "
                 "256, \"imageVersionAt\": 0, \"appVersion\": ") +
             std::to_string(version) + ", \"identity\": \"b" + n + "b1b1b1b1b1b1b1b1b1b1\", " +
             "\"mac\": \"00-0A-95-00-00-B" + n + "\"}";
    };
    std::ofstream(dir + "/sim.json")
        << "{\"devices\": [" << dimmer('1', 0x0102) << ", " << dimmer('2', 0x0304) << "]}";
    std::ofstream(rig) << "{\"format\": 1, \"type\": \"quorvik-rig\", \"firmware\": [{\"model\": "
                          "\"0x3680\", \"file\": \"dimmer.bin\", \"sha256\": \""
                       << Sha256Hex(file)
                       << "\", \"version\": \"3.04\"}], \"devices\": ["
                          "{\"serial\": \"B1B1B1B1B1B1B1B1B1B1B1\", \"deviceId\": \"0x3680\"},"
                          "{\"serial\": \"B2B1B1B1B1B1B1B1B1B1B1\", \"deviceId\": \"0x3680\"}]}";
    QVERIFY(bench.Start(QUORVIK_DEVSIM_PATH, QString::fromStdString(dir + "/sim.json")));
    QVERIFY(bench.Ready());

    CSystemNetwork network;
    {
      QuorvikWindowOptions options;
      options.timeScale = 0.2;
      options.journalPath = journal;
      options.rollCallRig = rig;
      CQuorvikWindow window(network, options);
      window.Start();
      QTRY_VERIFY(window.view().findChild<CRollCallPanel*>() != nullptr);
      CRollCallPanel* panel = window.view().findChild<CRollCallPanel*>();
      QAbstractItemModelTester checked(panel->model(),
                                       QAbstractItemModelTester::FailureReportingMode::QtTest);
      // The plan follows the start-up search, made as it ends.
      QTRY_VERIFY_WITH_TIMEOUT(panel->plan() != nullptr, 10000);
      QVERIFY(!panel->tree()->isColumnHidden(CRollCallModel::kFirmware));
      const auto firmware = [panel](RollCallStatus status, int n) {
        const QModelIndex group = panel->model()->GroupIndex(status);
        return panel->model()->index(n, CRollCallModel::kFirmware, group).data().toString();
      };
      QCOMPARE(firmware(RollCallStatus::kPresent, 0), QStringLiteral("1.02 \u2192 3.04"));
      QCOMPARE(firmware(RollCallStatus::kPresent, 1), QStringLiteral("up to date"));
      QUORVIK_VERIFY_ACCESSIBLE(panel);

      QVERIFY(HasKeyboard(panel));
      QTest::keyClick(panel->windowHandle(), Qt::Key_B, Qt::AltModifier);
      QTRY_VERIFY(window.fleetDialog() != nullptr);
      QTRY_VERIFY_WITH_TIMEOUT(!window.IsRunningCommand(), 10000);
      CFleetDialog* dialog = window.fleetDialog();
      QVERIFY(HasKeyboard(dialog));
      QAbstractItemModelTester fleet(dialog->model(),
                                     QAbstractItemModelTester::FailureReportingMode::QtTest);
      QCOMPARE(dialog->model()->PlannedCount(), 1);
      QCOMPARE(dialog->model()->rowCount(), 2);
      QCOMPARE(dialog->model()->index(1, CFleetModel::kState).data().toString(),
               QStringLiteral("skipped: up-to-date"));
      QVERIFY2(dialog->heading()->text().endsWith(QStringLiteral("/dimmer.bin installs 3.04")),
               qPrintable(dialog->heading()->text()));

      QTest::keyClick(dialog->windowHandle(), Qt::Key_S, Qt::AltModifier);
      QTRY_VERIFY(dialog->IsRunning());
      QTRY_VERIFY_WITH_TIMEOUT(!dialog->IsRunning(), 30000);
      QCOMPARE(dialog->summary()->text(),
               QStringLiteral("Summary: 1 planned, 1 updated, 0 failed, 1 skipped, 1 confirmed "
                              "running"));
      const std::vector<FlatRecord> lines = ReadJournal(journal).records;
      QVERIFY(!lines.empty());
      QCOMPARE(TextOf(lines.back(), "installs"), std::string("3.04"));
      QVERIFY2(TextOf(lines.back(), "reason").find("(3.04 confirmed)") != std::string::npos,
               TextOf(lines.back(), "reason").c_str());
      // Planned again once the run has ended: the device runs what the rig declares.
      QTRY_COMPARE_WITH_TIMEOUT(firmware(RollCallStatus::kPresent, 0), QStringLiteral("up to date"),
                                10000);
      QTRY_COMPARE(firmware(RollCallStatus::kPresent, 1), QStringLiteral("up to date"));
      QVERIFY(!panel->bringUpToDateButton()->isEnabled());
      // A rig loaded while the window is free gets a command of its own.
      QCOMPARE(panel->LoadRig(rig), std::string());
      QVERIFY(panel->plan() == nullptr);
      QTRY_VERIFY_WITH_TIMEOUT(panel->plan() != nullptr, 5000);
      dialog->close();
    }
    QVERIFY(bench.Stop());
  }

  // "Update all..." with "At once:" set by keys: two devices on addresses of
  // their own are written side by side, each row showing its own blocks,
  // and the choice is remembered for the next plan.
  void updatesTwoDevicesAtOnceEachRowShowingItsBlocks() {
    QUORVIK_SKIP_OUTSIDE_PRIVATE_NETNS();
    CSimulatorBench bench;
    QVERIFY(bench.entered());
    const std::string dir = bench.dir();
    const std::string firmware = dir + "/rig.bin";
    const std::vector<uint8_t> section = PatternBytes(60 * 256, 7);
    WriteFile(firmware, FirmwareFileBytes(2, {{33, 0x3680, 0x01, 0x05, section}}));
    // The settings file is the operator's: the rest of it stays as it was.
    std::ofstream("Quorvik.ini") << "; bench 4\n[APP]\nSELECTED_IP=127.0.0.1\n";
    // Generation 3 loaders, 60 blocks each.
    const auto device = [](char n) {
      return std::string(
                 "{\"devices\": [{\"mode\": \"boot\", \"deviceId\": 13952, \"mcuId\": 33, "
                 "\"blockSize\": 256, \"ackDelayMs\": 4, \"identity\": \"a") +
             n + "a1a1a1a1a1a1a1a1a1a1\", \"mac\": \"00-0A-95-00-00-A" + n + "\"}]}";
    };
    CSimulatorProcess first(QUORVIK_DEVSIM_PATH, device('1'), "--source 127.0.0.7", false);
    CSimulatorProcess second(QUORVIK_DEVSIM_PATH, device('2'), "--source 127.0.0.8", false);
    QVERIFY(first.ready() && second.ready());

    CSystemNetwork network;
    {
      QuorvikWindowOptions options;
      options.timeScale = 0.2;
      options.journalPath = dir + "/journal.jsonl";
      CQuorvikWindow window(network, options);
      window.Start();
      QTRY_VERIFY_WITH_TIMEOUT(!window.IsRunningCommand(), 10000);
      CQtMainView& view = window.view();
      QCOMPARE(view.deviceList()->topLevelItemCount(), 2);

      const auto plan = [&] {
        WhenModalShows(this, [&firmware](QWidget* modal) {
          TypeFileName(modal, QString::fromStdString(firmware));
        });
        QVERIFY(HasKeyboard(&view));
        QTest::keyClick(view.windowHandle(), Qt::Key_A, Qt::AltModifier);
        QTRY_VERIFY(QApplication::activePopupWidget() != nullptr);
        QTest::keyClick(QApplication::activePopupWidget()->windowHandle(), 'a');
        QTRY_VERIFY(window.fleetDialog() != nullptr);
        QTRY_VERIFY_WITH_TIMEOUT(!window.IsRunningCommand(), 10000);
        QVERIFY(HasKeyboard(window.fleetDialog()));
      };
      plan();
      CFleetDialog* dialog = window.fleetDialog();
      QCOMPARE(dialog->AtOnce(), 8);
      QCOMPARE(dialog->Canary(), 0);
      QCOMPARE(dialog->model()->PlannedCount(), 2);
      // Its accelerator, then typed: more than 64 is not taken.
      QTest::keyClick(dialog->windowHandle(), Qt::Key_O, Qt::AltModifier);
      QCOMPARE(QApplication::focusWidget(), dialog->atOnceBox());
      QTest::keyClick(dialog->windowHandle(), Qt::Key_A, Qt::ControlModifier);
      QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("99"));
      QCOMPARE(dialog->AtOnce(), 9);
      QTest::keyClick(dialog->windowHandle(), Qt::Key_A, Qt::ControlModifier);
      QTest::keyClick(dialog->windowHandle(), Qt::Key_2);
      QCOMPARE(dialog->AtOnce(), 2);
      QTest::keyClick(dialog->windowHandle(), Qt::Key_F, Qt::AltModifier);
      QCOMPARE(QApplication::focusWidget(), dialog->canaryBox());

      // How many rows show blocks of their own at one moment, and what
      // they said then.
      int most = 0;
      QStringList together;
      QObject::connect(dialog->model(), &QAbstractItemModel::dataChanged, this, [&] {
        QStringList writing;
        for (int row = 0; row < dialog->model()->PlannedCount(); ++row) {
          const QString state = dialog->model()->index(row, CFleetModel::kState).data().toString();
          if (state.startsWith(QStringLiteral("writing: ")) &&
              !state.startsWith(QStringLiteral("writing: 0 ")))
            writing << state;
        }
        if (writing.size() > most) {
          most = static_cast<int>(writing.size());
          together = writing;
        }
      });
      QTest::keyClick(dialog->windowHandle(), Qt::Key_S, Qt::AltModifier);
      QTRY_VERIFY(dialog->IsRunning());
      QTRY_VERIFY_WITH_TIMEOUT(!dialog->IsRunning(), 30000);
      QTRY_VERIFY_WITH_TIMEOUT(!window.IsRunningCommand(), 10000);
      QCOMPARE(most, 2);
      for (const QString& state : together)
        QVERIFY2(state.endsWith(QStringLiteral(" of 60 blocks")), qPrintable(state));
      QCOMPARE(dialog->summary()->text(),
               QStringLiteral("Summary: 2 planned, 2 updated, 0 failed, 0 skipped, 2 confirmed "
                              "running"));
      std::ifstream ini("Quorvik.ini");
      const std::string settings((std::istreambuf_iterator<char>(ini)), {});
      QVERIFY2(
          settings.find("; bench 4") == 0 && settings.find("FLEET_AT_ONCE=2") != std::string::npos,
          settings.c_str());

      // A new dialog starts from the remembered value.
      dialog->close();
      QTRY_VERIFY(window.fleetDialog() == nullptr);
      plan();
      QCOMPARE(window.fleetDialog()->AtOnce(), 2);
      window.fleetDialog()->close();
    }
    first.Stop();
    second.Stop();
  }
};

QTEST_MAIN(DevsimWindowTest)
#include "devsim_window_test.moc"
