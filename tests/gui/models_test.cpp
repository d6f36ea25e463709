// The window's item models on their own, without a dialog or a window: each
// fed from small real inputs under QAbstractItemModelTester, with the cells
// and roles the views and dialogs read, and a refill that resets the view;
// the fleet's rows also as a run changes them, step by step.

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QColor>
#include <QFont>
#include <QIcon>
#include <QSignalSpy>
#include <QTest>
#include <algorithm>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/qt/models/black_list_model.h"
#include "app/qt/models/fleet_model.h"
#include "app/qt/models/journal_model.h"
#include "app/qt/models/network_check_model.h"
#include "app/qt/models/recover_model.h"
#include "app/qt/models/roll_call_model.h"
#include "base/text.h"
#include "devices/black_list.h"
#include "net/black_list_text.h"
#include "records/flat_json.h"
#include "records/journal.h"

using namespace quorvik;

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

FleetDevice Fleet(uint16_t loaderType, uint8_t serial, std::string name,
                  std::optional<uint8_t> section, std::optional<uint32_t> bytes,
                  std::optional<uint32_t> blocks, int64_t estimateMs, std::string reason = {}) {
  FleetDevice d;
  d.record.loaderType = loaderType;
  d.record.version = 0x0105;
  d.record.mac = {0x02, 0x00, 0x00, 0x00, 0x00, serial};
  d.record.identityLength = 3;
  d.record.identity.fill(serial);
  d.name = std::move(name);
  d.section = section;
  d.bytes = bytes;
  d.blocks = blocks;
  d.estimateMs = estimateMs;
  d.reason = std::move(reason);
  return d;
}

// A loader and a running device planned (the running one's section is
// known only after its restart), a loader of another model skipped.
FleetPlan Plan() {
  FleetPlan plan;
  plan.planned = {Fleet(0x0300, 0x11, "Node", 1, 600, 3, 4200),
                  Fleet(0, 0x12, "B\xFChne\x07", std::nullopt, std::nullopt, std::nullopt, 12001)};
  plan.skipped = {Fleet(0x0300, 0x13, "Dimmer", 2, 600, 3, 4200,
                        "Wrong firmware file selected! (ERROR DEVICE)")};
  return plan;
}

