// The window's item models on their own, without a dialog or a window: each
// fed from small real inputs under QAbstractItemModelTester, with the cells
// and roles the views and dialogs read, and a refill that resets the view.

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QColor>
#include <QFont>
#include <QIcon>
#include <QSignalSpy>
#include <QTest>
#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "app/qt/models/black_list_model.h"
#include "app/qt/models/journal_model.h"
#include "app/qt/models/network_check_model.h"
#include "app/qt/models/recover_model.h"
#include "app/qt/models/roll_call_model.h"
#include "devices/black_list.h"
#include "net/black_list_text.h"
#include "records/flat_json.h"
#include "records/journal.h"

namespace {

constexpr auto kQtTest = QAbstractItemModelTester::FailureReportingMode::QtTest;

struct Cell {
  int row;
  int column;
  int role;
  QVariant expected;
};

// The first cell under `parent` that differs, described; empty when none.
QString Mismatch(const QAbstractItemModel& model, const std::vector<Cell>& cells,
                 const QModelIndex& parent = {}) {
  for (const Cell& c : cells) {
    const QVariant got = model.index(c.row, c.column, parent).data(c.role);
    if (got != c.expected)
      return QStringLiteral("row %1 column %2 role %3: \"%4\" instead of \"%5\"")
          .arg(c.row)
          .arg(c.column)
          .arg(c.role)
          .arg(got.toString(), c.expected.toString());
  }
  return {};
}

int Column(const char* field) {
  const std::vector<std::string>& fields = JournalFields();
  return static_cast<int>(std::find(fields.begin(), fields.end(), field) - fields.begin());
}

std::vector<FlatRecord> Journal(const std::vector<std::string>& lines) {
  std::vector<FlatRecord> records;
  for (const std::string& line : lines) records.push_back(DecodeJsonObject(line).value());
  return records;
}

RollCallLine Line(RollCallStatus status, int row, std::optional<size_t> entry, std::string label,
                  std::optional<RollCallState> old, std::optional<RollCallState> now,
                  int twins = 0) {
  RollCallLine line;
  line.status = status;
  line.row = row;
  line.entry = entry;
  line.label = std::move(label);
  line.location = "FOH";
  line.device = "Node";
  line.serial = "0a0b0c";
  line.mac = "02:10:20:30:40:ab";
  line.old = std::move(old);
  line.now = std::move(now);
  line.twins = twins;
  return line;
}

}  // namespace

class ModelsTest : public QObject {
  Q_OBJECT

 private slots:
  // The recover dialog's devices: serial, model, file, when, and whether
  // the same file can be written again, a changed file named in its row.
  void recover() {
    CRecoverModel model;
    QAbstractItemModelTester tester(&model, kQtTest);
    UnfinishedUpdate ok;
    ok.record.loaderType = 0x0381;
    ok.record.deviceId = 0x3680;
    ok.record.identityLength = 3;
    ok.record.identity = {0x0a, 0x0b, 0x0c};
    ok.file = "/srv/fw/matrix.bin";
    ok.sha256 = "ab";
    ok.when = "2026-12-08T09:41:07.512Z";
    UnfinishedUpdate changed = ok;
    changed.record.identity = {0x0a, 0x0b, 0x0d};
    changed.fileProblem = "/srv/fw/matrix.bin has changed since";
    model.SetDevices({ok, changed});
    QCOMPARE(model.rowCount(), 2);
    QCOMPARE(model.columnCount(), int(CRecoverModel::kColumnCount));
    QCOMPARE(model.headerData(CRecoverModel::kFile, Qt::Horizontal).toString(),
             QStringLiteral("File"));
    QVERIFY(!model.headerData(0, Qt::Vertical).isValid());
    QCOMPARE(Mismatch(model,
                      {
                          {0, CRecoverModel::kSerial, Qt::DisplayRole, QStringLiteral("0A0B0C")},
                          {0, CRecoverModel::kFile, Qt::DisplayRole,
                           QStringLiteral("/srv/fw/matrix.bin")},
                          {0, CRecoverModel::kSince, Qt::DisplayRole,
                           QStringLiteral("2026-12-08T09:41:07.512Z")},
                          {0, CRecoverModel::kState, Qt::DisplayRole,
                           QStringLiteral("The same file can be written again")},
                          {1, CRecoverModel::kState, Qt::DisplayRole,
                           QStringLiteral("/srv/fw/matrix.bin has changed since")},
                          {1, CRecoverModel::kState, Qt::ToolTipRole,
                           QStringLiteral("/srv/fw/matrix.bin has changed since")},
                          {1, CRecoverModel::kFile, Qt::ToolTipRole, QVariant()},
                      }),
             QString());
    QVERIFY(!model.index(0, CRecoverModel::kModel).data().toString().isEmpty());
    QVERIFY(model.CanWriteAgain(0));
    QVERIFY(!model.CanWriteAgain(1));
    QVERIFY(!model.CanWriteAgain(2));
    QSignalSpy reset(&model, &QAbstractItemModel::modelReset);
    model.SetDevices({});
    QCOMPARE(reset.count(), 1);
    QCOMPARE(model.rowCount(), 0);
  }

