#include "app/qt/quorvik_window.h"

#include <QAction>
#include <QComboBox>
#include <QGuiApplication>
#include <QPushButton>

#include "net/reply_state.h"

CQuorvikWindow::CQuorvikWindow(INetwork& network, QuorvikWindowOptions options)
    : m_options(std::move(options)),
      m_clock(m_options.timeScale, m_options.innerClock),
      m_view(std::make_unique<CQtMainView>()),
      m_dlg(*m_view, network, m_clock) {
  if (!m_options.abortReplyWaits) m_options.abortReplyWaits = [] { g_replyState.AbortWaits(); };
  m_view->SetCloseHandler([this] { Shutdown(); });
  WireCommands();
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
}

void CQuorvikWindow::Start() {
  m_view->show();
  Run(&CQuorvikDlg::OnInitDialog);
}

template <typename Result>
void CQuorvikWindow::Run(Result (CQuorvikDlg::*handler)()) {
  if (m_shutDown || m_view->IsBusy()) return;
  m_view->NoteModifiers(QGuiApplication::keyboardModifiers());
  m_view->SetBusy(true);
  CQtMainView* view = m_view.get();
  // Queued behind every view change of the command, so it lands last.
  auto release = [view] {
    QMetaObject::invokeMethod(
        view, [view] { view->SetBusy(false); }, Qt::QueuedConnection);
  };
  const bool posted = m_runner.Post([this, handler] { (m_dlg.*handler)(); }, release);
  if (!posted) m_view->SetBusy(false);
}

void CQuorvikWindow::Shutdown() {
  if (m_shutDown) return;
  m_shutDown = true;
  // Asked before the clock lets the command unwind, which frees the runner.
  const bool interrupting = m_runner.IsBusy();
  m_clock.Cancel();
  if (interrupting) m_options.abortReplyWaits();
  m_view->CancelModalRequests();
  m_runner.Stop();
}
