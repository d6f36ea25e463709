#pragma once
// The journal's lines, one row each, one column per field, for a view that
// sorts and filters them.

#include <QAbstractTableModel>
#include <vector>

#include "records/flat_json.h"

namespace quorvik {

class CJournalModel : public QAbstractTableModel {
  Q_OBJECT
 public:
  using QAbstractTableModel::QAbstractTableModel;

  void SetRecords(std::vector<FlatRecord> records);
  const FlatRecord& record(int row) const { return m_records[static_cast<size_t>(row)]; }

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  // Qt::UserRole is the sort key: numbers as numbers, the rest as text.
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation,
                      int role = Qt::DisplayRole) const override;

 private:
  std::vector<FlatRecord> m_records;
};

}  // namespace quorvik
