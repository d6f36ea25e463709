#include "app/qt/quorvik_window.h"

#include <unistd.h>
#include <QAction>
#include <QComboBox>
#include <QFile>
#include <QFileDialog>
#include <QGuiApplication>
#include <QMessageBox>
#include <QMetaObject>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>

#include "app/qt/beside_window.h"
#include "app/qt/history_dialog.h"
#include "app/qt/network_check_dialog.h"
#include "net/reply_state.h"
#include "records/recovery.h"

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
    m_journal.emplace(*this, m_options.journalPath, m_options.systemJournal);
    m_dlg.SetJournal(&*m_journal);
  }
  m_listedForWindow.afterShown = [this] { LookForHalfUpdated(); };
  m_dlg.SetListObserver(&m_listedForWindow);
  WireCommands();
}

CRollCallPanel* CQuorvikWindow::OpenRollCall() {
  if (!m_rollCall) {
    m_rollCall = new CRollCallPanel(m_view.get());
    m_rollCall->setAttribute(Qt::WA_DeleteOnClose);
    if (m_lastListed) m_rollCall->ShowListed(*m_lastListed);
    QObject::connect(m_rollCall, &CRollCallPanel::listedDeviceChosen, m_view.get(),
                     [this](int row) { SelectListedRow(row); });
    // As tall as the window, its groups beside the list they compare.
    m_rollCall->resize(m_rollCall->width(), m_view->height());
    PlaceBesideWindow(m_rollCall, m_view.get());
  }
  m_rollCall->show();
  m_rollCall->raise();
  m_rollCall->activateWindow();
  return m_rollCall;
}

RigSave CQuorvikWindow::SaveRigAs(const std::string& path) {
  const RigSave save =
      SaveRig(path, m_lastListed ? m_lastListed->records : std::vector<DeviceRecord>{});
  if (save.problem.empty() && m_rollCall && m_rollCall->rigPath() == path)
    m_rollCall->LoadRig(path);
  return save;
}

void CQuorvikWindow::ChooseRigToSave() {
  QFileDialog dialog(m_view.get(), QStringLiteral("Save as rig"));
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  // An existing rig is merged into, never replaced: nothing to confirm.
  dialog.setOption(QFileDialog::DontConfirmOverwrite);
  dialog.setDefaultSuffix(QStringLiteral("json"));
  dialog.setNameFilters({QStringLiteral("Rig files (*.json)"), QStringLiteral("All files (*)")});
  dialog.selectFile(m_rollCall && !m_rollCall->rigPath().empty()
                        ? QFile::decodeName(m_rollCall->rigPath().c_str())
                        : QStringLiteral("rig.json"));
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
  const std::string path = QFile::encodeName(dialog.selectedFiles().front()).toStdString();
  const RigSave save = SaveRigAs(path);
  const bool saved = save.problem.empty();
  QMessageBox box(
      saved ? QMessageBox::Information : QMessageBox::Warning,
      QString::fromLatin1(kMessageBoxTitle),
      saved ? QStringLiteral("The rig is saved.") : QStringLiteral("The rig is not saved."),
      QMessageBox::Ok, m_view.get());
  box.setInformativeText(
      saved ? QStringLiteral("%1: %2").arg(QFile::decodeName(path.c_str()),
                                           QString::fromStdString(RigSaveSummary(save.merge)))
            : QString::fromUtf8(save.problem.c_str()));
  box.exec();
}

void CQuorvikWindow::SelectListedRow(int row) {
  if (m_shutDown || m_view->IsBusy() || row >= m_view->deviceList()->topLevelItemCount()) return;
  m_view->SelectRow(row);
  Run(&CQuorvikDlg::OnDeviceListClick);
}

CQuorvikWindow::CJournalForWindow::CJournalForWindow(CQuorvikWindow& window,
                                                     const std::string& path, bool systemJournal)
    : m_window(window) {
  const JournalContext context{HostName(), "quorvik", ""};
  if (!path.empty()) {
    m_sink.emplace(CJournal(path), context);
    m_sink->onProblem = [this](const FileProblem& problem) { m_window.SayJournalProblem(problem); };
  }
  if (systemJournal) m_systemSink.emplace(context);
}

