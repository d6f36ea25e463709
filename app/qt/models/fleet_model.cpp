#include "app/qt/models/fleet_model.h"

#include <optional>

#include "app/qt/display_text.h"
#include "devices/device_list.h"

namespace quorvik {

namespace {

QString Unknown(const std::optional<uint32_t>& value) {
  // A running device tells its model, MCU and block size only after its
  // restart into the loader.
  return value ? QString::number(*value) : QStringLiteral("?");
}

QString Seconds(int64_t ms) {
  return QStringLiteral("~%1 s").arg((ms + 999) / 1000);
}

}  // namespace

void CFleetModel::SetPlan(const FleetPlan& plan) {
  beginResetModel();
  m_rows.clear();
  for (const FleetDevice& d : plan.planned) {
    Row& row = m_rows.emplace_back();
    row.device = d;
  }
  for (const FleetDevice& d : plan.skipped) {
    Row& row = m_rows.emplace_back();
    row.device = d;
    row.checked = false;
    row.state = FleetRowState::kSkipped;
    row.reason = d.reason;
  }
  m_plannedCount = static_cast<int>(plan.planned.size());
  m_locked = false;
  endResetModel();
}

void CFleetModel::SetWaits(const Waits& waits) {
  for (int i = 0; i < m_plannedCount; ++i) {
    FleetDevice& device = m_rows[static_cast<size_t>(i)].device;
    device.estimateMs = EstimateMs(device, waits);
  }
  if (m_plannedCount > 0)
    emit dataChanged(index(0, kEstimate), index(m_plannedCount - 1, kEstimate));
}

int64_t CFleetModel::EstimatedMs() const {
  int64_t total = 0;
  for (int i = 0; i < m_plannedCount; ++i)
    total += m_rows[static_cast<size_t>(i)].device.estimateMs;
  return total;
}

void CFleetModel::Lock(bool locked) {
  m_locked = locked;
  if (!m_rows.empty()) emit dataChanged(index(0, kDevice), index(rowCount() - 1, kDevice));
}

std::vector<size_t> CFleetModel::Chosen() const {
  std::vector<size_t> chosen;
  for (int i = 0; i < m_plannedCount; ++i)
    if (m_rows[static_cast<size_t>(i)].checked) chosen.push_back(static_cast<size_t>(i));
  return chosen;
}

void CFleetModel::SetState(size_t device, FleetRowState state, std::string reason) {
  Row& row = m_rows.at(device);
  row.state = state;
  row.reason = std::move(reason);
  RowChanged(device);
}

void CFleetModel::SetWriting(size_t device, int attempt) {
  Row& row = m_rows.at(device);
  row.state = FleetRowState::kWriting;
  row.attempt = attempt;
  row.done = row.total = 0;
  RowChanged(device);
}

void CFleetModel::SetBlocks(size_t device, uint32_t done, uint32_t total) {
  Row& row = m_rows.at(device);
  row.done = done;
  row.total = total;
  RowChanged(device);
}

void CFleetModel::SetOk(size_t device, Confirmation confirmed) {
  m_rows.at(device).confirmed = confirmed;
  SetState(device, FleetRowState::kOk);
}

void CFleetModel::RowChanged(size_t row) {
  const int r = static_cast<int>(row);
  emit dataChanged(index(r, 0), index(r, kColumns - 1));
}

QString CFleetModel::StateText(const Row& row) const {
  switch (row.state) {
    case FleetRowState::kPlanned:
      return row.checked ? QStringLiteral("to update") : QStringLiteral("left out");
    case FleetRowState::kWaiting:
      return QStringLiteral("waiting");
    case FleetRowState::kWriting: {
      QString text = QStringLiteral("writing");
      if (row.attempt > 1) text += QStringLiteral(" (attempt %1)").arg(row.attempt);
      if (row.total > 0) text += QStringLiteral(": %1 of %2 blocks").arg(row.done).arg(row.total);
      return text;
    }
    case FleetRowState::kOk:
      switch (row.confirmed) {
        case Confirmation::kRunning:
          return QStringLiteral("ok, running");
        case Confirmation::kSilent:
          return QStringLiteral("ok, not heard after the start");
        default:
          return QStringLiteral("ok");
      }
    case FleetRowState::kFailed:
      return QStringLiteral("failed: ") + DisplayText(row.reason);
    case FleetRowState::kSkipped:
      return QStringLiteral("skipped: ") + DisplayText(row.reason);
    case FleetRowState::kNotStarted:
      return QStringLiteral("not started: ") + DisplayText(row.reason);
  }
  return {};
}

int CFleetModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

int CFleetModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : kColumns;
}

QVariant CFleetModel::data(const QModelIndex& index, int role) const {
  if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
    return {};
  const Row& row = m_rows[static_cast<size_t>(index.row())];
  const bool planned = index.row() < m_plannedCount;
  const DeviceRecord& r = row.device.record;
  if (role == kStateRole) return static_cast<int>(row.state);
  if (role == Qt::CheckStateRole && index.column() == kDevice && planned)
    return row.checked ? Qt::Checked : Qt::Unchecked;
  if (role != Qt::DisplayRole && role != Qt::ToolTipRole && role != Qt::AccessibleTextRole)
    return {};
  switch (index.column()) {
    case kDevice:
      return DisplayText(row.device.name);
    case kSerial:
      return QString::fromStdString(FormatSerial(r));
    case kMac:
      return QString::fromStdString(FormatMac(r));
    case kMode:
      return QString::fromLatin1(ModeName(r));
    case kVersion:
      return QString::fromStdString(FormatVersion(r.version));
    case kSection:
      return planned ? Unknown(row.device.section ? std::optional<uint32_t>(*row.device.section)
                                                  : std::nullopt)
                     : QString();
    case kBytes:
      return planned ? Unknown(row.device.bytes) : QString();
    case kBlocks:
      return planned ? Unknown(row.device.blocks) : QString();
    case kEstimate:
      return planned ? Seconds(row.device.estimateMs) : QString();
    case kState:
      return StateText(row);
    default:
      return {};
  }
}

bool CFleetModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  if (role != Qt::CheckStateRole || !(flags(index) & Qt::ItemIsUserCheckable)) return false;
  Row& row = m_rows[static_cast<size_t>(index.row())];
  row.checked = value.toInt() == Qt::Checked;
  RowChanged(static_cast<size_t>(index.row()));
  return true;
}

Qt::ItemFlags CFleetModel::flags(const QModelIndex& index) const {
  // Views and the model tester ask about the root too: that is no mistake
  // to warn about.
  if (!index.isValid() ||
      !checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
    return Qt::NoItemFlags;
  Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
  if (index.column() == kDevice && index.row() < m_plannedCount && !m_locked)
    f |= Qt::ItemIsUserCheckable;
  return f;
}

QVariant CFleetModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 ||
      section >= kColumns)
    return {};
  static const char* const kHeaders[kColumns] = {"Device",  "Serial", "MAC",    "Mode", "Version",
                                                 "Section", "Bytes",  "Blocks", "Time", "State"};
  return QString::fromLatin1(kHeaders[section]);
}

}  // namespace quorvik
