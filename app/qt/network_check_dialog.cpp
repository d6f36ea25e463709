#include "app/qt/network_check_dialog.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QLabel>
#include <QListView>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>
#include <algorithm>

#include "app/qt/display_text.h"

namespace {

// The word comes first, so that the status never rests on the icon's
// colour alone and a screen reader says it.
QString StatusWord(CheckStatus status) {
  return QString::fromLatin1(CheckStatusName(status)).toUpper();
}

QStyle::StandardPixmap StatusIcon(CheckStatus status) {
  switch (status) {
    case CheckStatus::kPass:
      return QStyle::SP_DialogApplyButton;
    case CheckStatus::kWarn:
      return QStyle::SP_MessageBoxWarning;
    case CheckStatus::kFail:
      return QStyle::SP_MessageBoxCritical;
  }
  return QStyle::SP_MessageBoxInformation;
}

}  // namespace

void CNetworkCheckModel::Clear() {
  beginResetModel();
  m_results.clear();
  endResetModel();
}

void CNetworkCheckModel::Add(const CheckResult& result) {
  const int row = static_cast<int>(m_results.size());
  beginInsertRows({}, row, row);
  m_results.push_back(result);
  endInsertRows();
}

int CNetworkCheckModel::Count(CheckStatus status) const {
  return static_cast<int>(std::count_if(m_results.begin(), m_results.end(),
                                        [status](const auto& r) { return r.status == status; }));
}

int CNetworkCheckModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(m_results.size());
}

QVariant CNetworkCheckModel::data(const QModelIndex& index, int role) const {
  if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
    return {};
  const CheckResult& r = m_results[static_cast<size_t>(index.row())];
  switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole:
    case Qt::AccessibleTextRole: {
      QString line = StatusWord(r.status) + QStringLiteral("  ") + DisplayUtf8(r.title);
      if (!r.detail.empty()) line += QStringLiteral(": ") + DisplayUtf8(r.detail);
      if (!r.advice.empty()) line += QStringLiteral("\nWhat to do: ") + DisplayUtf8(r.advice);
      return line;
    }
    case Qt::DecorationRole:
      return QApplication::style()->standardIcon(StatusIcon(r.status));
    case kStatusRole:
      return static_cast<int>(r.status);
    case kIdRole:
      return QString::fromStdString(r.id);
    default:
      return {};
  }
}

CNetworkCheckDialog::CNetworkCheckDialog(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("Network check"));
  m_model = new CNetworkCheckModel(this);

  auto* heading = new QLabel(QStringLiteral("&Findings:"), this);
  m_list = new QListView(this);
  m_list->setModel(m_model);
  m_list->setWordWrap(true);
  m_list->setTextElideMode(Qt::ElideNone);
  m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
  m_list->setSelectionMode(QAbstractItemView::SingleSelection);
  m_list->setAlternatingRowColors(true);
  m_list->setSpacing(2);
  heading->setBuddy(m_list);
  m_list->setAccessibleName(QStringLiteral("Findings"));

  m_summary = new QLabel(this);
  m_summary->setTextFormat(Qt::PlainText);
  m_summary->setWordWrap(true);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
  // Not every platform theme gives the standard button an Alt key.
  buttons->button(QDialogButtonBox::Close)->setText(QStringLiteral("&Close"));
  m_runAgain = buttons->addButton(QStringLiteral("Run &again"), QDialogButtonBox::ActionRole);
  connect(m_runAgain, &QPushButton::clicked, this, &CNetworkCheckDialog::runRequested);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(heading);
  layout->addWidget(m_list, 1);
  layout->addWidget(m_summary);
  layout->addWidget(buttons);

  // Room for a finding and its advice on two lines each, a dozen of them.
  const QFontMetrics metrics = fontMetrics();
  resize(metrics.averageCharWidth() * 100, metrics.height() * 32);
  ApplyRunButton();
}

void CNetworkCheckDialog::Begin() {
  m_running = true;
  m_model->Clear();
  m_summary->setText(QStringLiteral(
      "Checking the cards, the ports, the firewall and reverse-path filtering, then searching "
      "once..."));
  ApplyRunButton();
}

void CNetworkCheckDialog::Add(const CheckResult& result) {
  m_model->Add(result);
  // The keyboard follows the newest finding while nothing is chosen, so that
  // a screen reader reads each as it comes.
  if (!m_list->currentIndex().isValid() || m_list->currentIndex().row() == m_model->rowCount() - 2)
    m_list->setCurrentIndex(m_model->index(m_model->rowCount() - 1));
}

void CNetworkCheckDialog::Finish(bool complete) {
  m_running = false;
  const QString counts = QStringLiteral("%1 pass, %2 warn, %3 fail")
                             .arg(m_model->Count(CheckStatus::kPass))
                             .arg(m_model->Count(CheckStatus::kWarn))
                             .arg(m_model->Count(CheckStatus::kFail));
  m_summary->setText(complete ? QStringLiteral("Network check: ") + counts
                              : QStringLiteral("Stopped before the end: ") + counts);
  ApplyRunButton();
}

void CNetworkCheckDialog::SetWindowBusy(bool busy) {
  m_windowBusy = busy;
  ApplyRunButton();
}

void CNetworkCheckDialog::ApplyRunButton() {
  m_runAgain->setEnabled(!m_running && !m_windowBusy);
}
