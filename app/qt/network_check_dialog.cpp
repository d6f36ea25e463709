#include "app/qt/network_check_dialog.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QListView>
#include <QPushButton>
#include <QVBoxLayout>

namespace quorvik {

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

}  // namespace quorvik