  // The history table: every field a column, booleans as words, numbers
  // sorting as numbers, a missing or null field an empty cell.
  void journal() {
    CJournalModel model;
    QAbstractItemModelTester tester(&model, kQtTest);
    model.SetRecords(Journal({
        R"({"time":"2026-01-02T10:00:00.000Z","command":"update","outcome":"ok","device":"B\u00fchne","bytes":90000,"verified":true})",
        R"({"time":"2026-01-02T10:05:00.000Z","command":"reboot","outcome":"failed","reason":null,"bytes":900})",
        R"({"time":"2026-01-02T10:09:00.000Z","command":"update","outcome":"ok","verified":false})",
    }));
    QCOMPARE(model.rowCount(), 3);
    QCOMPARE(model.columnCount(), int(JournalFields().size()));
    QCOMPARE(model.headerData(0, Qt::Horizontal).toString(), QStringLiteral("time"));
    QCOMPARE(model.headerData(Column("durationMs"), Qt::Horizontal).toString(),
             QStringLiteral("durationMs"));
    QVERIFY(!model.headerData(0, Qt::Vertical).isValid());
    QCOMPARE(Mismatch(model,
                      {
                          {0, Column("device"), Qt::DisplayRole, QStringLiteral("B\u00fchne")},
                          {0, Column("bytes"), Qt::DisplayRole, QStringLiteral("90000")},
                          {0, Column("bytes"), Qt::UserRole, QVariant::fromValue<qlonglong>(90000)},
                          {0, Column("verified"), Qt::DisplayRole, QStringLiteral("yes")},
                          {0, Column("verified"), Qt::UserRole, QStringLiteral("yes")},
                          {1, Column("reason"), Qt::DisplayRole, QString()},
                          {1, Column("bytes"), Qt::UserRole, QVariant::fromValue<qlonglong>(900)},
                          {1, Column("outcome"), Qt::UserRole, QStringLiteral("failed")},
                          {2, Column("verified"), Qt::DisplayRole, QStringLiteral("no")},
                          {2, Column("device"), Qt::DisplayRole, QString()},
                          {2, Column("bytes"), Qt::ToolTipRole, QVariant()},
                      }),
             QString());
    QCOMPARE(TextOf(model.record(1), "command"), std::string("reboot"));

    QSignalSpy reset(&model, &QAbstractItemModel::modelReset);
    model.SetRecords(Journal({R"({"command":"run","outcome":"ok"})"}));
    QCOMPARE(reset.count(), 1);
    QCOMPARE(model.rowCount(), 1);
    QCOMPARE(Mismatch(model, {{0, Column("command"), Qt::DisplayRole, QStringLiteral("run")}}),
             QString());
    model.SetRecords({});
    QCOMPARE(model.rowCount(), 0);
  }