std::string CQuorvikWindow::CJournalForWindow::Program() const {
  return m_window.m_stationRunning ? "quorvik station" : "quorvik";
}

void CQuorvikWindow::CJournalForWindow::OnResult(const CommandResult& result) {
  // Runs on the command thread, as the command that used the address. The
  // file first: its line is on disk before the system journal hears of it.
  const std::string address = m_window.m_dlg.openAddress();
  const std::string program = Program();
  if (m_sink) {
    m_sink->SetProgram(program);
    m_sink->SetInterface(address);
    m_sink->OnResult(result);
  }
  if (m_systemSink) {
    m_systemSink->SetProgram(program);
    m_systemSink->SetInterface(address);
    m_systemSink->OnResult(result);
  }
}

bool CQuorvikWindow::CJournalForWindow::OnStarted(const CommandResult& result) {
  // Only the journal file keeps starts: they are what finds a device left
  // half-updated again. The window says once that the file fails and goes
  // on, as it does for the lines that end commands.
  if (m_sink) {
    m_sink->SetProgram(Program());
    m_sink->SetInterface(m_window.m_dlg.openAddress());
    m_sink->OnStarted(result);
  }
  return true;
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
  QObject::connect(v->saveRigAction(), &QAction::triggered, v, [this] { ChooseRigToSave(); });
  QObject::connect(v->rollCallAction(), &QAction::triggered, v, [this] { OpenRollCall(); });
  QObject::connect(v->stationAction(), &QAction::triggered, v, [this] { OpenStation(); });
  QObject::connect(v->updateAllAction(), &QAction::triggered, v, [this] { OpenFleetPlan(); });
  // Only reads the journal: it opens beside the window, not over it.
  QObject::connect(v->historyAction(), &QAction::triggered, v, [this] {
    auto* history = new CHistoryDialog(m_options.journalPath, m_view.get());
    history->setAttribute(Qt::WA_DeleteOnClose);
    PlaceBesideWindow(history, m_view.get());
    history->show();
  });
  QObject::connect(v, &CQtMainView::networkCheckRequested, v, [this] { OpenNetworkCheck(); });
  QObject::connect(v, &CQtMainView::recoverRequested, v, [this] { OpenRecover(); });
  // A command's own searches find its device in its loader with its start
  // not yet ended: the devices are looked for again once it is over.
  QObject::connect(v, &CQtMainView::busyChanged, v, [this](bool busy) {
    if (!busy) LookForHalfUpdated();
  });
}

void CQuorvikWindow::LookForHalfUpdated() {
  if (m_shutDown || m_view->IsBusy() || !m_lastListed || m_options.journalPath.empty()) return;
  if (m_lookedForHalfUpdated && m_halfUpdated.empty() && !m_recoverDialog) return;
  m_lookedForHalfUpdated = true;
  const JournalRead read = ReadJournal(m_options.journalPath);
  m_halfUpdated = FindUnfinishedUpdates(read.records, m_lastListed->records).halfUpdated;
  m_view->ShowHalfUpdated(static_cast<int>(m_halfUpdated.size()));
  if (m_recoverDialog) m_recoverDialog->SetDevices(m_halfUpdated);
}

void CQuorvikWindow::OpenRecover() {
  if (m_shutDown) return;
  if (!m_recoverDialog) {
    m_recoverDialog = new CRecoverDialog(m_view.get());
    m_recoverDialog->setAttribute(Qt::WA_DeleteOnClose);
    m_recoverDialog->SetWindowBusy(m_view->IsBusy());
    QObject::connect(m_view.get(), &CQtMainView::busyChanged, m_recoverDialog,
                     &CRecoverDialog::SetWindowBusy);
    QObject::connect(m_recoverDialog, &CRecoverDialog::writeAgainRequested, m_view.get(),
                     [this](const UnfinishedUpdate& device) { WriteSameFileAgain(device); });
    QObject::connect(m_recoverDialog, &CRecoverDialog::runRequested, m_view.get(),
                     [this](const UnfinishedUpdate& device) { RunHalfUpdated(device); });
    m_recoverDialog->SetDevices(m_halfUpdated);
    PlaceBesideWindow(m_recoverDialog, m_view.get(), m_recoverDialog->LeastSize());
  }
  m_recoverDialog->show();
  m_recoverDialog->raise();
  m_recoverDialog->activateWindow();
}

