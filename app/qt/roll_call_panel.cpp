#include "app/qt/roll_call_panel.h"

#include <QFile>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeySequence>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QShortcut>
#include <QTreeView>
#include <QVBoxLayout>

#include "app/qt/display_text.h"

namespace quorvik {

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
  // Double-click, or Enter, on a device the main list shows selects it there.
  connect(m_tree, &QTreeView::activated, this, [this](const QModelIndex& index) {
    const QVariant row = index.data(CRollCallModel::kRowRole);
    if (row.isValid() && row.toInt() >= 0) emit listedDeviceChosen(row.toInt());
  });
  m_summary = new QLabel(this);
  m_summary->setTextFormat(Qt::PlainText);
  m_summary->setWordWrap(true);
  auto* close = new QPushButton(QStringLiteral("&Close"), this);
  connect(close, &QPushButton::clicked, this, &QWidget::close);
  auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
  connect(escape, &QShortcut::activated, this, &QWidget::close);

  auto* top = new QHBoxLayout;
  top->addWidget(m_load);
  top->addWidget(m_rigLabel, 1);
  auto* bottom = new QHBoxLayout;
  bottom->addWidget(m_summary, 1);
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
  m_rig = std::move(read.rig);
  m_rigPath = path;
  Refresh();
  return {};
}

void CRollCallPanel::ShowListed(const ListedDevices& listed) {
  m_listed = listed;
  Refresh();
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
  const RollCall call =
      m_rig && m_listed ? CallRoll(*m_rig, m_listed->records, m_listed->blackList) : RollCall{};
  m_model->SetRollCall(call);
  m_tree->expandAll();
  for (int c = 0; c + 1 < CRollCallModel::kColumnCount; ++c) m_tree->resizeColumnToContents(c);
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
      QStringLiteral("%1: %2")
          .arg(call.Passed() ? QStringLiteral("As saved") : QStringLiteral("Not as saved"))
          .arg(QString::fromStdString(RollCallSummary(call))));
}

}  // namespace quorvik
