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
#include <QStyle>
#include <QTableView>
#include <QVBoxLayout>
#include <algorithm>

#include "app/qt/display_text.h"
#include "app/qt/waits_box.h"
#include "commands/sha256.h"

namespace quorvik {

namespace {

constexpr int kStepsPerDevice = 100;
// A device's blocks fill this much of its share of the bar; the rest waits
// for its end, since the run request and the search that confirms it take
// seconds of their own.
constexpr int kWritingSteps = 90;

// Room between two label and spin box pairs of one row.
int PairSpacing(const QWidget* widget) {
  return widget->fontMetrics().averageCharWidth() * 3;
}

}  // namespace

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
  // One line of text a row: a rig's devices in as few pixels as they read.
  m_table->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  m_table->verticalHeader()->setDefaultSectionSize(
      std::max(m_table->fontMetrics().height(),
               style()->pixelMetric(QStyle::PM_IndicatorHeight, nullptr, m_table)) +
      6);
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
  m_stop = new QPushButton(QStringLiteral("Stop &after these devices"), this);
  m_stop->setToolTip(QStringLiteral(
      "The devices being written are finished; no other is begun, the rest are left as they are"));
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
    m_summary->setText(QStringLiteral("Stopping after the devices being written..."));
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

  auto* atOnceLabel = new QLabel(QStringLiteral("At &once:"), this);
  m_atOnce = new QSpinBox(this);
  m_atOnce->setRange(1, kMaxAtOnce);
  m_atOnce->setValue(kDefaultAtOnce);
  m_atOnce->setAccessibleName(QStringLiteral("At once"));
  m_atOnce->setToolTip(QStringLiteral(
      "Devices that answer from addresses of their own are written side by side; each such "
      "device puts up to about 0.4 Mbit/s of broadcasts on the network"));
  atOnceLabel->setBuddy(m_atOnce);
  auto* canaryLabel = new QLabel(QStringLiteral("&First N alone:"), this);
  m_canary = new QSpinBox(this);
  m_canary->setRange(0, 99);
  m_canary->setSpecialValueText(QStringLiteral("off"));
  m_canary->setAccessibleName(QStringLiteral("First N alone"));
  m_canary->setToolTip(
      QStringLiteral("The first devices are updated on their own; the rest follow only if each "
                     "of them ended ok and came back running"));
  canaryLabel->setBuddy(m_canary);
  m_waits = new CWaitsBox(this);
  // The estimates follow the waits the run is to make.
  connect(m_waits, &CWaitsBox::changed, this, [this] {
    if (m_running || m_ran) return;
    m_model->SetWaits(m_waits->Chosen());
    if (m_model->rowCount() > 0) ShowPlanSummary();
  });

  auto* options = new QHBoxLayout;
  options->addWidget(retriesLabel);
  options->addWidget(m_retries);
  options->addSpacing(PairSpacing(this));
  options->addWidget(atOnceLabel);
  options->addWidget(m_atOnce);
  options->addSpacing(PairSpacing(this));
  options->addWidget(canaryLabel);
  options->addWidget(m_canary);
  options->addSpacing(PairSpacing(this));
  options->addWidget(m_waits);
  options->addStretch(1);
  auto* bottom = new QHBoxLayout;
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
  layout->addLayout(options);
  layout->addLayout(bottom);

  const QFontMetrics metrics = fontMetrics();
  resize(metrics.averageCharWidth() * 150, metrics.height() * 28);
  ApplyButtons();
}

void CFleetDialog::SetPlan(const FleetPreparation& prepared) {
  SetPlan(prepared.plan, QStringLiteral("File: %1\nSHA-256: %2")
                             .arg(QFile::decodeName(prepared.path.c_str()),
                                  QString::fromStdString(Sha256Hex(*prepared.bytes))));
}