int CQuorvikWindow::ListedLoaderRow(const UnfinishedUpdate& device) const {
  return m_lastListed ? ::ListedLoaderRow(m_lastListed->records, device.record) : -1;
}

void CQuorvikWindow::WriteSameFileAgain(const UnfinishedUpdate& device) {
  if (m_shutDown || m_view->IsBusy()) return;
  // Checked again now: the file may have changed since the dialog opened.
  std::string problem;
  auto checked = std::make_shared<const FirmwareFileRead>(ReadRecordedFile(device, problem));
  const int row = ListedLoaderRow(device);
  if (problem.empty() && row < 0) problem = "The device no longer answers in its loader.";
  if (!problem.empty()) {
    m_view->ShowDetailedMessage("The same file is not written again.", problem);
    LookForHalfUpdated();
    return;
  }
  RunCommand(
      [this, row, path = device.file, checked] { m_dlg.WriteSameFileAgain(row, path, *checked); },
      QGuiApplication::keyboardModifiers());
}

void CQuorvikWindow::RunHalfUpdated(const UnfinishedUpdate& device) {
  if (m_shutDown || m_view->IsBusy()) return;
  const int row = ListedLoaderRow(device);
  if (row < 0) {
    m_view->ShowDetailedMessage("The application is not started.",
                                "The device no longer answers in its loader.");
    LookForHalfUpdated();
    return;
  }
  RunCommand([this, row] { m_dlg.StartHalfUpdated(row); }, QGuiApplication::keyboardModifiers());
}

void CQuorvikWindow::OpenNetworkCheck() {
  if (m_shutDown) return;
  if (!m_checkDialog) {
    // Beside the window, not over it: its advice stays in view while the
    // operator acts on it and searches again.
    m_checkDialog = new CNetworkCheckDialog(m_view.get());
    m_checkDialog->setAttribute(Qt::WA_DeleteOnClose);
    m_checkDialog->SetWindowBusy(m_view->IsBusy());
    QObject::connect(m_checkDialog, &CNetworkCheckDialog::runRequested, m_view.get(),
                     [this] { StartNetworkCheck(); });
    QObject::connect(m_checkDialog, &QDialog::finished, m_view.get(),
                     [this] { StopNetworkCheck(); });
    QObject::connect(m_view.get(), &CQtMainView::busyChanged, m_checkDialog,
                     &CNetworkCheckDialog::SetWindowBusy);
    PlaceBesideWindow(m_checkDialog, m_view.get());
  }
  m_checkDialog->show();
  m_checkDialog->raise();
  m_checkDialog->activateWindow();
  if (!m_checkDialog->IsRunning()) StartNetworkCheck();
}

void CQuorvikWindow::StartNetworkCheck() {
  // The check searches on the devices' ports: during a command it would
  // take acknowledgements meant for that command. So it is a command of its
  // own, and it waits for none.
  if (m_shutDown || m_view->IsBusy() || !m_checkDialog) return;
  auto clock = std::make_shared<CCancellableClock>(m_options.timeScale, m_options.innerClock);
  m_checkClock = clock;
  QPointer<CNetworkCheckDialog> dialog = m_checkDialog;
  CQtMainView* view = m_view.get();
  const auto toDialog = [view, dialog](std::function<void(CNetworkCheckDialog&)> show) {
    QMetaObject::invokeMethod(
        view,
        [dialog, show = std::move(show)] {
          if (dialog) show(*dialog);
        },
        Qt::QueuedConnection);
  };
  auto complete = std::make_shared<std::atomic<bool>>(false);
  auto check = [this, clock, toDialog, complete] {
    // On the command thread, where the address and the settings path
    // belong.
    NetworkCheckRequest request;
    request.caller = CheckCaller::kWindow;
    request.requestedAddress = m_dlg.openAddress();
    if (!m_dlg.iniPath().empty())
      request.storedAddress = CSettingsFile(m_dlg.iniPath()).Read(kSettingsSection, kKeySelectedIp);
    m_options.networkCheck(request, *clock, [&](const CheckResult& result) {
      toDialog([result](CNetworkCheckDialog& d) { d.Add(result); });
      // Steps without a wait (the process scan, the rule listings) end
      // here once the dialog is closed.
      if (clock->IsCancelled()) throw CCommandCancelled{};
    });
    *complete = true;
  };
  auto release = [view, toDialog, complete] {
    toDialog([complete](CNetworkCheckDialog& d) { d.Finish(*complete); });
    QMetaObject::invokeMethod(
        view, [view] { view->SetBusy(false); }, Qt::QueuedConnection);
  };
  dialog->Begin();
  // Ending a check leaves nothing half-done: the window closes without
  // asking.
  m_view->SetBusy(true, false);
  if (!m_runner.Post(check, release)) {
    m_view->SetBusy(false);
    dialog->Finish(false);
  }
}

