#include "app/qt/models/black_list_model.h"

#include "app/qt/display_text.h"
#include "devices/black_list.h"

namespace quorvik {

void CBlackListModel::SetEntries(std::vector<std::string> entries) {
  beginResetModel();
  m_entries = std::move(entries);
  endResetModel();
}

int CBlackListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(m_entries.size());
}

int CBlackListModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : 1;
}

QVariant CBlackListModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.column() != 0 || index.row() < 0 || index.row() >= rowCount() ||
      role != Qt::DisplayRole)
    return {};
  return DisplayText(m_entries[static_cast<size_t>(index.row())]);
}

QVariant CBlackListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || section != 0 || role != Qt::DisplayRole) return {};
  return QString::fromLatin1(CDlgBlacklist::kColumnHeader);
}

}  // namespace quorvik
