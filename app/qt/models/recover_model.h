#pragma once
// The devices an update left half-written, one row each: serial, model,
// file and when its update began, and whether the same file can be written
// again (a file that changed or went is named in its row).

#include <QAbstractTableModel>
#include <vector>

#include "records/recovery.h"

namespace quorvik {

class CRecoverModel : public QAbstractTableModel {
  Q_OBJECT
 public:
  enum Column { kSerial, kModel, kFile, kSince, kState, kColumnCount };
  using QAbstractTableModel::QAbstractTableModel;

  void SetDevices(std::vector<UnfinishedUpdate> devices);
  const UnfinishedUpdate& device(int row) const { return m_devices[static_cast<size_t>(row)]; }
  // Whether the same file can be written again to the row's device.
  bool CanWriteAgain(int row) const;

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  // Qt::ToolTipRole of the state column: the whole reason.
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation,
                      int role = Qt::DisplayRole) const override;

 private:
  std::vector<UnfinishedUpdate> m_devices;
};

}  // namespace quorvik