  // The roll-call tree: five groups in their order, each counting its
  // devices, a change shown as "old → new" and in bold where it differs.
  void rollCall() {
    const RollCallState v12{"1.2", "app"}, v13{"1.3", "app"};
    RollCall call;
    call.lines = {
        Line(RollCallStatus::kPresent, 0, 0, "Desk", v12, v12),
        Line(RollCallStatus::kChanged, 1, 1, "Truss 1", v12, v13),
        Line(RollCallStatus::kMissing, -1, 2, "Truss 2", v12, std::nullopt),
        Line(RollCallStatus::kUnexpected, 3, std::nullopt, "", std::nullopt, v13, 2),
    };
    CRollCallModel model;
    QAbstractItemModelTester tester(&model, kQtTest);
    model.SetRollCall(call);

    QCOMPARE(model.rowCount(), int(kRollCallStatuses.size()));
    QCOMPARE(model.columnCount(), int(CRollCallModel::kColumnCount));
    const QStringList headers = {"Label", "Location", "Device", "Version", "Mode", "Serial", "MAC"};
    for (int c = 0; c < headers.size(); ++c)
      QCOMPARE(model.headerData(c, Qt::Horizontal).toString(), headers[c]);
    const QStringList groups = {"Present (1)", "Changed (1)", "Missing (1)", "Unexpected (1)",
                                "Hidden (0)"};
    for (int g = 0; g < groups.size(); ++g) {
      const QModelIndex group = model.GroupIndex(kRollCallStatuses[size_t(g)]);
      QCOMPARE(group.row(), g);
      QCOMPARE(group.data().toString(), groups[g]);
      QVERIFY(!group.data(Qt::DecorationRole).value<QIcon>().isNull());
      QVERIFY(group.data(Qt::FontRole).value<QFont>().bold());
      QVERIFY(!group.siblingAtColumn(CRollCallModel::kVersion).data().isValid());
      QCOMPARE(model.rowCount(group), g < 4 ? 1 : 0);
      if (g < 4) {
        const QModelIndex line = model.index(0, CRollCallModel::kSerial, group);
        QCOMPARE(line.parent(), group);
        // Group and devices share their tint and meaning, so that a line
        // reads as its group's without the group row in view.
        for (const int role : {int(Qt::BackgroundRole), int(Qt::ToolTipRole)})
          QCOMPARE(line.data(role), group.data(role));
        QCOMPARE(line.data(Qt::ForegroundRole).value<QColor>(), QColor(Qt::black));
      }
    }

    using C = CRollCallModel;
    const auto in = [&model](RollCallStatus s) { return model.GroupIndex(s); };
    QCOMPARE(Mismatch(model,
                      {
                          {0, C::kLabel, Qt::DisplayRole, QStringLiteral("Desk")},
                          {0, C::kLocation, Qt::DisplayRole, QStringLiteral("FOH")},
                          {0, C::kVersion, Qt::DisplayRole, QStringLiteral("1.2")},
                          {0, C::kSerial, Qt::DisplayRole, QStringLiteral("0a0b0c")},
                          {0, C::kMac, Qt::DisplayRole, QStringLiteral("02:10:20:30:40:ab")},
                          {0, C::kLabel, C::kRowRole, 0},
                      },
                      in(RollCallStatus::kPresent)),
             QString());
    QCOMPARE(Mismatch(model,
                      {
                          {0, C::kVersion, Qt::DisplayRole, QStringLiteral("1.2 \u2192 1.3")},
                          {0, C::kMode, Qt::DisplayRole, QStringLiteral("app")},
                          {0, C::kDevice, C::kRowRole, 1},
                      },
                      in(RollCallStatus::kChanged)),
             QString());
    const QModelIndex changed = in(RollCallStatus::kChanged);
    QVERIFY(model.index(0, C::kVersion, changed).data(Qt::FontRole).value<QFont>().bold());
    QVERIFY(!model.index(0, C::kMode, changed).data(Qt::FontRole).value<QFont>().bold());
    QCOMPARE(Mismatch(model,
                      {
                          {0, C::kVersion, Qt::DisplayRole, QStringLiteral("1.2")},
                          {0, C::kDevice, Qt::DisplayRole, QStringLiteral("Node")},
                          {0, C::kLabel, C::kRowRole, -1},
                      },
                      in(RollCallStatus::kMissing)),
             QString());
    QCOMPARE(Mismatch(model,
                      {
                          {0, C::kLabel, Qt::DisplayRole, QStringLiteral("(not in the rig)")},
                          {0, C::kDevice, Qt::DisplayRole,
                           QStringLiteral("Node (2 devices answer as this serial)")},
                          {0, C::kVersion, Qt::DisplayRole, QStringLiteral("1.3")},
                          {0, C::kLabel, C::kRowRole, 3},
                      },
                      in(RollCallStatus::kUnexpected)),
             QString());
    QVERIFY(!model.index(0, C::kLabel, in(RollCallStatus::kUnexpected))
                 .data(Qt::DecorationRole)
                 .value<QIcon>()
                 .isNull());

    QSignalSpy reset(&model, &QAbstractItemModel::modelReset);
    model.SetRollCall({});
    QCOMPARE(reset.count(), 1);
    QCOMPARE(model.rowCount(), int(kRollCallStatuses.size()));
    for (const RollCallStatus s : kRollCallStatuses) QCOMPARE(model.rowCount(in(s)), 0);
    QCOMPARE(in(RollCallStatus::kPresent).data().toString(), QStringLiteral("Present (0)"));
    model.SetRollCall(call);
    QCOMPARE(in(RollCallStatus::kMissing).data().toString(), QStringLiteral("Missing (1)"));
  }

