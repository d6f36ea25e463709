// The station's tiles as a run changes them, under
// QAbstractItemModelTester: what each tile says (the verdict also as a
// symbol and a word, not by colour alone), and which tiles stay.

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QColor>
#include <QTest>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/qt/models/station_model.h"

using namespace quorvik;

namespace {

StationUnit Unit(const std::string& serial, std::optional<uint16_t> model) {
  StationUnit unit;
  unit.serial = serial;
  unit.model = model;
  return unit;
}

CommandResult Result(Outcome outcome, const std::string& reason = {}) {
  CommandResult result;
  result.outcome = outcome;
  result.reason = reason;
  if (outcome == Outcome::kOk) result.runningVersion = 0x0105;
  return result;
}

class StationModelTest : public QObject {
  Q_OBJECT
 private slots:
  void TilesFollowTheRun() {
    CStationModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    const StationUnit a = Unit("A1", 0x3680), b = Unit("B2", std::nullopt);
    // Each step, then the tiles' texts in order.
    const std::vector<std::pair<std::function<void()>, std::vector<QString>>> kSteps = {
        {[&] { model.Found(a); }, {"\u2026 WRITING 0 %\nA1\nmodel 3680"}},
        {[&] {
           model.Found(b);
           model.Writing(a, 3, 6);
         },
         {"\u2026 WRITING 50 %\nA1\nmodel 3680", "\u2026 WRITING 0 %\nB2\nmodel unknown"}},
        {[&] {
           model.Done(a, Result(Outcome::kOk));
           model.Done(b, Result(Outcome::kFailed, "Timeout on write data! [0007]"));
         },
         {"\u2714 PASS\nA1\nmodel 3680, version 1.05",
          "\u2716 FAIL\nB2\nTimeout on write data! [0007]"}},
        // A unit taken away loses its tile; one put back starts over in its own.
        {[&] {
           model.Gone(a);
           model.Found(b);
         },
         {"\u2026 WRITING 0 %\nB2\nmodel unknown"}},
        // Taken away while written: its verdict is still to come.
        {[&] { model.Gone(b); }, {"\u2026 WRITING 0 %\nB2\nmodel unknown"}},
    };
    for (size_t i = 0; i < kSteps.size(); ++i) {
      kSteps[i].first();
      std::vector<QString> texts;
      for (int row = 0; row < model.rowCount(); ++row)
        texts.push_back(model.index(row).data().toString());
      QCOMPARE(texts, kSteps[i].second);
    }
    QCOMPARE(model.passed(), 1);
    QCOMPARE(model.failed(), 1);
  }

  void TheVerdictIsToldByWordAndColour() {
    CStationModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    const StationUnit a = Unit("A1", 0x3680), b = Unit("B2", 0x3680);
    model.Found(a);
    model.Found(b);
    QVERIFY(!model.index(0).data(Qt::BackgroundRole).isValid());
    model.Done(a, Result(Outcome::kOk));
    model.Done(b, Result(Outcome::kRefused, "Wrong firmware file selected! (ERROR DEVICE)"));
    const QModelIndex pass = model.index(0), fail = model.index(1);
    QCOMPARE(pass.data(CStationModel::kStateRole).toInt(), int(StationTileState::kPass));
    QCOMPARE(fail.data(CStationModel::kStateRole).toInt(), int(StationTileState::kFail));
    QVERIFY(pass.data(Qt::BackgroundRole).value<QColor>().green() >
            pass.data(Qt::BackgroundRole).value<QColor>().red());
    QVERIFY(fail.data(Qt::BackgroundRole).value<QColor>().red() >
            fail.data(Qt::BackgroundRole).value<QColor>().green());
    QCOMPARE(fail.data(Qt::AccessibleTextRole).toString(),
             QStringLiteral("FAIL\nB2\nWrong firmware file selected! (ERROR DEVICE)"));
    QCOMPARE(fail.data(Qt::ToolTipRole).toString(),
             QStringLiteral("Wrong firmware file selected! (ERROR DEVICE)"));
  }
};

}  // namespace

QTEST_MAIN(StationModelTest)
#include "station_model_test.moc"
