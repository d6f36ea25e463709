#include "app/qt/models/station_model.h"

#include <QColor>

#include "base/hex_text.h"
#include "base/text.h"
#include "devices/device_list.h"
#include "records/flat_json.h"

namespace quorvik {

namespace {

std::string ModelText(const std::optional<uint16_t>& model) {
  if (!model) return {};
  return HexWord(*model, true);
}

}  // namespace

void CStationModel::Clear() {
  beginResetModel();
  m_tiles.clear();
  m_passed = m_failed = m_ignored = 0;
  endResetModel();
}

int CStationModel::RowOf(const std::string& serial) const {
  for (size_t i = 0; i < m_tiles.size(); ++i)
    if (m_tiles[i].serial == serial) return static_cast<int>(i);
  return -1;
}

void CStationModel::Changed(int row) {
  const QModelIndex at = index(row);
  emit dataChanged(at, at);
}

void CStationModel::Found(const StationUnit& unit) {
  Tile tile;
  tile.serial = unit.serial;
  tile.model = ModelText(unit.model);
  // A unit put back has its old tile still: it starts over in it.
  if (const int row = RowOf(unit.serial); row >= 0) {
    m_tiles[static_cast<size_t>(row)] = tile;
    Changed(row);
    return;
  }
  const int row = static_cast<int>(m_tiles.size());
  beginInsertRows({}, row, row);
  m_tiles.push_back(tile);
  endInsertRows();
}

void CStationModel::Writing(const StationUnit& unit, uint32_t done, uint32_t total) {
  const int row = RowOf(unit.serial);
  if (row < 0) return;
  Tile& tile = m_tiles[static_cast<size_t>(row)];
  tile.done = done;
  tile.total = total;
  Changed(row);
}

void CStationModel::Done(const StationUnit& unit, const CommandResult& result) {
  const int row = RowOf(unit.serial);
  if (row < 0) return;
  Tile& tile = m_tiles[static_cast<size_t>(row)];
  const bool ok = result.outcome == Outcome::kOk;
  ++(ok ? m_passed : m_failed);
  tile.state = ok ? StationTileState::kPass : StationTileState::kFail;
  tile.reason = ok ? std::string() : result.reason;
  if (tile.model.empty() && result.addressed.loaderType != 0)
    tile.model = ModelText(result.addressed.deviceId);
  if (result.runningVersion) tile.version = FormatVersion(*result.runningVersion);
  Changed(row);
}

void CStationModel::Gone(const StationUnit& unit) {
  const int row = RowOf(unit.serial);
  // A unit taken away while it is written stays: its verdict is to come.
  if (row < 0 || m_tiles[static_cast<size_t>(row)].state == StationTileState::kWriting) return;
  beginRemoveRows({}, row, row);
  m_tiles.erase(m_tiles.begin() + row);
  endRemoveRows();
}

int CStationModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(m_tiles.size());
}

QVariant CStationModel::data(const QModelIndex& index, int role) const {
  if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
    return {};
  const Tile& tile = m_tiles[static_cast<size_t>(index.row())];
  const QString serial = QString::fromStdString(tile.serial);
  const QString model = tile.model.empty() ? QStringLiteral("model unknown")
                                           : "model " + QString::fromStdString(tile.model);
  switch (role) {
    case Qt::DisplayRole:
    case Qt::AccessibleTextRole: {
      const bool spoken = role == Qt::AccessibleTextRole;
      switch (tile.state) {
        case StationTileState::kWriting: {
          const int percent =
              tile.total == 0 ? 0 : static_cast<int>(uint64_t{tile.done} * 100 / tile.total);
          return QStringLiteral("%1WRITING %2 %\n%3\n%4")
              .arg(spoken ? QString() : QStringLiteral("\u2026 "))
              .arg(percent)
              .arg(serial, model);
        }
        case StationTileState::kPass:
          return QStringLiteral("%1PASS\n%2\n%3%4")
              .arg(spoken ? QString() : QStringLiteral("\u2714 "), serial, model,
                   tile.version.empty() ? QString()
                                        : ", version " + QString::fromStdString(tile.version));
        case StationTileState::kFail:
          return QStringLiteral("%1FAIL\n%2\n%3")
              .arg(spoken ? QString() : QStringLiteral("\u2716 "), serial,
                   QString::fromStdString(Printable(tile.reason)));
      }
      return {};
    }
    case Qt::ToolTipRole:
      return tile.state == StationTileState::kFail ? QString::fromStdString(Printable(tile.reason))
                                                   : QVariant();
    case Qt::SizeHintRole:
      return m_tileSize.isValid() ? QVariant(m_tileSize) : QVariant();
    case Qt::BackgroundRole:
      if (tile.state == StationTileState::kPass) return QColor(0x1e, 0x7b, 0x34);
      if (tile.state == StationTileState::kFail) return QColor(0xb0, 0x1c, 0x1c);
      return {};
    case Qt::ForegroundRole:
      return tile.state == StationTileState::kWriting ? QVariant() : QColor(Qt::white);
    case kStateRole:
      return static_cast<int>(tile.state);
    case kSerialRole:
      return serial;
    case kReasonRole:
      return QString::fromStdString(tile.reason);
    default:
      return {};
  }
}

}  // namespace quorvik