void CQuorvikWindow::StopNetworkCheck() {
  if (m_checkClock) m_checkClock->Cancel();
}

void CQuorvikWindow::Start() {
  m_view->show();
  // A bare X server (no window manager) gives the keyboard to no window:
  // the window asks for it, or its Alt keys would wait for a click and its
  // keys for the pointer.
  m_view->activateWindow();
  Run(&CQuorvikDlg::OnInitDialog);
  if (!m_options.rollCallRig.empty())
    QTimer::singleShot(0, m_view.get(),
                       [this] { OpenRollCall()->LoadRigOrSay(m_options.rollCallRig); });
  if (!m_options.stationFile.empty())
    QTimer::singleShot(0, m_view.get(), [this] { OpenStation(m_options.stationFile); });
  // Said before the first command needs it, and without holding up the
  // start-up search.
  if (!m_options.journalPath.empty())
    if (const auto problem = CJournal(m_options.journalPath).CheckWritable())
      QTimer::singleShot(0, m_view.get(),
                         [this, problem = *problem] { SayJournalProblem(problem); });
}

template <typename Result>
void CQuorvikWindow::Run(Result (CQuorvikDlg::*handler)()) {
  RunCommand([this, handler] { (m_dlg.*handler)(); }, QGuiApplication::keyboardModifiers());
}

bool CQuorvikWindow::RunCommand(std::function<void()> command, Qt::KeyboardModifiers modifiers) {
  if (m_shutDown || m_view->IsBusy()) return false;
  m_view->NoteModifiers(modifiers);
  m_view->SetBusy(true);
  CQtMainView* view = m_view.get();
  // Queued behind every view change of the command, so it lands last.
  auto release = [view] {
    QMetaObject::invokeMethod(
        view, [view] { view->SetBusy(false); }, Qt::QueuedConnection);
  };
  const bool posted = m_runner.Post(std::move(command), release);
  if (!posted) m_view->SetBusy(false);
  return posted;
}

namespace {

// Hands a step made on another thread to `dialog` on the window's thread,
// after the steps posted before it; nothing once the dialog has closed.
template <typename Dialog>
void PostToDialog(QObject* context, const QPointer<Dialog>& dialog,
                  std::function<void(Dialog&)> show) {
  QMetaObject::invokeMethod(
      context,
      [dialog, show = std::move(show)] {
        if (dialog) show(*dialog);
      },
      Qt::QueuedConnection);
}

// Hands each step of a run, made on the command thread or in one of the
// run's lanes, to the dialog on the window thread, in the order the steps
// were made. The run lets one lane at a time tell its steps.
class CFleetForDialog : public IFleetObserver {
 public:
  CFleetForDialog(QObject* context, QPointer<CFleetDialog> dialog)
      : m_context(context), m_dialog(std::move(dialog)) {}
  void Post(std::function<void(CFleetDialog&)> show) const {
    PostToDialog(m_context, m_dialog, std::move(show));
  }
  void OnDeviceStarted(size_t device, int attempt) override {
    Post([=](CFleetDialog& d) { d.DeviceStarted(device, attempt); });
  }
  void OnBlocksWritten(size_t device, uint32_t done, uint32_t total) override {
    Post([=](CFleetDialog& d) { d.BlocksWritten(device, done, total); });
  }
  void OnDeviceFinished(size_t device, const CommandResult& result, bool updated) override {
    Post([=](CFleetDialog& d) { d.DeviceFinished(device, result, updated); });
  }
  void OnDeviceNotReached(size_t device, const CommandResult& result) override {
    OnDeviceFinished(device, result, false);
  }
  void OnStoppedBeforeTurn(size_t device) override {
    Post([=](CFleetDialog& d) { d.StoppedBeforeTurn(device); });
  }