void CFleetDialog::SetPlan(const FleetPlan& plan, const QString& heading) {
  m_model->SetPlan(plan);
  m_model->SetWaits(m_waits->Chosen());
  m_running = m_ran = m_stopAsked = false;
  m_finished = 0;
  m_heading->setText(heading);
  ShowPlanSummary();
  m_progress->setRange(0, 1);
  m_progress->setValue(0);
  m_table->resizeColumnsToContents();
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
  const QRect screenRoom = screen() ? screen()->availableGeometry() : QRect(0, 0, wanted, height());
  if (wanted > width()) resize(std::min(wanted, screenRoom.width()), height());
  // Tall enough for every row, as far as the screen allows; a few rows are
  // the least it is of use with.
  layout()->activate();
  const int rowHeight = m_table->verticalHeader()->defaultSectionSize();
  const int chrome = height() - m_table->height() + 2 * m_table->frameWidth() +
                     m_table->horizontalHeader()->sizeHint().height();
  m_least = QSize(std::min(wanted, screenRoom.width()), chrome + 3 * rowHeight);
  if (!isVisible()) {
    const int rows = std::max(m_model->rowCount(), 3);
    resize(width(), std::clamp(chrome + rows * rowHeight, height(), screenRoom.height()));
  }
  if (m_model->rowCount() > 0) m_table->setCurrentIndex(m_model->index(0, CFleetModel::kDevice));
  m_table->setFocus();
  ApplyButtons();
}

void CFleetDialog::ShowPlanSummary() {
  const int planned = m_model->PlannedCount();
  m_summary->setText(
      QStringLiteral("%1 device(s) to update, %2 skipped; about %3 min. Clear a device's box to "
                     "leave it out.")
          .arg(planned)
          .arg(m_model->rowCount() - planned)
          .arg((m_model->EstimatedMs() + 59999) / 60000));
}

void CFleetDialog::Begin(const std::vector<size_t>& chosen) {
  m_running = m_ran = true;
  m_stopAsked = false;
  m_finished = 0;
  m_writing.clear();
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
  m_writing[device] = 0;
  ShowProgress();
}

void CFleetDialog::BlocksWritten(size_t device, uint32_t done, uint32_t total) {
  m_model->SetBlocks(device, done, total);
  m_writing[device] =
      total > 0 ? static_cast<int>(uint64_t{std::min(done, total)} * kWritingSteps / total) : 0;
  ShowProgress();
}

void CFleetDialog::DeviceFinished(size_t device, const CommandResult& result, bool updated) {
  if (updated)
    m_model->SetOk(device, result.confirmed);
  else
    m_model->SetState(device, FleetRowState::kFailed,
                      result.reason.empty() ? result.statusLine : result.reason);
  ++m_finished;
  m_writing.erase(device);
  ShowProgress();
}

void CFleetDialog::StoppedBeforeTurn(size_t device) {
  // Counted apart from the devices the plan or the operator left out, as
  // the run's tally counts it.
  m_model->SetState(device, FleetRowState::kNotStarted, "stopped before its turn");
}

void CFleetDialog::Finish(const FleetRunEnd& end) {
  m_running = false;
  m_progress->setValue(m_progress->maximum());
  const FleetTally& t = end.tally;
  QString text = QString::fromStdString(FleetTallyText(t));
  if (end.interrupted)
    text = QStringLiteral("Interrupted. ") + text;
  else if (!end.canaryFailed.empty())
    text = QStringLiteral("Stopped: %1. ").arg(DisplayText(end.canaryFailed)) + text;
  else if (end.stopped)
    text = QStringLiteral("Stopped after the devices being written. ") + text;
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
  for (QWidget* box : std::initializer_list<QWidget*>{m_retries, m_atOnce, m_canary, m_waits})
    box->setEnabled(!m_running && !m_ran);
}

Waits CFleetDialog::ChosenWaits() const {
  return m_waits->Chosen();
}

void CFleetDialog::SetWaits(const Waits& waits) {
  m_waits->Set(waits);
}

int CFleetDialog::Retries() const {
  return m_retries->value();
}

int CFleetDialog::AtOnce() const {
  return m_atOnce->value();
}

void CFleetDialog::SetAtOnce(int atOnce) {
  m_atOnce->setValue(atOnce);
}

int CFleetDialog::Canary() const {
  return m_canary->value();
}

void CFleetDialog::ShowProgress() {
  int within = 0;
  for (const auto& [device, steps] : m_writing) within += steps;
  m_progress->setValue(std::min(m_progress->maximum(), m_finished * kStepsPerDevice + within));
}

}  // namespace quorvik
