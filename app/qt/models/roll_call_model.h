#pragma once
// The roll-call as a tree: one top row per group, the group's devices
// beneath it. Each group reads without colour too: an icon of its own shape
// and a word per group.

#include <QAbstractItemModel>
#include <QIcon>
#include <array>
#include <vector>

#include "records/roll_call.h"

namespace quorvik {

// The group's icon: a shape and a mark of its own for each status.
QIcon RollCallIcon(RollCallStatus status);

// The five groups as top rows, in kRollCallStatuses order, each holding
// its devices.
class CRollCallModel : public QAbstractItemModel {
  Q_OBJECT
 public:
  enum Column { kLabel, kLocation, kDevice, kVersion, kMode, kSerial, kMac, kColumnCount };
  // The main list's row of a device line; -1 when it is not listed.
  static constexpr int kRowRole = Qt::UserRole;

  explicit CRollCallModel(QObject* parent = nullptr);
  void SetRollCall(RollCall call);
  QModelIndex GroupIndex(RollCallStatus status) const;

  QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
  QModelIndex parent(const QModelIndex& child) const override;
  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation,
                      int role = Qt::DisplayRole) const override;

 private:
  std::array<std::vector<RollCallLine>, kRollCallStatuses.size()> m_groups;
  // Drawn once: a view asks for them on every paint.
  std::array<QIcon, kRollCallStatuses.size()> m_icons;
};

}  // namespace quorvik