QString FleetState(const CFleetModel& model, int row) {
  return model.index(row, CFleetModel::kState).data().toString();
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

  // A plan's lines: each device's firmware in a few words, the plan's whole
  // reason and the file as its tooltip, in bold where there is something to
  // do or to look into; the roll-call alone leaves the column empty.
  void rollCallFirmware() {
    const RollCallState v{"1.02", "app"};
    struct Case {
      RigAction action;
      std::optional<uint16_t> running, declared;
      QString cell;
      bool bold;
    };
    const std::vector<Case> cases = {
        {RigAction::kUpToDate, 0x0304, 0x0304, "up to date", false},
        {RigAction::kUpdate, 0x0102, 0x0304, "1.02 \u2192 3.04", true},
        {RigAction::kUpdate, std::nullopt, 0x0304, "in loader \u2192 3.04", true},
        {RigAction::kHeld, 0x030A, 0x0304, "held (downgrade 3.10 \u2192 3.04)", true},
        {RigAction::kNoFirmware, 0x0102, std::nullopt, "no firmware declared", false},
        {RigAction::kFileChanged, 0x0102, 0x0304, "file changed", true},
        {RigAction::kFileDoesNotFit, 0x0102, 0x0304, "file does not fit", true},
        {RigAction::kMissing, std::nullopt, std::nullopt, "unknown (missing)", false},
        {RigAction::kHidden, std::nullopt, std::nullopt, "unknown (hidden)", false},
        {RigAction::kUnexpected, 0x0102, std::nullopt, "not in the rig", false},
        {RigAction::kAmbiguous, 0x0102, std::nullopt, "ambiguous", true},
    };
    RigPlan plan;
    for (const Case& c : cases) {
      RigPlanLine& line = plan.lines.emplace_back();
      line.action = c.action;
      line.running = c.running;
      line.declared = c.declared;
      line.reason = std::string("why: ") + RigActionName(c.action);
      line.file = c.declared ? "/rig/fw.bin" : "";
      line.call = Line(RollCallStatus::kPresent, 0, 0, "Desk", v, v);
    }
    CRollCallModel model;
    QAbstractItemModelTester tester(&model, kQtTest);
    model.SetPlan(plan);
    QCOMPARE(model.headerData(CRollCallModel::kFirmware, Qt::Horizontal).toString(),
             QStringLiteral("Firmware"));
    const QModelIndex present = model.GroupIndex(RollCallStatus::kPresent);
    for (int i = 0; i < int(cases.size()); ++i) {
      const Case& c = cases[size_t(i)];
      const QModelIndex cell = model.index(i, CRollCallModel::kFirmware, present);
      QCOMPARE(cell.data().toString(), c.cell);
      QCOMPARE(cell.data(Qt::FontRole).value<QFont>().bold(), c.bold);
      QCOMPARE(cell.data(Qt::ToolTipRole).toString(),
               QStringLiteral("why: %1%2")
                   .arg(QLatin1String(RigActionName(c.action)),
                        c.declared ? QStringLiteral("\n/rig/fw.bin") : QString()));
    }
    RollCall call;
    call.lines = {plan.lines[0].call};
    model.SetRollCall(call);
    QVERIFY(model.index(0, CRollCallModel::kFirmware, present).data().toString().isEmpty());
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

  // The plan: a row per device, planned ones first with a box each, the
  // skipped ones without a box, the plan's cells or their reason; what a
  // cell shows it also tells as tooltip and to a screen reader.
  void fleetPlan() {
    CFleetModel model;
    QAbstractItemModelTester tester(&model, kQtTest);
    model.SetPlan(Plan());
    QCOMPARE(model.rowCount(), 3);
    QCOMPARE(model.columnCount(), int(CFleetModel::kColumns));
    QCOMPARE(model.PlannedCount(), 2);
    const QStringList headers = {"Device",  "Serial", "MAC",    "Mode", "Version",
                                 "Section", "Bytes",  "Blocks", "Time", "State"};
    for (int c = 0; c < headers.size(); ++c)
      QCOMPARE(model.headerData(c, Qt::Horizontal).toString(), headers[c]);
    QVERIFY(!model.headerData(0, Qt::Vertical).isValid());

    using C = CFleetModel;
    const QStringList rows[] = {
        {"Node", "111111", "02-00-00-00-00-11", "boot", "1.05", "1", "600", "3", "~5 s",
         "to update"},
        {"B\u00fchne\uFFFD", "121212", "02-00-00-00-00-12", "app", "1.05", "?", "?", "?", "~13 s",
         "to update"},
        {"Dimmer", "131313", "02-00-00-00-00-13", "boot", "1.05", "", "", "", "",
         "skipped: Wrong firmware file selected! (ERROR DEVICE)"},
    };
    for (int row = 0; row < 3; ++row)
      for (int column = 0; column < C::kColumns; ++column)
        for (const int role :
             {int(Qt::DisplayRole), int(Qt::ToolTipRole), int(Qt::AccessibleTextRole)})
          QCOMPARE(Mismatch(model, {{row, column, role, rows[row][column]}}), QString());

    QCOMPARE(Mismatch(model,
                      {
                          {0, C::kDevice, Qt::CheckStateRole, int(Qt::Checked)},
                          {1, C::kDevice, Qt::CheckStateRole, int(Qt::Checked)},
                          {2, C::kDevice, Qt::CheckStateRole, QVariant()},
                          {0, C::kSerial, Qt::CheckStateRole, QVariant()},
                          {0, C::kSerial, C::kStateRole, int(FleetRowState::kPlanned)},
                          {2, C::kDevice, C::kStateRole, int(FleetRowState::kSkipped)},
                          {0, C::kDevice, Qt::EditRole, QVariant()},
                      }),
             QString());
    QVERIFY(model.flags(model.index(0, C::kDevice)) & Qt::ItemIsUserCheckable);
    QVERIFY(!(model.flags(model.index(0, C::kSerial)) & Qt::ItemIsUserCheckable));
    QVERIFY(!(model.flags(model.index(2, C::kDevice)) & Qt::ItemIsUserCheckable));
    QVERIFY(!(model.flags(model.index(0, C::kDevice)) & Qt::ItemIsEditable));
    QCOMPARE(model.Chosen(), (std::vector<size_t>{0, 1}));
  }

  // A cleared box leaves its device out of the run; once the run has
  // begun no box takes a click, and a new plan starts afresh.
  void fleetChoice() {
    using C = CFleetModel;
    CFleetModel model;
    QAbstractItemModelTester tester(&model, kQtTest);
    model.SetPlan(Plan());
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);

    QVERIFY(model.setData(model.index(1, C::kDevice), int(Qt::Unchecked), Qt::CheckStateRole));
    QCOMPARE(changed.count(), 1);
    QCOMPARE(changed[0][0].toModelIndex(), model.index(1, 0));
    QCOMPARE(changed[0][1].toModelIndex(), model.index(1, C::kColumns - 1));
    QCOMPARE(model.Chosen(), (std::vector<size_t>{0}));
    QCOMPARE(FleetState(model, 1), QStringLiteral("left out"));
    QCOMPARE(model.index(1, C::kDevice).data(Qt::CheckStateRole).toInt(), int(Qt::Unchecked));
    // Neither a skipped device nor another column has a box to set.
    QVERIFY(!model.setData(model.index(2, C::kDevice), int(Qt::Checked), Qt::CheckStateRole));
    QVERIFY(!model.setData(model.index(1, C::kSerial), int(Qt::Checked), Qt::CheckStateRole));
    QVERIFY(!model.setData(model.index(1, C::kDevice), QStringLiteral("x"), Qt::EditRole));
    QCOMPARE(changed.count(), 1);

    model.Lock(true);
    QCOMPARE(changed.count(), 2);
    QVERIFY(!(model.flags(model.index(0, C::kDevice)) & Qt::ItemIsUserCheckable));
    QVERIFY(!model.setData(model.index(1, C::kDevice), int(Qt::Checked), Qt::CheckStateRole));
    QCOMPARE(model.Chosen(), (std::vector<size_t>{0}));

    QSignalSpy reset(&model, &QAbstractItemModel::modelReset);
    model.SetPlan(Plan());
    QCOMPARE(reset.count(), 1);
    QVERIFY(model.flags(model.index(0, C::kDevice)) & Qt::ItemIsUserCheckable);
    QCOMPARE(model.Chosen(), (std::vector<size_t>{0, 1}));
    model.SetPlan({});
    QCOMPARE(model.rowCount(), 0);
    QVERIFY(model.Chosen().empty());
  }

  // A run as the fleet dialog reports it, step by step: each step changes
  // its device's whole row and nothing else, rows are neither added nor
  // removed, and the state cell and role follow the run.
  void fleetRun() {
    using C = CFleetModel;
    using S = FleetRowState;
    CFleetModel model;
    QAbstractItemModelTester tester(&model, kQtTest);
    FleetPlan plan = Plan();
    plan.planned.push_back(Fleet(0x0300, 0x14, "Left out", 1, 600, 3, 4200));
    plan.planned.push_back(Fleet(0x0300, 0x15, "Stopped", 1, 600, 3, 4200));
    model.SetPlan(plan);
    model.Lock(true);
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
    QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
    QSignalSpy removed(&model, &QAbstractItemModel::rowsRemoved);
    QSignalSpy reset(&model, &QAbstractItemModel::modelReset);

    struct Step {
      std::function<void(CFleetModel&)> apply;
      int row;
      S state;
      QString text;
    };
    const std::vector<Step> steps = {
        {[](C& m) { m.SetState(2, S::kSkipped, "left out"); }, 2, S::kSkipped, "skipped: left out"},
        {[](C& m) { m.SetState(0, S::kWaiting); }, 0, S::kWaiting, "waiting"},
        {[](C& m) { m.SetState(1, S::kWaiting); }, 1, S::kWaiting, "waiting"},
        {[](C& m) { m.SetState(3, S::kWaiting); }, 3, S::kWaiting, "waiting"},
        {[](C& m) { m.SetWriting(0, 1); }, 0, S::kWriting, "writing"},
        {[](C& m) { m.SetBlocks(0, 1, 3); }, 0, S::kWriting, "writing: 1 of 3 blocks"},
        {[](C& m) { m.SetBlocks(0, 3, 3); }, 0, S::kWriting, "writing: 3 of 3 blocks"},
        {[](C& m) { m.SetState(0, S::kFailed, "Timeout on write data! [0000]"); }, 0, S::kFailed,
         "failed: Timeout on write data! [0000]"},
        // A retry starts its count of blocks anew.
        {[](C& m) { m.SetWriting(0, 2); }, 0, S::kWriting, "writing (attempt 2)"},
        {[](C& m) { m.SetBlocks(0, 2, 3); }, 0, S::kWriting, "writing (attempt 2): 2 of 3 blocks"},
        {[](C& m) { m.SetOk(0, Confirmation::kRunning); }, 0, S::kOk, "ok, running"},
        {[](C& m) { m.SetWriting(1, 1); }, 1, S::kWriting, "writing"},
        {[](C& m) { m.SetState(1, S::kFailed, "Verify\nfailed"); }, 1, S::kFailed,
         "failed: Verify\uFFFDfailed"},
        {[](C& m) { m.SetOk(1, Confirmation::kSilent); }, 1, S::kOk,
         "ok, not heard after the start"},
        {[](C& m) { m.SetOk(1, Confirmation::kInLoader); }, 1, S::kOk, "ok"},
        {[](C& m) { m.SetState(3, S::kNotStarted, "stopped before its turn"); }, 3, S::kNotStarted,
         "not started: stopped before its turn"},
    };
    for (size_t i = 0; i < steps.size(); ++i) {
      const Step& step = steps[i];
      changed.clear();
      step.apply(model);
      QVERIFY2(changed.count() == 1, qPrintable(QStringLiteral("step %1").arg(i)));
      QCOMPARE(changed[0][0].toModelIndex(), model.index(step.row, 0));
      QCOMPARE(changed[0][1].toModelIndex(), model.index(step.row, C::kColumns - 1));
      QCOMPARE(Mismatch(model, {{step.row, C::kState, Qt::DisplayRole, step.text},
                                {step.row, C::kDevice, C::kStateRole, int(step.state)}}),
               QString());
    }
    QCOMPARE(inserted.count() + removed.count() + reset.count(), 0);
    QCOMPARE(model.rowCount(), 5);
    QCOMPARE(FleetState(model, 4),
             QStringLiteral("skipped: Wrong firmware file selected! (ERROR DEVICE)"));
    // The plan's cells stay as planned through the run.
    QCOMPARE(model.index(0, C::kBlocks).data().toString(), QStringLiteral("3"));
    QCOMPARE(model.index(1, C::kDevice).data().toString(), QStringLiteral("B\u00fchne\uFFFD"));
  }
};

QTEST_MAIN(ModelsTest)
#include "models_test.moc"
