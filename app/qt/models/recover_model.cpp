#include "app/qt/models/recover_model.h"

#include "app/qt/display_text.h"
#include "devices/device_list.h"

namespace quorvik {

void CRecoverModel::SetDevices(std::vector<UnfinishedUpdate> devices) {
  beginResetModel();
  m_devices = std::move(devices);
  endResetModel();
}

bool CRecoverModel::CanWriteAgain(int row) const {
  return row >= 0 && row < rowCount() && device(row).fileProblem.empty();
}

int CRecoverModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(m_devices.size());
}

int CRecoverModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : kColumnCount;
}

QVariant CRecoverModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rowCount() || index.column() >= columnCount()) return {};
  const UnfinishedUpdate& d = device(index.row());
  const QString state = d.fileProblem.empty() ? QStringLiteral("The same file can be written again")
                                              : DisplayUtf8(d.fileProblem);
  if (role == Qt::ToolTipRole && index.column() == kState) return state;
  if (role != Qt::DisplayRole) return {};
  switch (index.column()) {
    case kSerial:
      return QString::fromStdString(FormatSerial(d.record));
    case kModel:
      return DisplayText(ListName(d.record));
    case kFile:
      return DisplayUtf8(d.file);
    case kSince:
      return QString::fromStdString(d.when.empty() ? std::string(kUnreadableTime) : d.when);
    case kState:
      return state;
  }
  return {};
}

QVariant CRecoverModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
  switch (section) {
    case kSerial:
      return QStringLiteral("Serial");
    case kModel:
      return QStringLiteral("Model");
    case kFile:
      return QStringLiteral("File");
    case kSince:
      return QStringLiteral("Update began");
    case kState:
      return QStringLiteral("Recovery");
  }
  return {};
}

}  // namespace quorvik
