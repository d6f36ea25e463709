#include "app/qt/station_dialog.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QFileDialog>
#include <QFont>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>
#include <filesystem>
#include <sstream>

#include "app/qt/models/station_model.h"
#include "app/qt/waits_box.h"
#include "base/hex_text.h"
#include "commands/firmware_file.h"
#include "commands/sha256.h"

namespace quorvik {

namespace {

// "3680 0x3681" into model codes; nothing when a word is not one.
std::optional<std::vector<uint16_t>> ParseModels(const std::string& text) {
  std::vector<uint16_t> models;
  std::istringstream words(text);
  for (std::string word; words >> word;) {
    if (word.rfind("0x", 0) == 0 || word.rfind("0X", 0) == 0) word = word.substr(2);
    if (word.empty() || word.size() > 4 ||
        word.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
      return std::nullopt;
    models.push_back(static_cast<uint16_t>(std::stoul(word, nullptr, 16)));
  }
  return models;
}

}  // namespace

CStationDialog::CStationDialog(QWidget* parent, Clock now)
    : QDialog(parent), m_now(std::move(now)) {
  setWindowTitle(QStringLiteral("Station"));
  m_model = new CStationModel(this);
  m_tiles = new QListView(this);
  m_tiles->setModel(m_model);
  m_tiles->setViewMode(QListView::IconMode);
  m_tiles->setFlow(QListView::LeftToRight);
  m_tiles->setWrapping(true);
  m_tiles->setResizeMode(QListView::Adjust);
  m_tiles->setMovement(QListView::Static);
  m_tiles->setUniformItemSizes(true);
  m_tiles->setSpacing(12);
  m_tiles->setSelectionMode(QAbstractItemView::NoSelection);
  m_tiles->setEditTriggers(QAbstractItemView::NoEditTriggers);
  m_tiles->setAccessibleName(QStringLiteral("Units"));
  // Read from two metres: the verdict's word in large type.
  QFont large = m_tiles->font();
  large.setPointSizeF(large.pointSizeF() * 2.2);
  large.setBold(true);
  m_tiles->setFont(large);
  // A failure's reason is what the operator walks over to read: it wraps
  // onto lines of its own instead of being cut short.
  m_tiles->setWordWrap(true);
  m_tiles->setTextElideMode(Qt::ElideNone);
  const QFontMetrics metrics(large);
  const QSize tile(metrics.horizontalAdvance(QLatin1Char('M')) * 16, metrics.lineSpacing() * 5);
  m_model->SetTileSize(tile);
  m_tiles->setGridSize(tile + QSize(12, 12));

  m_file = new QLabel(QStringLiteral("No file chosen"), this);
  m_file->setTextFormat(Qt::PlainText);
  m_file->setTextInteractionFlags(Qt::TextSelectableByMouse);
  m_counts = new QLabel(this);
  m_counts->setTextFormat(Qt::PlainText);
  QFont countsFont = m_counts->font();
  countsFont.setPointSizeF(countsFont.pointSizeF() * 1.6);
  m_counts->setFont(countsFont);
  m_note = new QLabel(this);
  m_note->setTextFormat(Qt::PlainText);
  m_note->setWordWrap(true);

  m_browse = new QPushButton(QStringLiteral("&File..."), this);
  m_browse->setAutoDefault(false);
  connect(m_browse, &QPushButton::clicked, this, [this] {
    const QString path = QFileDialog::getOpenFileName(this, QStringLiteral("Firmware file"));
    if (!path.isEmpty()) ChooseFile(QFile::encodeName(path).toStdString());
  });
  m_models = new QLineEdit(this);
  m_models->setPlaceholderText(QStringLiteral("any model the file fits"));
  m_models->setAccessibleName(QStringLiteral("Models"));
  m_models->setToolTip(
      QStringLiteral("Model codes in hex, as 3680 or 0x3680, separated by spaces"));
  connect(m_models, &QLineEdit::textChanged, this, [this] {
    ShowSetup();
    UpdateButtons();
  });
  m_parallel = new QSpinBox(this);
  m_parallel->setRange(1, kMaxUnitsAtOnce);
  m_parallel->setValue(kDefaultUnitsAtOnce);
  m_parallel->setAccessibleName(QStringLiteral("Units at once"));
  m_again = new QCheckBox(QStringLiteral("Flash units done before &again"), this);
  m_again->setToolTip(
      QStringLiteral("Units the journal shows done with this file are left alone unless this is "
                     "ticked"));
  m_again->setAccessibleDescription(m_again->toolTip());
  connect(m_again, &QCheckBox::toggled, this, [this] { ShowSetup(); });
  m_waits = new CWaitsBox(this);

  m_start = new QPushButton(QStringLiteral("&Start"), this);
  m_start->setAutoDefault(false);
  m_stop = new QPushButton(QStringLiteral("S&top"), this);
  m_stop->setAutoDefault(false);
  connect(m_start, &QPushButton::clicked, this, [this] {
    // What the boxes show now is what runs: "Units at once" and the waits
    // change nothing else that would have taken them in.
    ShowSetup();
    if (!m_running && m_setup.bytes) emit startRequested();
  });
  connect(m_stop, &QPushButton::clicked, this, [this] {
    if (m_running && !m_stopping && AskStop()) {
      m_stopping = true;
      UpdateButtons();
      emit stopRequested();
    }
  });

  auto* setup = new QGridLayout;
  setup->addWidget(m_browse, 0, 0);
  setup->addWidget(m_file, 0, 1, 1, 3);
  auto* modelsLabel = new QLabel(QStringLiteral("&Models:"), this);
  modelsLabel->setBuddy(m_models);
  setup->addWidget(modelsLabel, 1, 0);
  setup->addWidget(m_models, 1, 1);
  auto* parallelLabel = new QLabel(QStringLiteral("Units at &once:"), this);
  parallelLabel->setBuddy(m_parallel);
  setup->addWidget(parallelLabel, 1, 2);
  setup->addWidget(m_parallel, 1, 3);
  setup->addWidget(m_again, 2, 1);
  setup->addWidget(m_waits, 2, 2, 1, 2);
  setup->setColumnStretch(1, 1);
  auto* actions = new QHBoxLayout;
  actions->addWidget(m_counts, 1);
  actions->addWidget(m_start);
  actions->addWidget(m_stop);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(setup);
  layout->addWidget(m_note);
  layout->addWidget(m_tiles, 1);
  layout->addLayout(actions);
  resize(900, 560);
  m_paceTimer.setInterval(1000);
  connect(&m_paceTimer, &QTimer::timeout, this, [this] { ShowCounts(); });
  ShowCounts();
  UpdateButtons();
}

bool CStationDialog::ChooseFile(const std::string& path) {
  if (m_running) return false;
  FirmwareFileRead read = ReadFirmwareFile(path);
  if (read.verdict) {
    m_note->setText(QString::fromStdString(std::string(FirmwareVerdictLine(*read.verdict)) + " (" +
                                           read.detail + ")"));
    return false;
  }
  m_note->clear();
  m_sha256 = Sha256Hex(read.bytes);
  m_setup.path = path;
  m_setup.bytes = std::make_shared<const std::vector<uint8_t>>(std::move(read.bytes));
  ShowSetup();
  UpdateButtons();
  return true;
}

void CStationDialog::SetChoices(int atOnce, const Waits& waits) {
  if (m_running) return;
  m_parallel->setValue(atOnce);
  m_waits->Set(waits);
  ShowSetup();
}

void CStationDialog::ShowSetup() {
  if (m_running) return;
  const auto models = ParseModels(m_models->text().toStdString());
  if (models) m_setup.models = *models;
  m_setup.parallel = m_parallel->value();
  m_setup.again = m_again->isChecked();
  m_setup.waits = m_waits->Chosen();
  if (!m_setup.bytes) return;
  QString accepted;
  for (uint16_t model : m_setup.models) {
    accepted += (accepted.isEmpty() ? "" : " ") + QString::fromStdString(HexWord(model, true));
  }
  m_file->setText(
      QStringLiteral("%1   SHA-256 %2   models: %3")
          .arg(QFile::decodeName(std::filesystem::path(m_setup.path).filename().string().c_str()),
               QString::fromStdString(m_sha256.substr(0, 12)),
               accepted.isEmpty() ? QStringLiteral("any the file fits") : accepted));
  m_file->setToolTip(QFile::decodeName(m_setup.path.c_str()));
}

void CStationDialog::ShowCounts() {
  StationTally tally;
  tally.ok = m_model->passed();
  tally.failed = m_model->failed();
  tally.ignored = m_model->ignored();
  if (m_running)
    tally.elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(m_now() - m_begun);
  else if (m_ranFor)
    tally.elapsed = *m_ranFor;
  // Before the first second there is no pace to tell.
  const QString perHour = tally.elapsed >= std::chrono::seconds(1)
                              ? QString::number(tally.PerHour())
                              : QStringLiteral("\u2013");
  m_counts->setText(QStringLiteral("PASS %1   FAIL %2   ignored %3   %4 units/hour")
                        .arg(m_model->passed())
                        .arg(m_model->failed())
                        .arg(m_model->ignored())
                        .arg(perHour));
}

void CStationDialog::UpdateButtons() {
  const bool modelsOk = ParseModels(m_models->text().toStdString()).has_value();
  m_start->setEnabled(!m_running && !m_windowBusy && m_setup.bytes && modelsOk);
  m_stop->setEnabled(m_running && !m_stopping);
  // The locked set-up: what the line flashes does not change under it.
  for (QWidget* w :
       std::initializer_list<QWidget*>{m_browse, m_models, m_parallel, m_again, m_waits})
    w->setEnabled(!m_running);
}

void CStationDialog::SetWindowBusy(bool busy) {
  m_windowBusy = busy;
  UpdateButtons();
}

void CStationDialog::Begin() {
  ShowSetup();
  m_running = true;
  m_stopping = false;
  m_begun = m_now();
  m_ranFor.reset();
  m_paceTimer.start();
  m_model->Clear();
  m_note->setText(QStringLiteral("Put units on the bench."));
  ShowCounts();
  UpdateButtons();
}

void CStationDialog::Found(const StationUnit& unit) {
  m_model->Found(unit);
}

void CStationDialog::Writing(const StationUnit& unit, uint32_t done, uint32_t total) {
  m_model->Writing(unit, done, total);
}

void CStationDialog::Done(const StationUnit& unit, const CommandResult& result) {
  m_model->Done(unit, result);
  ShowCounts();
  emit verdict(result.outcome == Outcome::kOk);
}

void CStationDialog::Ignored(const StationUnit& unit, const std::string& why) {
  m_model->Ignored();
  m_note->setText(QStringLiteral("Ignored %1: %2")
                      .arg(QString::fromStdString(unit.serial), QString::fromStdString(why)));
  ShowCounts();
}

void CStationDialog::Gone(const StationUnit& unit) {
  m_model->Gone(unit);
}

void CStationDialog::Finish(const StationEnd& end) {
  m_running = false;
  m_paceTimer.stop();
  m_ranFor = end.tally.elapsed;
  ShowCounts();
  m_stopping = false;
  m_note->setText(end.interrupted ? QStringLiteral("Stopped: units being written were cut short.")
                                  : QStringLiteral("Stopped."));
  UpdateButtons();
}

bool CStationDialog::AskStop() {
  return QMessageBox::question(this, QStringLiteral("Station"),
                               QStringLiteral("Stop the station after the units being written?"),
                               QMessageBox::Yes | QMessageBox::No,
                               QMessageBox::No) == QMessageBox::Yes;
}

void CStationDialog::keyPressEvent(QKeyEvent* event) {
  // A stray Return or Esc on the bench never ends a running station.
  const int key = event->key();
  if (m_running && (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Escape)) {
    event->accept();
    return;
  }
  QDialog::keyPressEvent(event);
}

void CStationDialog::reject() {
  if (m_running) return;
  QDialog::reject();
}

void CStationDialog::closeEvent(QCloseEvent* event) {
  if (!m_running) {
    QDialog::closeEvent(event);
    return;
  }
  event->ignore();
  if (!m_stopping && AskStop()) {
    m_stopping = true;
    UpdateButtons();
    emit stopRequested();
  }
}

}  // namespace quorvik
