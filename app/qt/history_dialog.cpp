#include "app/qt/history_dialog.h"

#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSortFilterProxyModel>
#include <QTableView>
#include <QVBoxLayout>

#include "app/qt/models/journal_model.h"
#include "files/operator_files.h"
#include "records/journal.h"

namespace quorvik {

CHistoryDialog::CHistoryDialog(const std::string& journalPath, QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("Update history"));
  m_model = new CJournalModel(this);
  m_proxy = new QSortFilterProxyModel(this);
  m_proxy->setSourceModel(m_model);
  m_proxy->setSortRole(Qt::UserRole);
  m_proxy->setFilterCaseSensitivity(Qt::CaseInsensitive);
  m_proxy->setFilterKeyColumn(-1);  // any column

  auto* filterLabel = new QLabel(QStringLiteral("&Filter:"), this);
  m_filter = new QLineEdit(this);
  m_filter->setPlaceholderText(QStringLiteral("serial, device, file, outcome ..."));
  m_filter->setClearButtonEnabled(true);
  filterLabel->setBuddy(m_filter);
  connect(m_filter, &QLineEdit::textChanged, m_proxy, &QSortFilterProxyModel::setFilterFixedString);

  m_table = new QTableView(this);
  m_table->setModel(m_proxy);
  m_table->setSortingEnabled(true);
  m_table->sortByColumn(0, Qt::AscendingOrder);  // the journal's own order: oldest first
  m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
  m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
  m_table->verticalHeader()->hide();
  m_table->setWordWrap(false);
  m_table->setAccessibleName(QStringLiteral("Update history"));

  m_note = new QLabel(this);
  m_note->setTextFormat(Qt::PlainText);
  m_export = new QPushButton(QStringLiteral("&Export CSV..."), this);
  connect(m_export, &QPushButton::clicked, this, [this] { ChooseExport(); });
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
  // Not every platform theme gives the standard button an Alt key.
  buttons->button(QDialogButtonBox::Close)->setText(QStringLiteral("&Close"));
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

  auto* top = new QHBoxLayout;
  top->addWidget(filterLabel);
  top->addWidget(m_filter, 1);
  auto* bottom = new QHBoxLayout;
  bottom->addWidget(m_note, 1);
  bottom->addWidget(m_export);
  bottom->addWidget(buttons);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addWidget(m_table, 1);
  layout->addLayout(bottom);
  resize(900, 420);

  JournalRead read = journalPath.empty() ? JournalRead{} : ReadJournal(journalPath);
  // A start that its end follows is one entry; one that never ended shows
  // as unfinished.
  std::vector<FlatRecord> entries = HistoryEntries(read.records);
  QString note = QStringLiteral("%1 entries in %2")
                     .arg(entries.size())
                     .arg(QFile::decodeName(journalPath.c_str()));
  m_model->SetRecords(std::move(entries));
  m_table->resizeColumnsToContents();
  if (read.problem) note = QString::fromStdString(read.problem->message);
  if (read.skipped > 0)
    note += QStringLiteral("; %1 line(s) could not be read and are left out").arg(read.skipped);
  m_note->setText(note);
  m_filter->setFocus();
}

std::vector<FlatRecord> CHistoryDialog::ShownRecords() const {
  std::vector<FlatRecord> shown;
  for (int row = 0; row < m_proxy->rowCount(); ++row)
    shown.push_back(m_model->record(m_proxy->mapToSource(m_proxy->index(row, 0)).row()));
  return shown;
}

std::string CHistoryDialog::ExportTo(const std::string& path) const {
  const FileWrite written = WriteFileAtomically(path, JournalCsv(ShownRecords()));
  return written ? std::string() : written.problem.message;
}

void CHistoryDialog::ChooseExport() {
  const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Export CSV"),
                                                    QStringLiteral("quorvik-history.csv"),
                                                    QStringLiteral("CSV (*.csv)"));
  if (path.isEmpty()) return;
  const std::string problem = ExportTo(QFile::encodeName(path).toStdString());
  if (problem.empty()) return;
  QMessageBox box(QMessageBox::Warning, QStringLiteral("Quorvik"),
                  QStringLiteral("The history was not exported."), QMessageBox::Ok, this);
  box.setInformativeText(QString::fromStdString(problem));
  box.exec();
}

}  // namespace quorvik
