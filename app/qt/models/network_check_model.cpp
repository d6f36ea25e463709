#include "app/qt/models/network_check_model.h"

#include <QApplication>
#include <QStyle>
#include <algorithm>

#include "app/qt/display_text.h"

namespace quorvik {

namespace {

// The word comes first, so that the status never rests on the icon's
// colour alone and a screen reader says it.
QString StatusWord(CheckStatus status) {
  return QString::fromLatin1(CheckStatusName(status)).toUpper();
}

QStyle::StandardPixmap StatusIcon(CheckStatus status) {
  switch (status) {
    case CheckStatus::kPass:
      return QStyle::SP_DialogApplyButton;
    case CheckStatus::kWarn:
      return QStyle::SP_MessageBoxWarning;
    case CheckStatus::kFail:
      return QStyle::SP_MessageBoxCritical;
  }
  return QStyle::SP_MessageBoxInformation;
}

}  // namespace

void CNetworkCheckModel::Clear() {
  beginResetModel();
  m_results.clear();
  endResetModel();
}

void CNetworkCheckModel::Add(const CheckResult& result) {
  const int row = static_cast<int>(m_results.size());
  beginInsertRows({}, row, row);
  m_results.push_back(result);
  endInsertRows();
}

int CNetworkCheckModel::Count(CheckStatus status) const {
  return static_cast<int>(std::count_if(m_results.begin(), m_results.end(),
                                        [status](const auto& r) { return r.status == status; }));
}

int CNetworkCheckModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(m_results.size());
}

QVariant CNetworkCheckModel::data(const QModelIndex& index, int role) const {
  if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
    return {};
  const CheckResult& r = m_results[static_cast<size_t>(index.row())];
  switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole:
    case Qt::AccessibleTextRole: {
      QString line = StatusWord(r.status) + QStringLiteral("  ") + DisplayUtf8(r.title);
      if (!r.detail.empty()) line += QStringLiteral(": ") + DisplayUtf8(r.detail);
      if (!r.advice.empty()) line += QStringLiteral("\nWhat to do: ") + DisplayUtf8(r.advice);
      return line;
    }
    case Qt::DecorationRole:
      return QApplication::style()->standardIcon(StatusIcon(r.status));
    case kStatusRole:
      return static_cast<int>(r.status);
    case kIdRole:
      return QString::fromStdString(r.id);
    default:
      return {};
  }
}

}  // namespace quorvik
