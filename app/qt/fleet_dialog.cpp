#include "app/qt/fleet_dialog.h"

#include <QDialogButtonBox>
#include <QFile>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QSpinBox>
#include <QTableView>
#include <QVBoxLayout>

#include "app/qt/display_text.h"
#include "commands/sha256.h"
#include "devices/device_list.h"

namespace {

constexpr int kStepsPerDevice = 100;
// A device's blocks fill this much of its share of the bar; the rest waits
// for its end, since the run request and the search that confirms it take
// seconds of their own.
constexpr int kWritingSteps = 90;

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
  if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
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

CFleetDialog::CFleetDialog(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("Update all"));
  m_model = new CFleetModel(this);

  m_heading = new QLabel(this);
  m_heading->setTextFormat(Qt::PlainText);
  m_heading->setWordWrap(true);
  auto* tableLabel = new QLabel(QStringLiteral("&Devices:"), this);
  m_table = new QTableView(this);
  m_table->setModel(m_model);
  m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
  m_table->setSelectionMode(QAbstractItemView::SingleSelection);
  m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
  m_table->verticalHeader()->hide();
  m_table->setWordWrap(false);
  m_table->setAccessibleName(QStringLiteral("Devices to update"));
  tableLabel->setBuddy(m_table);

  m_progress = new QProgressBar(this);
  m_progress->setAccessibleName(QStringLiteral("Progress of the update"));
  m_summary = new QLabel(this);
  m_summary->setTextFormat(Qt::PlainText);
  m_summary->setWordWrap(true);
  m_summary->setAccessibleName(QStringLiteral("Summary"));

  // Nothing here is a default button: Enter in the table must not start
  // the update of a whole rig.
  m_start = new QPushButton(QStringLiteral("&Start"), this);
  m_stop = new QPushButton(QStringLiteral("Stop &after this device"), this);
  m_stop->setToolTip(
      QStringLiteral("The device being written is finished; the rest are left as they are"));
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
  // Not every platform theme gives the standard button an Alt key.
  buttons->button(QDialogButtonBox::Close)->setText(QStringLiteral("&Close"));
  m_close = buttons->button(QDialogButtonBox::Close);
  for (QPushButton* b : {m_start, m_stop, m_close}) {
    b->setAutoDefault(false);
    b->setDefault(false);
  }
  connect(m_start, &QPushButton::clicked, this, &CFleetDialog::startRequested);
  connect(m_stop, &QPushButton::clicked, this, [this] {
    m_stopAsked = true;
    m_summary->setText(QStringLiteral("Stopping after the device being written..."));
    ApplyButtons();
    emit stopRequested();
  });
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  // A cleared box can leave nothing to start.
  connect(m_model, &QAbstractItemModel::dataChanged, this, [this] { ApplyButtons(); });

  auto* retriesLabel = new QLabel(QStringLiteral("&Retries after a failure:"), this);
  m_retries = new QSpinBox(this);
  m_retries->setRange(0, 9);
  m_retries->setAccessibleName(QStringLiteral("Retries after a failure"));
  retriesLabel->setBuddy(m_retries);

  auto* bottom = new QHBoxLayout;
  bottom->addWidget(retriesLabel);
  bottom->addWidget(m_retries);
  bottom->addWidget(m_start);
  bottom->addWidget(m_stop);
  bottom->addStretch(1);
  bottom->addWidget(buttons);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(m_heading);
  layout->addWidget(tableLabel);
  layout->addWidget(m_table, 1);
  layout->addWidget(m_progress);
  layout->addWidget(m_summary);
  layout->addLayout(bottom);

  const QFontMetrics metrics = fontMetrics();
  resize(metrics.averageCharWidth() * 150, metrics.height() * 28);
  ApplyButtons();
}