  // Findings arrive one by one; the status comes first in words, what to do
  // on a line of its own, and the same text for a tooltip and a screen
  // reader.
  void networkCheck() {
    CNetworkCheckModel model;
    QAbstractItemModelTester tester(&model, kQtTest);
    QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
    const std::vector<CheckResult> findings = {
        {CheckStatus::kPass, "interfaces", "Network cards", "eth0 10.0.0.12/24 up", ""},
        {CheckStatus::kWarn, "port-6454", "UDP 6454", "held by another program",
         "Close that program"},
        {CheckStatus::kFail, "firewall", "Firewall", "", "Allow UDP 6454"},
    };
    for (const CheckResult& finding : findings) model.Add(finding);
    QCOMPARE(inserted.count(), 3);
    QCOMPARE(model.rowCount(), 3);
    const std::vector<QString> texts = {
        QStringLiteral("PASS  Network cards: eth0 10.0.0.12/24 up"),
        QStringLiteral("WARN  UDP 6454: held by another program\nWhat to do: Close that program"),
        QStringLiteral("FAIL  Firewall\nWhat to do: Allow UDP 6454"),
    };
    for (int row = 0; row < 3; ++row) {
      const QModelIndex index = model.index(row);
      for (const int role :
           {int(Qt::DisplayRole), int(Qt::ToolTipRole), int(Qt::AccessibleTextRole)})
        QCOMPARE(index.data(role).toString(), texts[size_t(row)]);
      QCOMPARE(index.data(CNetworkCheckModel::kStatusRole).toInt(),
               int(findings[size_t(row)].status));
      QCOMPARE(index.data(CNetworkCheckModel::kIdRole).toString(),
               QString::fromStdString(findings[size_t(row)].id));
      QVERIFY(!index.data(Qt::DecorationRole).value<QIcon>().isNull());
      QVERIFY(!index.data(Qt::EditRole).isValid());
    }
    for (const CheckStatus s : {CheckStatus::kPass, CheckStatus::kWarn, CheckStatus::kFail})
      QCOMPARE(model.Count(s), 1);

    QSignalSpy reset(&model, &QAbstractItemModel::modelReset);
    model.Clear();
    QCOMPARE(reset.count(), 1);
    QCOMPARE(model.rowCount(), 0);
    QCOMPARE(model.Count(CheckStatus::kFail), 0);
    model.Add(findings[2]);
    QCOMPARE(model.rowCount(), 1);
    QCOMPARE(model.index(0).data().toString(), texts[2]);
  }

  // The black-list's one column: each entry of the text as the list shows
  // device names, a byte that would break the row shown as U+FFFD.
  void blackList() {
    CBlackListModel model;
    QAbstractItemModelTester tester(&model, kQtTest);
    model.SetEntries(SplitBlackList("0a0b0c (Desk);ff00 (B\xFChne);;0102 (two\nlines);"));
    QCOMPARE(model.rowCount(), 4);
    QCOMPARE(model.columnCount(), 1);
    QCOMPARE(model.headerData(0, Qt::Horizontal).toString(),
             QString::fromLatin1(CDlgBlacklist::kColumnHeader));
    QCOMPARE(Mismatch(model,
                      {
                          {0, 0, Qt::DisplayRole, QStringLiteral("0a0b0c (Desk)")},
                          {1, 0, Qt::DisplayRole, QStringLiteral("ff00 (B\u00fchne)")},
                          {2, 0, Qt::DisplayRole, QString()},
                          {3, 0, Qt::DisplayRole, QStringLiteral("0102 (two\uFFFDlines)")},
                          {0, 0, Qt::ToolTipRole, QVariant()},
                      }),
             QString());

    QSignalSpy reset(&model, &QAbstractItemModel::modelReset);
    model.SetEntries(SplitBlackList("ff00 (B\xFChne)"));
    QCOMPARE(reset.count(), 1);
    QCOMPARE(model.rowCount(), 1);
    model.SetEntries({});
    QCOMPARE(model.rowCount(), 0);
  }
};

QTEST_MAIN(ModelsTest)
#include "models_test.moc"
