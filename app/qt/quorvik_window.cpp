#include "app/qt/quorvik_window.h"

#include <QAction>
#include <QComboBox>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include "app/qt/history_controller.h"

namespace quorvik {

std::unique_ptr<CInstanceLock> TakeNetworkOrSay(QWidget* parent) {
  CInstanceLock::Attempt attempt = CInstanceLock::Acquire("quorvik");
  if (attempt.lock) return std::move(attempt.lock);
  const std::string holder = attempt.holder.Describe();
  QMessageBox box(QMessageBox::Warning, QString::fromLatin1(kMessageBoxTitle),
                  QStringLiteral("Another program is using the devices' ports on this network: "
                                 "%1.")
                      .arg(QString::fromUtf8(holder.data(), qsizetype(holder.size()))),
                  QMessageBox::Ok, parent);
  box.setInformativeText(
      QStringLiteral("Two programs on one network would each take the other's answers, and two "
                     "updates of one device could both seem to succeed. Close the other program, "
                     "then start Quorvik again."));
  box.exec();
  return nullptr;
}

CQuorvikWindow::CQuorvikWindow(INetwork& network, QuorvikWindowOptions options)
    : m_options(std::move(options)),
      m_clock(m_options.timeScale, m_options.innerClock),
      m_view(std::make_unique<CQtMainView>()),
      m_dlg(*m_view, network, m_clock) {
  if (!m_options.abortReplyWaits)
    m_options.abortReplyWaits = [&network] { network.Devices().replyChannels.AbortWaits(); };
  m_view->SetCloseHandler([this] { Shutdown(); });
  if (!m_options.journalPath.empty() || m_options.systemJournal) {
    m_journal.emplace(m_options.journalPath, m_options.systemJournal, m_dlg, m_station.running(),
                      [this](const FileProblem& problem) { SayJournalProblem(problem); });
    m_dlg.SetJournal(&*m_journal);
  }
  m_listedForWindow.afterShown = [this] { m_recover.LookForHalfUpdated(); };
  m_commands.SetAfterEachCommand([this] { m_rollCall.PlanAfterCommand(); });
  m_dlg.SetListObserver(&m_listedForWindow);
  WireCommands();
}

void CQuorvikWindow::SayJournalProblem(const FileProblem& problem) {
  if (m_journalProblemSaid.exchange(true)) return;
  m_view->ShowDetailedMessage(
      "The update journal cannot be written: device commands run, but are not recorded.",
      problem.message);
}

CQuorvikWindow::~CQuorvikWindow() {
  Shutdown();
}

void CQuorvikWindow::WireCommands() {
  CQtMainView* v = m_view.get();
  On(v->button(Button::kFind), &QPushButton::clicked, &CQuorvikDlg::OnFind);
  On(v->button(Button::kFirmwareUpdate), &QPushButton::clicked, &CQuorvikDlg::OnFirmwareUpdate);
  On(v->button(Button::kFactoryReset), &QPushButton::clicked, &CQuorvikDlg::OnFactoryReset);
  On(v->testButton(), &QPushButton::clicked, &CQuorvikDlg::OnTest);
  On(v->networkCombo(), &QComboBox::activated, &CQuorvikDlg::OnNetworkSelChange);
  On(v, &CQtMainView::webLinkClicked, &CQuorvikDlg::OnWebLink);
  On(v, &CQtMainView::deviceListClicked, &CQuorvikDlg::OnDeviceListClick);
  On(v, &CQtMainView::deviceListDoubleClicked, &CQuorvikDlg::OnDeviceListDblClick);
  On(v, &CQtMainView::deviceListRightClicked, &CQuorvikDlg::OnDeviceListRightClick);
  On(v->runApplicationAction(), &QAction::triggered, &CQuorvikDlg::OnRunApplication);
  On(v->activateBootloaderAction(), &QAction::triggered, &CQuorvikDlg::OnActivateBootloader);
  On(v->addToBlackListAction(), &QAction::triggered, &CQuorvikDlg::OnAddToBlackList);
  On(v->showBlackListAction(), &QAction::triggered, &CQuorvikDlg::OnShowBlackList);
  QObject::connect(v->saveRigAction(), &QAction::triggered, v,
                   [this] { m_rollCall.ChooseRigToSave(); });
  QObject::connect(v->rollCallAction(), &QAction::triggered, v, [this] { m_rollCall.Open(); });
  QObject::connect(v->stationAction(), &QAction::triggered, v, [this] { m_station.Open(); });
  QObject::connect(v->updateAllAction(), &QAction::triggered, v, [this] { m_fleet.OpenPlan(); });
  QObject::connect(v->historyAction(), &QAction::triggered, v,
                   [this] { OpenHistory(*m_view, m_options.journalPath); });
  QObject::connect(v, &CQtMainView::networkCheckRequested, v, [this] { m_networkCheck.Open(); });
  QObject::connect(v, &CQtMainView::recoverRequested, v, [this] { m_recover.Open(); });
  // A command's own searches find its device in its loader with its start
  // not yet ended: the devices are looked for again once it is over.
  QObject::connect(v, &CQtMainView::busyChanged, v, [this](bool busy) {
    if (!busy) m_recover.LookForHalfUpdated();
  });
}

void CQuorvikWindow::Start() {
  m_view->show();
  // A bare X server (no window manager) gives the keyboard to no window:
  // the window asks for it, or its Alt keys would wait for a click and its
  // keys for the pointer.
  m_view->activateWindow();
  m_commands.Run(&CQuorvikDlg::OnInitDialog);
  if (!m_options.rollCallRig.empty())
    QTimer::singleShot(0, m_view.get(),
                       [this] { m_rollCall.Open()->LoadRigOrSay(m_options.rollCallRig); });
  if (!m_options.stationFile.empty())
    QTimer::singleShot(0, m_view.get(), [this] { m_station.Open(m_options.stationFile); });
  // Said before the first command needs it, and without holding up the
  // start-up search.
  if (!m_options.journalPath.empty())
    if (const auto problem = CJournal(m_options.journalPath).CheckWritable())
      QTimer::singleShot(0, m_view.get(),
                         [this, problem = *problem] { SayJournalProblem(problem); });
}

void CQuorvikWindow::Shutdown() {
  if (m_commands.closed()) return;
  m_commands.Close();
  // Asked before the clock lets the command unwind, which frees the runner.
  const bool interrupting = m_runner.IsBusy();
  m_clock.Cancel();
  m_networkCheck.Close();
  if (interrupting) m_options.abortReplyWaits();
  m_view->CancelModalRequests();
  m_runner.Stop();
}

}  // namespace quorvik
