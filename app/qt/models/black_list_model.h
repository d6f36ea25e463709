#pragma once
// The entries of the black-list as a one-column table. A list of a hundred
// thousand hidden devices must open at once: a model hands the view only the
// rows it paints.

#include <QAbstractTableModel>
#include <string>
#include <vector>

namespace quorvik {

class CBlackListModel : public QAbstractTableModel {
  Q_OBJECT
 public:
  using QAbstractTableModel::QAbstractTableModel;

  void SetEntries(std::vector<std::string> entries);

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation,
                      int role = Qt::DisplayRole) const override;

 private:
  std::vector<std::string> m_entries;
};

}  // namespace quorvik
