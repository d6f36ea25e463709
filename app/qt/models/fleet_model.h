#pragma once
// The plan of a fleet update and its run, one row per device: what the plan
// found out about each device, a check box per planned device, and the
// state of its turn as the run reports it.

#include <QAbstractTableModel>
#include <cstdint>
#include <string>
#include <vector>

#include "commands/command_result.h"
#include "commands/fleet.h"

namespace quorvik {

// Skipped: the plan or the operator left the device out. Not started: it
// was chosen, but the run was stopped before its turn.
enum class FleetRowState { kPlanned, kWaiting, kWriting, kOk, kFailed, kSkipped, kNotStarted };

// The planned devices first, in the plan's order (row i is planned device
// i), then those the plan skipped.
class CFleetModel : public QAbstractTableModel {
  Q_OBJECT
 public:
  enum Column {
    kDevice,
    kSerial,
    kMac,
    kMode,
    kVersion,
    kSection,
    kBytes,
    kBlocks,
    kEstimate,
    kState,
    kColumns
  };
  enum Role { kStateRole = Qt::UserRole };

  using QAbstractTableModel::QAbstractTableModel;

  void SetPlan(const FleetPlan& plan);
  // The planned devices' estimates for the waits the run is to make.
  void SetWaits(const Waits& waits);
  // The planned devices' estimates together.
  int64_t EstimatedMs() const;
  // Check boxes take no clicks once the run has begun.
  void Lock(bool locked);
  std::vector<size_t> Chosen() const;
  int PlannedCount() const { return m_plannedCount; }

  // Run steps, by planned index.
  void SetState(size_t device, FleetRowState state, std::string reason = {});
  void SetWriting(size_t device, int attempt);
  void SetBlocks(size_t device, uint32_t done, uint32_t total);
  void SetOk(size_t device, Confirmation confirmed);

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  QVariant headerData(int section, Qt::Orientation orientation,
                      int role = Qt::DisplayRole) const override;

 private:
  struct Row {
    FleetDevice device;
    bool checked = true;
    FleetRowState state = FleetRowState::kPlanned;
    std::string reason;
    int attempt = 1;
    uint32_t done = 0, total = 0;
    Confirmation confirmed = Confirmation::kNone;
  };
  QString StateText(const Row& row) const;
  void RowChanged(size_t row);

  std::vector<Row> m_rows;
  int m_plannedCount = 0;
  bool m_locked = false;
};

}  // namespace quorvik
