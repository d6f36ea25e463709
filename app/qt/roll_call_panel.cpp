#include "app/qt/roll_call_panel.h"

#include <QFile>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeySequence>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QShortcut>
#include <QTreeView>
#include <QVBoxLayout>
#include <algorithm>

#include "app/qt/display_text.h"
#include "records/rig_firmware.h"

namespace quorvik {

namespace {

bool DeclaresFirmware(const Rig& rig) {
  const RigFirmwareDecode declared = DecodeRigFirmware(rig);
  return !declared.models.empty() || std::any_of(declared.byEntry.begin(), declared.byEntry.end(),
                                                 [](const auto& own) { return own.has_value(); });
}

// "; firmware: 1 update, 3 up-to-date", in the words of quorvik-cli plan;
// the devices the roll-call counts as missing, hidden or unexpected are
// not counted twice.
QString FirmwareSummary(const RigPlan& plan) {
  QStringList counts;
  for (const RigAction action : kRigActions)
    if (const int n = plan.Count(action); n > 0 && action != RigAction::kMissing &&
                                          action != RigAction::kHidden &&
                                          action != RigAction::kUnexpected)
      counts << QStringLiteral("%1 %2").arg(n).arg(QLatin1String(RigActionName(action)));
  return counts.isEmpty() ? QString()
                          : QStringLiteral("; firmware: ") + counts.join(QStringLiteral(", "));
}

}  // namespace

CRollCallPanel::CRollCallPanel(QWidget* parent) : QWidget(parent, Qt::Window) {
  setWindowTitle(QStringLiteral("Roll-call"));
  m_model = new CRollCallModel(this);
  m_load = new QPushButton(QStringLiteral("&Load rig..."), this);
  connect(m_load, &QPushButton::clicked, this, [this] { ChooseRig(); });
  m_rigLabel = new QLabel(this);
  m_rigLabel->setTextFormat(Qt::PlainText);
  m_tree = new QTreeView(this);
  m_tree->setModel(m_model);
  m_tree->setUniformRowHeights(true);
  m_tree->setSelectionBehavior(QAbstractItemView::SelectRows);
  m_tree->setEditTriggers(QAbstractItemView::NoEditTriggers);
  m_tree->setAllColumnsShowFocus(true);
  m_tree->setAccessibleName(QStringLiteral("Roll-call"));
  m_tree->header()->setStretchLastSection(true);
  // Beside the version it is about.
  m_tree->header()->moveSection(CRollCallModel::kFirmware, CRollCallModel::kVersion + 1);
  // Double-click, or Enter, on a device the main list shows selects it there.
  connect(m_tree, &QTreeView::activated, this, [this](const QModelIndex& index) {
    const QVariant row = index.data(CRollCallModel::kRowRole);
    if (row.isValid() && row.toInt() >= 0) emit listedDeviceChosen(row.toInt());
  });
  m_summary = new QLabel(this);
  m_summary->setTextFormat(Qt::PlainText);
  m_summary->setWordWrap(true);
  m_bringUpToDate = new QPushButton(QStringLiteral("&Bring up to date..."), this);
  m_bringUpToDate->setToolTip(
      QStringLiteral("Opens the update of every device whose firmware is not the one the rig "
                     "declares, each with its own file"));
  connect(m_bringUpToDate, &QPushButton::clicked, this, &CRollCallPanel::bringUpToDateRequested);
  auto* close = new QPushButton(QStringLiteral("&Close"), this);
  connect(close, &QPushButton::clicked, this, &QWidget::close);
  auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
  connect(escape, &QShortcut::activated, this, &QWidget::close);

  auto* top = new QHBoxLayout;
  top->addWidget(m_load);
  top->addWidget(m_rigLabel, 1);
  auto* bottom = new QHBoxLayout;
  bottom->addWidget(m_summary, 1);
  bottom->addWidget(m_bringUpToDate);
  bottom->addWidget(close);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addWidget(m_tree, 1);
  layout->addLayout(bottom);
  resize(940, 400);
  Refresh();
}

std::string CRollCallPanel::LoadRig(const std::string& path) {
  RigRead read = ReadRigFile(path);
  if (!read.rig) return read.problem;
  m_rig = std::make_shared<const Rig>(std::move(*read.rig));
  m_rigPath = path;
  m_declares = DeclaresFirmware(*m_rig);
  m_plan.reset();
  Refresh();
  emit rigLoaded();
  return {};
}

void CRollCallPanel::ShowListed(const ListedDevices& listed) {
  m_listed = listed;
  m_plan.reset();
  Refresh();
}

void CRollCallPanel::ShowPlan(std::shared_ptr<const CRigPlanner::Planned> planned) {
  if (!planned || planned->rig != m_rig) return;
  m_plan = std::move(planned);
  Refresh();
  // The first plan of a rig brings a column more: the panel widens for it
  // once, as far as its screen allows; later it stays as the operator has it.
  if (m_widened == m_rig) return;
  m_widened = m_rig;
  const QScreen* room = screen();
  if (room == nullptr) return;
  // The last column stretches: its room is what its cells need.
  const QHeaderView* header = m_tree->header();
  const QAbstractItemView* view = m_tree;
  const int last = header->logicalIndex(header->count() - 1);
  const int columns = header->length() - header->sectionSize(last) +
                      std::max(view->sizeHintForColumn(last), header->sectionSizeHint(last));
  const int wanted = columns + 2 * m_tree->frameWidth() +
                     m_tree->verticalScrollBar()->sizeHint().width() + width() - m_tree->width();
  const int right = room->availableGeometry().right() - (frameGeometry().width() - width());
  const int widest = right - frameGeometry().left() + 1;
  if (wanted > width()) resize(std::max(width(), std::min(wanted, widest)), height());
}

void CRollCallPanel::SetWindowBusy(bool busy) {
  m_windowBusy = busy;
  ApplyButtons();
}

void CRollCallPanel::ApplyButtons() {
  m_bringUpToDate->setVisible(m_declares);
  m_bringUpToDate->setEnabled(m_plan && !m_plan->plan.fleet.planned.empty() && !m_windowBusy);
}

void CRollCallPanel::ChooseRig() {
  QFileDialog dialog(this, QStringLiteral("Load rig"));
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setFileMode(QFileDialog::ExistingFile);
  dialog.setNameFilters({QStringLiteral("Rig files (*.json)"), QStringLiteral("All files (*)")});
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
  LoadRigOrSay(QFile::encodeName(dialog.selectedFiles().front()).toStdString());
}

void CRollCallPanel::LoadRigOrSay(const std::string& path) {
  const std::string problem = LoadRig(path);
  if (problem.empty()) return;
  QMessageBox box(QMessageBox::Warning, QStringLiteral("Quorvik"),
                  QStringLiteral("The rig was not loaded."), QMessageBox::Ok, this);
  box.setInformativeText(DisplayUtf8(problem));
  box.exec();
}

void CRollCallPanel::Refresh() {
  // The plan holds the roll-call it was made on.
  RollCall call;
  if (m_plan) {
    call = m_plan->plan.Call();
    m_model->SetPlan(m_plan->plan);
  } else {
    if (m_rig && m_listed) call = CallRoll(*m_rig, m_listed->records, m_listed->blackList);
    m_model->SetRollCall(call);
  }
  m_tree->setColumnHidden(CRollCallModel::kFirmware, !m_declares);
  m_tree->expandAll();
  const QHeaderView* header = m_tree->header();
  const int stretched = header->logicalIndex(header->count() - 1);
  for (int c = 0; c < CRollCallModel::kColumnCount; ++c)
    if (c != stretched) m_tree->resizeColumnToContents(c);
  ApplyButtons();
  if (!m_rig) {
    m_rigLabel->setText(QStringLiteral("No rig loaded"));
    m_summary->setText(
        QStringLiteral("Load a rig file; Application > Save as rig... makes one of the list."));
    return;
  }
  m_rigLabel->setText(QStringLiteral("%1 (%2 devices)")
                          .arg(QFile::decodeName(m_rigPath.c_str()))
                          .arg(m_rig->devices.size()));
  if (!m_listed) {
    m_summary->setText(QStringLiteral("Waiting for a Find."));
    return;
  }
  m_summary->setText(
      QStringLiteral("%1: %2%3")
          .arg(call.Passed() ? QStringLiteral("As saved") : QStringLiteral("Not as saved"))
          .arg(QString::fromStdString(RollCallSummary(call)))
          .arg(m_plan       ? FirmwareSummary(m_plan->plan)
               : m_declares ? QStringLiteral("; firmware: not checked yet")
                            : QString()));
}

}  // namespace quorvik
