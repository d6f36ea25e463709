#include "app/qt/models/roll_call_model.h"

#include <QColor>
#include <QFont>
#include <QPainter>
#include <QPixmap>

#include "app/qt/display_text.h"
#include "devices/device_list.h"

namespace quorvik {

namespace {

struct GroupLook {
  const char* title;
  const char* meaning;
  QColor tint;  // light, so that text on it reads in any colour scheme's ink
  QColor mark;
};

GroupLook LookOf(RollCallStatus status) {
  switch (status) {
    case RollCallStatus::kPresent:
      return {"Present", "In the rig, answering as saved", QColor(0xdc, 0xf2, 0xdc),
              QColor(0x1e, 0x7b, 0x34)};
    case RollCallStatus::kChanged:
      return {"Changed", "In the rig, answering with another version or mode",
              QColor(0xfc, 0xeb, 0xc4), QColor(0xb3, 0x6b, 0x00)};
    case RollCallStatus::kMissing:
      return {"Missing", "In the rig, but did not answer", QColor(0xf8, 0xd4, 0xd4),
              QColor(0xb0, 0x1c, 0x1c)};
    case RollCallStatus::kUnexpected:
      return {"Unexpected", "Answered, but is not in the rig", QColor(0xd8, 0xe6, 0xf8),
              QColor(0x1f, 0x4f, 0x9a)};
    case RollCallStatus::kHidden:
      return {"Hidden", "In the rig, hidden by the black-list", QColor(0xe6, 0xe6, 0xe6),
              QColor(0x5c, 0x5c, 0x5c)};
  }
  return {};
}

QString StateCell(const RollCallLine& line, std::string RollCallState::*field) {
  const QString old = line.old ? DisplayUtf8((*line.old).*field) : QString();
  const QString now = line.now ? DisplayUtf8((*line.now).*field) : QString();
  if (!line.old) return now;
  if (!line.now) return old;
  return old == now || old.isEmpty() ? now : old + QStringLiteral(" \u2192 ") + now;
}

// Drawn, not loaded: each status gets a shape of its own (circle, triangle,
// square, diamond, ring) and a mark inside it, so that the groups differ
// in grey scale and for eyes that do not tell red from green.
QPixmap DrawIcon(RollCallStatus status, int size) {
  QPixmap pixmap(size, size);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  const QColor mark = LookOf(status).mark;
  const qreal s = size, m = s * 0.06;
  const QRectF box(m, m, s - 2 * m, s - 2 * m);
  QPen white(Qt::white, s * 0.12, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
  p.setPen(Qt::NoPen);
  p.setBrush(mark);
  QFont font;
  font.setBold(true);
  font.setPixelSize(static_cast<int>(s * 0.62));
  p.setFont(font);
  switch (status) {
    case RollCallStatus::kPresent:
      p.drawEllipse(box);
      p.setPen(white);
      p.drawPolyline(QPolygonF{{s * 0.27, s * 0.52}, {s * 0.44, s * 0.69}, {s * 0.74, s * 0.33}});
      break;
    case RollCallStatus::kChanged: {
      p.drawPolygon(QPolygonF{{s / 2, m}, {s - m, s - m}, {m, s - m}});
      p.setPen(white);
      p.drawLine(QPointF(s / 2, s * 0.36), QPointF(s / 2, s * 0.64));
      p.drawPoint(QPointF(s / 2, s * 0.8));
      break;
    }
    case RollCallStatus::kMissing:
      p.drawRect(box.adjusted(m, m, -m, -m));
      p.setPen(white);
      p.drawLine(QPointF(s * 0.3, s * 0.3), QPointF(s * 0.7, s * 0.7));
      p.drawLine(QPointF(s * 0.7, s * 0.3), QPointF(s * 0.3, s * 0.7));
      break;
    case RollCallStatus::kUnexpected:
      p.drawPolygon(QPolygonF{{s / 2, m}, {s - m, s / 2}, {s / 2, s - m}, {m, s / 2}});
      p.setPen(Qt::white);
      p.drawText(box, Qt::AlignCenter, QStringLiteral("?"));
      break;
    case RollCallStatus::kHidden:
      p.setPen(QPen(mark, s * 0.12));
      p.setBrush(Qt::NoBrush);
      p.drawEllipse(box.adjusted(m, m, -m, -m));
      p.drawLine(QPointF(s * 0.3, s / 2), QPointF(s * 0.7, s / 2));
      break;
  }
  return pixmap;
}

}  // namespace

QString FirmwareCellText(const RigPlanLine& line) {
  const auto version = [](const std::optional<uint16_t>& v) {
    return v ? QString::fromStdString(VersionText(*v)) : QStringLiteral("?");
  };
  const QString change =
      version(line.running) + QStringLiteral(" \u2192 ") + version(line.declared);
  switch (line.action) {
    case RigAction::kUpToDate:
      return QStringLiteral("up to date");
    case RigAction::kUpdate:
      // A loader tells no version of the application it will start.
      return line.running ? change : QStringLiteral("in loader \u2192 ") + version(line.declared);
    case RigAction::kHeld:
      return QStringLiteral("held (downgrade %1)").arg(change);
    case RigAction::kNoFirmware:
      return QStringLiteral("no firmware declared");
    case RigAction::kFileChanged:
      return QStringLiteral("file changed");
    case RigAction::kFileDoesNotFit:
      return QStringLiteral("file does not fit");
    // What these run, nobody can say from this Find.
    case RigAction::kMissing:
      return QStringLiteral("unknown (missing)");
    case RigAction::kHidden:
      return QStringLiteral("unknown (hidden)");
    case RigAction::kUnexpected:
      return QStringLiteral("not in the rig");
    case RigAction::kAmbiguous:
      return QStringLiteral("ambiguous");
  }
  return {};
}

QIcon RollCallIcon(RollCallStatus status) {
  QIcon icon;
  for (const int size : {16, 24, 32, 48}) icon.addPixmap(DrawIcon(status, size));
  return icon;
}

CRollCallModel::CRollCallModel(QObject* parent) : QAbstractItemModel(parent) {
  for (size_t g = 0; g < kRollCallStatuses.size(); ++g)
    m_icons[g] = RollCallIcon(kRollCallStatuses[g]);
}

void CRollCallModel::SetRollCall(RollCall call) {
  std::vector<Line> lines;
  for (RollCallLine& line : call.lines) lines.push_back({std::move(line), {}, {}, false});
  SetLines(std::move(lines));
}

void CRollCallModel::SetPlan(const RigPlan& plan) {
  std::vector<Line> lines;
  for (const RigPlanLine& p : plan.lines) {
    Line& line = lines.emplace_back();
    line.call = p.call;
    line.firmware = FirmwareCellText(p);
    line.firmwareTip = DisplayUtf8(p.reason);
    if (!p.file.empty()) line.firmwareTip += QLatin1Char('\n') + DisplayUtf8(p.file);
    line.firmwareAttention = p.action != RigAction::kUpToDate &&
                             p.action != RigAction::kNoFirmware &&
                             p.action != RigAction::kMissing && p.action != RigAction::kHidden &&
                             p.action != RigAction::kUnexpected;
  }
  SetLines(std::move(lines));
}

void CRollCallModel::SetLines(std::vector<Line> lines) {
  beginResetModel();
  for (auto& group : m_groups) group.clear();
  for (Line& line : lines)
    m_groups[static_cast<size_t>(line.call.status)].push_back(std::move(line));
  endResetModel();
}

QModelIndex CRollCallModel::GroupIndex(RollCallStatus status) const {
  return index(static_cast<int>(status), 0);
}

// Group rows carry id 0, a device line 1 + its group.
QModelIndex CRollCallModel::index(int row, int column, const QModelIndex& parent) const {
  if (row < 0 || column < 0 || column >= kColumnCount || row >= rowCount(parent)) return {};
  return createIndex(row, column, parent.isValid() ? quintptr(parent.row() + 1) : quintptr(0));
}

QModelIndex CRollCallModel::parent(const QModelIndex& child) const {
  if (!child.isValid() || child.internalId() == 0) return {};
  return createIndex(static_cast<int>(child.internalId() - 1), 0, quintptr(0));
}

int CRollCallModel::rowCount(const QModelIndex& parent) const {
  if (!parent.isValid()) return static_cast<int>(m_groups.size());
  if (parent.internalId() != 0 || parent.column() != 0) return 0;
  return static_cast<int>(m_groups[static_cast<size_t>(parent.row())].size());
}

int CRollCallModel::columnCount(const QModelIndex&) const {
  return kColumnCount;
}

QVariant CRollCallModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid()) return {};
  const bool group = index.internalId() == 0;
  const size_t g = group ? static_cast<size_t>(index.row()) : index.internalId() - 1;
  const RollCallStatus status = kRollCallStatuses[g];
  const GroupLook look = LookOf(status);
  switch (role) {
    case Qt::BackgroundRole:
      return look.tint;
    case Qt::ForegroundRole:
      return QColor(Qt::black);
    case Qt::ToolTipRole:
      if (!group && index.column() == kFirmware) {
        const Line& line = m_groups[g][static_cast<size_t>(index.row())];
        if (!line.firmwareTip.isEmpty()) return line.firmwareTip;
      }
      return QString::fromLatin1(look.meaning);
    default:
      break;
  }
  if (group) {
    if (index.column() != kLabel) return {};
    if (role == Qt::DisplayRole)
      return QStringLiteral("%1 (%2)").arg(QLatin1String(look.title)).arg(m_groups[g].size());
    if (role == Qt::DecorationRole) return m_icons[g];
    if (role == Qt::FontRole) {
      QFont bold;
      bold.setBold(true);
      return bold;
    }
    return {};
  }
  const Line& planned = m_groups[g][static_cast<size_t>(index.row())];
  const RollCallLine& line = planned.call;
  if (role == kRowRole) return line.row;
  if (role == Qt::FontRole && index.column() == kFirmware && planned.firmwareAttention) {
    QFont bold;
    bold.setBold(true);
    return bold;
  }
  if (role == Qt::DecorationRole && index.column() == kLabel) return m_icons[g];
  if (role == Qt::FontRole && status == RollCallStatus::kChanged &&
      (index.column() == kVersion || index.column() == kMode)) {
    QFont bold;
    bold.setBold(
        StateCell(line, index.column() == kVersion ? &RollCallState::version : &RollCallState::mode)
            .contains(QChar(0x2192)));
    return bold;
  }
  if (role != Qt::DisplayRole) return {};
  switch (index.column()) {
    case kLabel:
      return line.entry ? DisplayUtf8(line.label) : QStringLiteral("(not in the rig)");
    case kDevice:
      // A listed device's name is its bytes, shown as the main list shows
      // them; the rig's text is UTF-8.
      if (line.row < 0) return DisplayUtf8(line.device);
      return DisplayText(
          (line.twins >= 2 ? line.device + " " + TwinNote(line.twins) : line.device) +
          (line.networks >= 2 ? " " + NetworksNote(line.networks) : std::string()));
    case kVersion:
      return StateCell(line, &RollCallState::version);
    case kMode:
      return StateCell(line, &RollCallState::mode);
    case kSerial:
      return QString::fromLatin1(line.serial.c_str());
    case kMac:
      return QString::fromLatin1(line.mac.c_str());
    case kLocation:
      return DisplayUtf8(line.location);
    case kFirmware:
      return planned.firmware;
  }
  return {};
}

QVariant CRollCallModel::headerData(int section, Qt::Orientation orientation, int role) const {
  static const char* const kHeaders[kColumnCount] = {"Label", "Location", "Device", "Version",
                                                     "Mode",  "Serial",   "MAC",    "Firmware"};
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 ||
      section >= kColumnCount)
    return {};
  return QString::fromLatin1(kHeaders[section]);
}

}  // namespace quorvik
