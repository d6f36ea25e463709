#include "app/qt/recover_dialog.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QTableView>
#include <QVBoxLayout>
#include <algorithm>

#include "app/qt/models/recover_model.h"
#include "app/qt/waits_box.h"

namespace quorvik {

CRecoverDialog::CRecoverDialog(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("Recover half-updated devices"));
  m_model = new CRecoverModel(this);
  m_table = new QTableView(this);
  m_table->setModel(m_model);
  m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
  m_table->setSelectionMode(QAbstractItemView::SingleSelection);
  m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
  m_table->verticalHeader()->hide();
  m_table->horizontalHeader()->setStretchLastSection(true);
  m_table->setWordWrap(false);
  m_table->setAccessibleName(QStringLiteral("Half-updated devices"));
  connect(m_table->selectionModel(), &QItemSelectionModel::selectionChanged, this,
          [this] { UpdateButtons(); });

  m_note = new QLabel(this);
  m_note->setWordWrap(true);
  m_note->setTextFormat(Qt::PlainText);
  m_note->setText(
      QStringLiteral("Their update never ended: each waits in its bootloader with part of an "
                     "image. Write the same file again, or start the application it holds."));
  m_write = new QPushButton(QStringLiteral("&Write the same file again"), this);
  m_run = new QPushButton(QStringLiteral("&Start its application"), this);
  connect(m_write, &QPushButton::clicked, this, [this] {
    if (const int row = SelectedRow(); row >= 0 && m_model->CanWriteAgain(row))
      emit writeAgainRequested(m_model->device(row));
  });
  connect(m_run, &QPushButton::clicked, this, [this] {
    if (const int row = SelectedRow(); row >= 0) emit runRequested(m_model->device(row));
  });
  // The device waits in its loader: there is no restart to settle after.
  m_waits = new CWaitsBox(this, false);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
  buttons->button(QDialogButtonBox::Close)->setText(QStringLiteral("&Close"));
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

  auto* actions = new QHBoxLayout;
  actions->addWidget(m_write);
  actions->addWidget(m_run);
  actions->addWidget(m_waits);
  actions->addStretch(1);
  actions->addWidget(buttons);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(m_note);
  layout->addWidget(m_table, 1);
  layout->addLayout(actions);
  resize(820, 260);
  UpdateButtons();
}

void CRecoverDialog::SetDevices(std::vector<UnfinishedUpdate> devices) {
  m_model->SetDevices(std::move(devices));
  m_table->resizeColumnsToContents();
  // Wide enough for every column, the last ("Recovery": what can be done)
  // above all, as far as the screen allows; a dialog already open stays as
  // the operator has it.
  const QMargins margins = layout()->contentsMargins();
  int wanted = m_table->horizontalHeader()->length() + 2 * m_table->frameWidth() +
               m_table->verticalScrollBar()->sizeHint().width() + margins.left() + margins.right();
  if (screen()) wanted = std::min(wanted, screen()->availableGeometry().width());
  m_least = QSize(wanted, minimumSizeHint().height());
  if (!isVisible() && wanted > width()) resize(wanted, height());
  if (m_model->rowCount() > 0) m_table->selectRow(0);
  UpdateButtons();
}

void CRecoverDialog::SetWindowBusy(bool busy) {
  m_busy = busy;
  UpdateButtons();
}

Waits CRecoverDialog::ChosenWaits() const {
  return m_waits->Chosen();
}

void CRecoverDialog::SetWaits(const Waits& waits) {
  m_waits->Set(waits);
}

int CRecoverDialog::SelectedRow() const {
  const QModelIndexList rows = m_table->selectionModel()->selectedRows();
  return rows.isEmpty() ? -1 : rows.front().row();
}

void CRecoverDialog::UpdateButtons() {
  const int row = SelectedRow();
  m_write->setEnabled(!m_busy && m_model->CanWriteAgain(row));
  m_run->setEnabled(!m_busy && row >= 0);
  m_waits->setEnabled(!m_busy);
}

}  // namespace quorvik
