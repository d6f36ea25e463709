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
#include <algorithm>

#include "commands/sha256.h"

namespace {

constexpr int kStepsPerDevice = 100;
// A device's blocks fill this much of its share of the bar; the rest waits
// for its end, since the run request and the search that confirms it take
// seconds of their own.
constexpr int kWritingSteps = 90;

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
