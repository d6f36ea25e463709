// The window's station against two simulated units, driven with real keys:
// the tiles say PASS and FAIL, Return and Esc leave the running station alone, its
// set-up is locked, stopping asks first, and what a run went with is what the
// next opening starts from.

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <QTimer>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <utility>

#include "app/qt/models/station_model.h"
#include "app/qt/quorvik_window.h"
#include "app/qt/station_dialog.h"
#include "app/qt/waits_box.h"
#include "base/text.h"
#include "commands/sha256.h"
#include "net/network_session.h"
#include "records/journal.h"
#include "tests/gui/simulator_bench.h"
#include "tests/gui/widget_test_support.h"
#include "tests/support/firmware_file_builder.h"

using namespace quorvik;

namespace {

// "Application > Station..."; the dialog once it shows. Not by keys: on
// Wayland no window need have the keyboard once a window beside it closed.
CStationDialog* OpenStationFromMenu(CQuorvikWindow& window) {
  window.view().stationAction()->trigger();
  return QTest::qWaitFor([&window] { return window.stationDialog() != nullptr; })
             ? window.stationDialog()
             : nullptr;
}

// Answers the question the next key brings up with a key on its button,
// once the box is up.
void AnswerNextQuestion(QMessageBox::StandardButton answer) {
  auto* poll = new QTimer;
  QObject::connect(poll, &QTimer::timeout, poll, [poll, answer] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr || !box->isVisible()) return;
    poll->deleteLater();
    poll->stop();
    QAbstractButton* button = box->button(answer);
    button->setFocus();
    QTest::keyClick(button, Qt::Key_Space);
  });
  poll->start(20);
}

}  // namespace

class StationWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void flashesAUnitAndAsksBeforeItStops() {
    QUORVIK_SKIP_OUTSIDE_PRIVATE_NETNS();
    CSimulatorBench bench;
    QVERIFY(bench.entered());
    const std::string dir = bench.dir();
    const std::string config = dir + "/sim.json", firmware = dir + "/matrix.bin",
                      journal = dir + "/journal.jsonl";
    std::ofstream(config)
        << R"({"devices": [{"mode": "boot", "deviceId": 13952, "mcuId": 33, "blockSize": 256,
              "appVersion": 261, "identity": "2122232425262728292a2b"},
             {"mode": "boot", "deviceId": 13952, "mcuId": 33, "blockSize": 256,
              "identity": "3132333435363738393a3b", "failWrite": {"index": 1, "status": 7}}]})";
    const std::vector<uint8_t> bytes =
        FirmwareFileBytes(2, {{33, 0x3680, 0x01, 0x05, PatternBytes(1300, 3)}});
    WriteFile(firmware, bytes);
    // What the last run went with; the rest of the operator's file stays.
    std::ofstream("Quorvik.ini")
        << "; bench 7\n[APP]\nSELECTED_IP=127.0.0.1\nSTATION_AT_ONCE=2\nSTATION_WAITS=fixed\n";
    // "Units at once", "Fixed waits" and "Settle (ms)" as the dialog shows them.
    const auto choices = [](CStationDialog* d) {
      return QStringLiteral("%1 %2 %3")
          .arg(d->unitsAtOnceBox()->value())
          .arg(d->waitsBox()->fixedBox()->isChecked() ? "fixed" : "ready")
          .arg(d->waitsBox()->settleBox()->value());
    };

    QVERIFY(bench.Start(QUORVIK_DEVSIM_PATH, QString::fromStdString(config)));
    QVERIFY(bench.Ready());
    CSystemNetwork network;
    {
      QuorvikWindowOptions options;
      options.timeScale = 0.1;
      options.journalPath = journal;
      options.stationFile = firmware;  // as quorvik --station FILE
      CQuorvikWindow window(network, options);
      window.Start();
      QTRY_VERIFY_WITH_TIMEOUT(window.stationDialog() != nullptr, 5000);
      QTRY_VERIFY_WITH_TIMEOUT(!window.IsRunningCommand(), 10000);
      CStationDialog* dialog = window.stationDialog();
      // The window itself may take the keyboard after the station opened.
      QTest::qWait(100);
      QVERIFY(HasKeyboard(dialog));
      // Keys go to the widget that has the focus, as an operator's would.
      const auto focus = [dialog](QWidget* widget) {
        // A box that was up hands the keyboard back to the dialog.
        QVERIFY(HasKeyboard(dialog));
        widget->setFocus();
        QTRY_VERIFY2(widget->hasFocus(), qPrintable(widget->objectName()));
      };
      QCOMPARE(dialog->fileLine()->text(),
               QStringLiteral("matrix.bin   SHA-256 %1   models: any the file fits")
                   .arg(QString::fromStdString(Sha256Hex(bytes).substr(0, 12))));
      QCOMPARE(choices(dialog), QStringLiteral("2 fixed 300"));
      QTest::keyClick(dialog->windowHandle(), Qt::Key_X, Qt::AltModifier);
      QTRY_VERIFY(!dialog->waitsBox()->fixedBox()->isChecked());
      for (const auto& [alt, typed] : {std::pair{Qt::Key_O, "3"}, std::pair{Qt::Key_E, "450"}}) {
        QTest::keyClick(dialog->windowHandle(), alt, Qt::AltModifier);
        QTest::keyClick(dialog->windowHandle(), Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(QApplication::focusWidget(), QString::fromLatin1(typed));
      }
      QCOMPARE(choices(dialog), QStringLiteral("3 ready 450"));

      focus(dialog->modelsEdit());
      QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("3680"));
      QVERIFY(dialog->fileLine()->text().endsWith(QStringLiteral("models: 3680")));
      focus(dialog->startButton());
      QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
      QVERIFY(dialog->running());
      // The locked set-up.
      QVERIFY(!dialog->modelsEdit()->isEnabled());
      QVERIFY(!dialog->browseButton()->isEnabled());

      CStationModel* tiles = dialog->model();
      QTRY_VERIFY_WITH_TIMEOUT(tiles->passed() == 1 && tiles->failed() == 1, 15000);
      QStringList texts;
      for (int row = 0; row < tiles->rowCount(); ++row)
        texts << tiles->index(row).data().toString();
      texts.sort();
      QCOMPARE(texts,
               QStringList(
                   {QStringLiteral("\u2714 PASS\n2122232425262728292A2B\nmodel 3680, version 1.05"),
                    QStringLiteral(
                        "\u2716 FAIL\n3132333435363738393A3B\nTimeout on write data! [0007]")}));
      QVERIFY(dialog->countsLine()->text().startsWith(QStringLiteral("PASS 1   FAIL 1")));
      // docs/station.png: QUORVIK_STATION_SCREENSHOT=docs/station.png.
      if (const char* shot = std::getenv("QUORVIK_STATION_SCREENSHOT"))
        QVERIFY(dialog->grab().save(QString::fromLocal8Bit(shot)));

      // Keys that end a dialog leave the running station alone.
      for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Escape}) {
        QTest::keyClick(QApplication::focusWidget(), key);
        QVERIFY(dialog->isVisible());
        QVERIFY(dialog->running());
      }
      // Stopping asks first: No goes on, Yes ends it.
      focus(dialog->stopButton());
      AnswerNextQuestion(QMessageBox::No);
      QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
      QVERIFY(dialog->running());
      focus(dialog->stopButton());
      AnswerNextQuestion(QMessageBox::Yes);
      QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
      QTRY_VERIFY_WITH_TIMEOUT(!dialog->running(), 10000);
      QVERIFY(dialog->modelsEdit()->isEnabled());
      QTRY_VERIFY_WITH_TIMEOUT(!window.IsRunningCommand(), 10000);
      // Each unit was done once, and the journal names the station.
      std::vector<FlatRecord> ends;
      for (FlatRecord& line : ReadJournal(journal).records)
        if (!IsStartLine(line)) ends.push_back(std::move(line));
      QCOMPARE(ends.size(), size_t{2});
      for (const FlatRecord& line : ends) {
        QCOMPARE(TextOf(line, "program"), std::string("quorvik station"));
        QCOMPARE(TextOf(line, "waits"), std::string("ready"));
      }
      std::ifstream ini("Quorvik.ini");
      const std::string settings((std::istreambuf_iterator<char>(ini)), {});
      for (const char* kept : {"SELECTED_IP=127.0.0.1", "STATION_AT_ONCE=3", "STATION_WAITS=ready",
                               "STATION_SETTLE_MS=450"})
        QVERIFY2(settings.find("; bench 7\n") == 0 && settings.find(kept) != std::string::npos,
                 settings.c_str());
      dialog->close();
      QTRY_VERIFY(window.stationDialog() == nullptr);
      // Opened again, it starts from what the run went with.
      dialog = OpenStationFromMenu(window);
      QVERIFY(dialog != nullptr);
      QCOMPARE(choices(dialog), QStringLiteral("3 ready 450"));
      dialog->close();
    }
    // And so does the next start of the program.
    {
      QuorvikWindowOptions options;
      options.timeScale = 0.1;
      CQuorvikWindow window(network, options);
      window.Start();
      QTRY_VERIFY_WITH_TIMEOUT(!window.IsRunningCommand(), 10000);
      CStationDialog* dialog = OpenStationFromMenu(window);
      QVERIFY(dialog != nullptr);
      QCOMPARE(choices(dialog), QStringLiteral("3 ready 450"));
      dialog->close();
    }
    QVERIFY(bench.Stop());
  }

  // Units per hour as quorvik-cli station counts them, from the first
  // second on and over the whole run once it ends; units done before are
  // flashed again only with the box ticked, by its Alt key.
  void tellsThePaceAndFlashesDoneUnitsAgainOnlyWhenAsked() {
    using namespace std::chrono_literals;
    std::chrono::steady_clock::time_point now{};
    CStationDialog dialog(nullptr, [&now] { return now; });
    dialog.show();
    QVERIFY(HasKeyboard(&dialog));
    QTest::keyClick(dialog.windowHandle(), Qt::Key_A, Qt::AltModifier);
    QTRY_VERIFY(dialog.againBox()->isChecked());  // a mnemonic clicks after a moment
    QVERIFY(dialog.setup().again);
    // Start runs what the boxes show, also those whose change told nothing.
    const std::string firmware = QDir::temp().filePath("quorvik-station-setup.bin").toStdString();
    WriteFile(firmware, FirmwareFileBytes(2, {{33, 0x3680, 0x01, 0x05, PatternBytes(600)}}));
    QVERIFY(dialog.ChooseFile(firmware));
    std::optional<StationSetup> started;
    connect(&dialog, &CStationDialog::startRequested, [&] { started = dialog.setup(); });
    QTest::keyClick(dialog.windowHandle(), Qt::Key_O, Qt::AltModifier);
    QTest::keyClick(dialog.windowHandle(), Qt::Key_Up);
    QTest::keyClick(dialog.windowHandle(), Qt::Key_X, Qt::AltModifier);
    QTRY_VERIFY(dialog.waitsBox()->fixedBox()->isChecked());
    QTest::keyClick(dialog.windowHandle(), Qt::Key_S, Qt::AltModifier);
    QTRY_VERIFY(started.has_value());
    QCOMPARE(started->parallel, 5);
    QVERIFY(!started->waits.ready);
    std::remove(firmware.c_str());

    dialog.Begin();
    QVERIFY(!dialog.againBox()->isEnabled());
    const auto perHour = [&dialog] { return dialog.countsLine()->text().section("   ", 3); };
    QCOMPARE(perHour(), QStringLiteral("\u2013 units/hour"));
    now += 30s;
    CommandResult pass;
    pass.outcome = Outcome::kOk;
    for (char serial = 'A'; serial < 'F'; ++serial) {
      StationUnit unit;
      unit.serial = std::string(1, serial);
      dialog.Found(unit);
      dialog.Done(unit, pass);
    }
    QCOMPARE(dialog.countsLine()->text(),
             QStringLiteral("PASS 5   FAIL 0   ignored 0   600 units/hour"));
    StationEnd end;
    end.tally.elapsed = 60s;
    dialog.Finish(end);
    QCOMPARE(perHour(), QStringLiteral("300 units/hour"));
  }
};

QTEST_MAIN(StationWindowTest)
#include "station_window_test.moc"
