#include "app/qt/models/journal_model.h"

#include "app/qt/display_text.h"
#include "records/journal.h"

namespace quorvik {

namespace {

QString Cell(const JsonValue* value) {
  if (value == nullptr || std::holds_alternative<std::nullptr_t>(*value)) return {};
  if (const bool* b = std::get_if<bool>(value))
    return *b ? QStringLiteral("yes") : QStringLiteral("no");
  if (const int64_t* n = std::get_if<int64_t>(value)) return QString::number(*n);
  return DisplayUtf8(std::get<std::string>(*value));
}

}  // namespace

void CJournalModel::SetRecords(std::vector<FlatRecord> records) {
  beginResetModel();
  m_records = std::move(records);
  endResetModel();
}

int CJournalModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(m_records.size());
}

int CJournalModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(JournalFields().size());
}

QVariant CJournalModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rowCount() || index.column() >= columnCount()) return {};
  const FlatRecord& r = m_records[static_cast<size_t>(index.row())];
  const JsonValue* value = FieldOf(r, JournalFields()[static_cast<size_t>(index.column())]);
  if (role == Qt::DisplayRole) return Cell(value);
  // Numbers sort as numbers; everything else as its text.
  if (role == Qt::UserRole) {
    if (const int64_t* n = value ? std::get_if<int64_t>(value) : nullptr)
      return QVariant::fromValue<qlonglong>(*n);
    return Cell(value);
  }
  return {};
}

QVariant CJournalModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 ||
      section >= columnCount())
    return {};
  return QString::fromStdString(JournalFields()[static_cast<size_t>(section)]);
}

}  // namespace quorvik