void CFleetDialog::SetPlan(const FleetPreparation& prepared) {
  m_model->SetPlan(prepared.plan);
  m_running = m_ran = m_stopAsked = false;
  m_finished = 0;
  m_heading->setText(QStringLiteral("File: %1\nSHA-256: %2")
                         .arg(QFile::decodeName(prepared.path.c_str()),
                              QString::fromStdString(Sha256Hex(*prepared.bytes))));
  int64_t total = 0;
  for (const FleetDevice& d : prepared.plan.planned) total += d.estimateMs;
  m_summary->setText(
      QStringLiteral("%1 device(s) to update, %2 skipped; about %3 min. Clear a device's box to "
                     "leave it out.")
          .arg(prepared.plan.planned.size())
          .arg(prepared.plan.skipped.size())
          .arg((total + 59999) / 60000));
  m_progress->setRange(0, 1);
  m_progress->setValue(0);
  m_table->resizeColumnsToContents();
  // The state column, last, is what a run is watched by: widen the dialog
  // until every column shows, as far as the screen allows.
  // The state column is what a run is watched by: wide enough for a
  // device being written, and the dialog wide enough for every column, as
  // far as the screen allows.
  const int state = CFleetModel::kState;
  m_table->setColumnWidth(state, std::max(m_table->columnWidth(state),
                                          m_table->fontMetrics().horizontalAdvance(QStringLiteral(
                                              "writing (attempt 10): 1000 of 1000 blocks")) +
                                              2 * m_table->fontMetrics().averageCharWidth()));
  const QMargins margins = layout()->contentsMargins();
  const int wanted = m_table->horizontalHeader()->length() + 2 * m_table->frameWidth() +
                     m_table->verticalScrollBar()->sizeHint().width() + margins.left() +
                     margins.right();
  if (wanted > width())
    resize(screen() ? std::min(wanted, screen()->availableGeometry().width()) : wanted, height());
  if (m_model->rowCount() > 0) m_table->setCurrentIndex(m_model->index(0, CFleetModel::kDevice));
  m_table->setFocus();
  ApplyButtons();
}

void CFleetDialog::Begin(const std::vector<size_t>& chosen) {
  m_running = m_ran = true;
  m_stopAsked = false;
  m_finished = 0;
  const int runSize = static_cast<int>(chosen.size());
  m_model->Lock(true);
  for (int i = 0; i < m_model->PlannedCount(); ++i)
    m_model->SetState(static_cast<size_t>(i), FleetRowState::kSkipped, "left out");
  for (size_t device : chosen) m_model->SetState(device, FleetRowState::kWaiting);
  m_progress->setRange(0, std::max(1, runSize * kStepsPerDevice));
  m_progress->setValue(0);
  m_summary->setText(QStringLiteral("Updating %1 device(s)...").arg(runSize));
  ApplyButtons();
  m_stop->setFocus();
}

void CFleetDialog::DeviceStarted(size_t device, int attempt) {
  m_model->SetWriting(device, attempt);
  ShowProgress(0, 0);
}

void CFleetDialog::BlocksWritten(size_t device, uint32_t done, uint32_t total) {
  m_model->SetBlocks(device, done, total);
  ShowProgress(done, total);
}

void CFleetDialog::DeviceFinished(size_t device, const CommandResult& result, bool updated) {
  if (updated)
    m_model->SetOk(device, result.confirmed);
  else
    m_model->SetState(device, FleetRowState::kFailed,
                      result.reason.empty() ? result.statusLine : result.reason);
  ++m_finished;
  ShowProgress(0, 0);
}

void CFleetDialog::StoppedBeforeTurn(size_t device) {
  m_model->SetState(device, FleetRowState::kSkipped, "stopped before its turn");
}

void CFleetDialog::Finish(const FleetRunEnd& end) {
  m_running = false;
  m_progress->setValue(m_progress->maximum());
  const FleetTally& t = end.tally;
  QString text = QString::fromStdString(FleetTallyText(t));
  if (end.interrupted)
    text = QStringLiteral("Interrupted. ") + text;
  else if (end.stopped)
    text = QStringLiteral("Stopped after the device being written. ") + text;
  m_summary->setText(text);
  // A failure's status line may be longer than the room kept for it.
  const int kept = m_table->columnWidth(CFleetModel::kState);
  m_table->resizeColumnToContents(CFleetModel::kState);
  if (m_table->columnWidth(CFleetModel::kState) < kept)
    m_table->setColumnWidth(CFleetModel::kState, kept);
  ApplyButtons();
  m_close->setFocus();
}

void CFleetDialog::SetWindowBusy(bool busy) {
  m_windowBusy = busy;
  ApplyButtons();
}

void CFleetDialog::reject() {
  // The dialog is where the run is watched and stopped: it stays for as
  // long as the run lasts.
  if (m_running) return;
  QDialog::reject();
}

void CFleetDialog::ApplyButtons() {
  m_start->setEnabled(!m_running && !m_ran && !m_windowBusy && !m_model->Chosen().empty());
  m_stop->setEnabled(m_running && !m_stopAsked);
  m_close->setEnabled(!m_running);
  m_retries->setEnabled(!m_running && !m_ran);
}

int CFleetDialog::Retries() const {
  return m_retries->value();
}

void CFleetDialog::ShowProgress(uint32_t done, uint32_t total) {
  const int within = total > 0 ? static_cast<int>(uint64_t{done} * kWritingSteps / total) : 0;
  m_progress->setValue(std::min(m_progress->maximum(), m_finished * kStepsPerDevice + within));
}
