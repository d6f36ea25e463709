#pragma once
// The roll-call as a tree: one top row per group, the group's devices
// beneath it. Each group reads without colour too: an icon of its own shape
// and a word per group. Given a rig plan, each device also says how its
// firmware stands against the rig's declaration.

#include <QAbstractItemModel>
#include <QIcon>
#include <array>
#include <vector>

#include "records/rig_plan.h"
#include "records/roll_call.h"

namespace quorvik {

// The group's icon: a shape and a mark of its own for each status.
QIcon RollCallIcon(RollCallStatus status);
// A plan line's Firmware cell, short: "up to date", "1.02 \u2192 3.04",
// "held (downgrade 3.10 \u2192 3.04)", "not in the rig".
QString FirmwareCellText(const RigPlanLine& line);

// The five groups as top rows, in kRollCallStatuses order, each holding
// its devices.
class CRollCallModel : public QAbstractItemModel {
  Q_OBJECT
 public:
  // Firmware comes last, so that the columns before it keep their numbers;
  // the panel shows it beside Version.
  enum Column {
    kLabel,
    kLocation,
    kDevice,
    kVersion,
    kMode,
    kSerial,
    kMac,
    kFirmware,
    kColumnCount
  };
  // The main list's row of a device line; -1 when it is not listed.
  static constexpr int kRowRole = Qt::UserRole;

  explicit CRollCallModel(QObject* parent = nullptr);
  // The roll-call alone: the Firmware column stays empty.
  void SetRollCall(RollCall call);
  // The roll-call the plan was made on, each device with its firmware.
  void SetPlan(const RigPlan& plan);
  QModelIndex GroupIndex(RollCallStatus status) const;

  QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
  QModelIndex parent(const QModelIndex& child) const override;
  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation,
                      int role = Qt::DisplayRole) const override;

 private:
  struct Line {
    RollCallLine call;
    QString firmware;                // the cell: "up to date", "1.02 \u2192 3.04"
    QString firmwareTip;             // the plan's whole reason, and the declared file
    bool firmwareAttention = false;  // something to do or to look into: bold
  };
  void SetLines(std::vector<Line> lines);

  std::array<std::vector<Line>, kRollCallStatuses.size()> m_groups;
  // Drawn once: a view asks for them on every paint.
  std::array<QIcon, kRollCallStatuses.size()> m_icons;
};

}  // namespace quorvik