 private:
  QObject* m_context;
  QPointer<CFleetDialog> m_dialog;
};

}  // namespace

void CQuorvikWindow::OpenFleetPlan() {
  CQtMainView* view = m_view.get();
  RunCommand(
      [this, view] {
        std::optional<FleetPreparation> prepared = m_dlg.PrepareFleet();
        if (!prepared) return;
        auto shared = std::make_shared<const FleetPreparation>(std::move(*prepared));
        // The settings file belongs to the command thread.
        const int atOnce = m_dlg.StoredFleetAtOnce(kDefaultAtOnce, kMaxAtOnce);
        QMetaObject::invokeMethod(
            view, [this, shared, atOnce] { ShowFleetPlan(*shared, atOnce); }, Qt::QueuedConnection);
      },
      QGuiApplication::keyboardModifiers());
}

void CQuorvikWindow::ShowFleetPlan(const FleetPreparation& prepared, int atOnce) {
  if (m_shutDown) return;
  const bool opening = !m_fleetDialog;
  if (opening) {
    // Beside the window: the list and the log show what each update does.
    m_fleetDialog = new CFleetDialog(m_view.get());
    m_fleetDialog->setAttribute(Qt::WA_DeleteOnClose);
    // A dialog already open keeps what the operator set in it.
    m_fleetDialog->SetAtOnce(atOnce);
    QObject::connect(m_fleetDialog, &CFleetDialog::startRequested, m_view.get(),
                     [this] { StartFleet(); });
    QObject::connect(m_fleetDialog, &CFleetDialog::stopRequested, m_view.get(), [this] {
      if (m_fleetStop) *m_fleetStop = true;
    });
    QObject::connect(m_view.get(), &CQtMainView::busyChanged, m_fleetDialog,
                     &CFleetDialog::SetWindowBusy);
  }
  m_fleetDialog->SetWindowBusy(m_view->IsBusy());
  m_fleetPlan = prepared;
  m_fleetDialog->SetPlan(prepared);
  // Once the plan has given it its width; a dialog already open stays
  // where the operator has it.
  if (opening) PlaceBesideWindow(m_fleetDialog, m_view.get(), m_fleetDialog->LeastSize());
  m_fleetDialog->show();
  m_fleetDialog->raise();
  m_fleetDialog->activateWindow();
}

void CQuorvikWindow::StartFleet() {
  if (!m_fleetDialog || !m_fleetPlan) return;
  FleetRunOptions options;
  options.chosen = m_fleetDialog->model()->Chosen();
  if (options.chosen.empty()) return;
  options.path = m_fleetPlan->path;
  options.bytes = m_fleetPlan->bytes;
  options.retries = m_fleetDialog->Retries();
  options.parallel = m_fleetDialog->AtOnce();
  options.canary = m_fleetDialog->Canary();
  auto stop = std::make_shared<std::atomic<bool>>(false);
  options.stopAfterDevice = [stop] { return stop->load(); };
  auto plan = std::make_shared<const FleetPlan>(m_fleetPlan->plan);
  CFleetForDialog observer(m_view.get(), m_fleetDialog);
  // An unattended run: Ctrl held at Start must not stop each update with
  // its message boxes.
  const bool posted = RunCommand(
      [this, plan, options = std::move(options), observer]() mutable {
        const FleetRunEnd end = m_dlg.RunFleet(*plan, options, observer);
        observer.Post([end](CFleetDialog& d) { d.Finish(end); });
      },
      Qt::NoModifier);
  if (!posted) return;
  m_fleetStop = stop;
  m_fleetDialog->Begin(m_fleetDialog->model()->Chosen());
}

void CQuorvikWindow::Shutdown() {
  if (m_shutDown) return;
  m_shutDown = true;
  // Asked before the clock lets the command unwind, which frees the runner.
  const bool interrupting = m_runner.IsBusy();
  m_clock.Cancel();
  StopNetworkCheck();
  if (m_checkDialog) m_checkDialog->close();
  if (interrupting) m_options.abortReplyWaits();
  m_view->CancelModalRequests();
  m_runner.Stop();
}

// The window's station: the dialog beside the window, its run as one
// command on the command thread, its events handed to the dialog on the
// window's thread.

namespace {

class CStationForDialog : public IStationObserver {
 public:
  CStationForDialog(QObject* context, QPointer<CStationDialog> dialog)
      : m_context(context), m_dialog(std::move(dialog)) {}
  void Post(std::function<void(CStationDialog&)> show) const {
    PostToDialog(m_context, m_dialog, std::move(show));
  }
  void OnFound(const StationUnit& unit) override {
    Post([=](CStationDialog& d) { d.Found(unit); });
  }
  void OnWriting(const StationUnit& unit, uint32_t done, uint32_t total) override {
    Post([=](CStationDialog& d) { d.Writing(unit, done, total); });
  }
  void OnDone(const StationUnit& unit, const CommandResult& result) override {
    Post([=](CStationDialog& d) { d.Done(unit, result); });
  }
  void OnIgnored(const StationUnit& unit, const std::string& why) override {
    Post([=](CStationDialog& d) { d.Ignored(unit, why); });
  }
  void OnGone(const StationUnit& unit) override {
    Post([=](CStationDialog& d) { d.Gone(unit); });
  }

 private:
  QObject* m_context;
  QPointer<CStationDialog> m_dialog;
};

}  // namespace

CStationDialog* CQuorvikWindow::OpenStation(const std::string& path) {
  if (!m_stationDialog) {
    m_stationDialog = new CStationDialog(m_view.get());
    m_stationDialog->setAttribute(Qt::WA_DeleteOnClose);
    m_stationDialog->SetWindowBusy(m_view->IsBusy());
    QObject::connect(m_view.get(), &CQtMainView::busyChanged, m_stationDialog,
                     &CStationDialog::SetWindowBusy);
    QObject::connect(m_stationDialog, &CStationDialog::startRequested, m_view.get(),
                     [this] { StartStation(); });
    QObject::connect(m_stationDialog, &CStationDialog::stopRequested, m_view.get(), [this] {
      if (m_stationStop) *m_stationStop = true;
    });
    // The tones the window's commands sound: high for PASS, the alert for FAIL.
    QObject::connect(m_stationDialog, &CStationDialog::verdict, m_view.get(), [this](bool pass) {
      m_view->PlayTone(pass ? kSerialToneHz : kBeepFrequencyHz,
                       static_cast<int>(kBeepLength.count()));
    });
    PlaceBesideWindow(m_stationDialog, m_view.get());
  }
  if (!path.empty()) m_stationDialog->ChooseFile(path);
  m_stationDialog->show();
  m_stationDialog->raise();
  m_stationDialog->activateWindow();
  return m_stationDialog;
}

void CQuorvikWindow::StartStation() {
  if (!m_stationDialog || m_stationDialog->running()) return;
  const StationSetup& setup = m_stationDialog->setup();
  if (!setup.bytes) return;
  StationOptions options;
  options.path = setup.path;
  options.bytes = setup.bytes;
  options.models = setup.models;
  options.parallel = setup.parallel;
  options.again = setup.again;
  auto stop = std::make_shared<std::atomic<bool>>(false);
  options.stop = [stop] { return stop->load(); };
  CStationForDialog observer(m_view.get(), m_stationDialog);
  const bool posted = RunCommand(
      [this, options = std::move(options), observer]() mutable {
        m_stationRunning = true;
        StationEnd end;
        try {
          end = m_dlg.RunStation(options, observer);
        } catch (...) {
          m_stationRunning = false;
          throw;
        }
        m_stationRunning = false;
        observer.Post([end](CStationDialog& d) { d.Finish(end); });
      },
      Qt::NoModifier);
  if (!posted) return;
  m_stationStop = stop;
  m_stationDialog->Begin();
}
