#pragma once
// The main window put together: widgets, the logic that drives them, the
// command thread it runs on and the clock of its waits. Every control that
// starts a command is one line in WireCommands.

#include <QMetaObject>
#include <QObject>
#include <QPointer>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/qt/cancellable_clock.h"
#include "app/qt/command_runner.h"
#include "app/qt/fleet_dialog.h"
#include "app/qt/network_check_dialog.h"
#include "app/qt/qt_main_view.h"
#include "app/qt/recover_dialog.h"
#include "app/qt/roll_call_panel.h"
#include "app/qt/station_dialog.h"
#include "app/quorvik_dlg.h"
#include "commands/network.h"
#include "diagnostics/network_check.h"
#include "net/instance_lock.h"
#include "records/journal.h"
#include "records/system_journal.h"

struct QuorvikWindowOptions {
  // Below 1, the protocol's waits run faster (tests).
  double timeScale = 1.0;
  // Does the waiting instead of real time when given (tests).
  IClock* innerClock = nullptr;
  // Ends the acknowledgement waits of a command that the closing window
  // interrupts.
  std::function<void()> abortReplyWaits;
  // Where the results of device commands are journalled; empty: nowhere.
  std::string journalPath;
  // Whether they go to the system journal too (the program; tests leave
  // the machine's journal alone).
  bool systemJournal = false;
  // A rig file that the roll-call opens with at start; empty: none.
  std::string rollCallRig;
  // A firmware file the station opens with at start; empty: none.
  std::string stationFile;
  // Runs the network check (tests play one).
  std::function<std::vector<CheckResult>(const NetworkCheckRequest&, IClock&,
                                         const std::function<void(const CheckResult&)>&)>
      networkCheck = RunNetworkCheck;
};

// Takes the devices' ports for the window; while another program holds
// them, says who in a message box and gives nothing.
std::unique_ptr<CInstanceLock> TakeNetworkOrSay(QWidget* parent);

class CQuorvikWindow {
 public:
  explicit CQuorvikWindow(INetwork& network, QuorvikWindowOptions options = {});
  ~CQuorvikWindow();
  CQuorvikWindow(const CQuorvikWindow&) = delete;
  CQuorvikWindow& operator=(const CQuorvikWindow&) = delete;

  // Shows the window and runs the start-up search behind it.
  void Start();
  // Ends a running command at its next wait and waits for the command
  // thread. Called when the window closes; no command starts afterwards.
  void Shutdown();

  // The roll-call beside the window, made on first use, compared with the
  // last refresh of the list and with every one after it.
  CRollCallPanel* OpenRollCall();
  // Merges what the list shows into the rig file at `path`.
  RigSave SaveRigAs(const std::string& path);

  CQtMainView& view() { return *m_view; }
  CQuorvikDlg& dlg() { return m_dlg; }
  bool IsRunningCommand() const { return m_view->IsBusy(); }
  // The network check's dialog while it is open.
  CNetworkCheckDialog* networkCheckDialog() const { return m_checkDialog; }
  // "Update all...": the file, a search and the plan, as a command; then
  // the dialog that shows the plan and runs it.
  void OpenFleetPlan();
  CFleetDialog* fleetDialog() const { return m_fleetDialog; }
  // "Recover...": the devices left half-updated, beside the window.
  void OpenRecover();
  CRecoverDialog* recoverDialog() const { return m_recoverDialog; }
  // "Station...": the production bench beside the window, with `path`
  // chosen when given.
  CStationDialog* OpenStation(const std::string& path = {});
  CStationDialog* stationDialog() const { return m_stationDialog; }

 private:
  void WireCommands();
  // Opens the network check's dialog, or brings it forward, and runs the
  // check unless a command is running.
  void OpenNetworkCheck();
  void StartNetworkCheck();
  void StopNetworkCheck();
  void ShowFleetPlan(const FleetPreparation& prepared, int atOnce);
  // The chosen devices of the plan shown, as one command.
  void StartFleet();
  // Says once per run that the journal cannot take the results.
  void SayJournalProblem(const FileProblem& problem);
  // Hands `handler` to the command thread, unless a command is running.
  template <typename Result>
  void Run(Result (CQuorvikDlg::*handler)());
  // Hands `command` to the command thread as Run does, with the keys held
  // at its start; false when a command is running.
  bool RunCommand(std::function<void()> command, Qt::KeyboardModifiers modifiers);
  template <typename Sender, typename Signal, typename Result>
  void On(Sender* sender, Signal signal, Result (CQuorvikDlg::*handler)()) {
    QObject::connect(sender, signal, m_view.get(), [this, handler] { Run(handler); });
  }

  QuorvikWindowOptions m_options;
  CCancellableClock m_clock;
  std::unique_ptr<CQtMainView> m_view;
  CQuorvikDlg m_dlg;
  // Journals each result with the interface the command used.
  class CJournalForWindow : public IResultSink {
   public:
    CJournalForWindow(CQuorvikWindow& window, const std::string& path, bool systemJournal);
    void OnResult(const CommandResult& result) override;
    bool OnStarted(const CommandResult& result) override;

   private:
    // The program the journals name: the station's updates as its own.
    std::string Program() const;

    CQuorvikWindow& m_window;
    std::optional<CJournalSink> m_sink;
    std::optional<CSystemJournalSink> m_systemSink;
  };
  std::optional<CJournalForWindow> m_journal;
  // Hands each refresh of the list to the window thread, where the last
  // one is kept for the rig and the roll-call.
  class CListedForWindow : public IListObserver {
   public:
    explicit CListedForWindow(CQuorvikWindow& window) : m_window(window) {}
    void OnDevicesListed(const ListedDevices& listed) override;
    // On the window's thread, once the panel has what was listed.
    std::function<void()> afterShown;

   private:
    CQuorvikWindow& m_window;
  };
  void ChooseRigToSave();
  // The devices that answer in their loader and whose last journal line is
  // an unfinished start: looked for after the first search, and after
  // every later one while any was found or the recover dialog is open.
  void LookForHalfUpdated();
  // The listed row of a half-updated device now (in its loader), or -1.
  int ListedLoaderRow(const UnfinishedUpdate& device) const;
  void WriteSameFileAgain(const UnfinishedUpdate& device);
  void RunHalfUpdated(const UnfinishedUpdate& device);
  bool m_lookedForHalfUpdated = false;
  std::vector<UnfinishedUpdate> m_halfUpdated;
  QPointer<CRecoverDialog> m_recoverDialog;
  // A device the roll-call names is selected in the list, as a click would.
  void SelectListedRow(int row);
  CListedForWindow m_listedForWindow{*this};
  std::optional<ListedDevices> m_lastListed;
  QPointer<CRollCallPanel> m_rollCall;
  std::atomic<bool> m_journalProblemSaid{false};
  QPointer<CNetworkCheckDialog> m_checkDialog;
  QPointer<CFleetDialog> m_fleetDialog;
  // The plan the fleet dialog shows, with the bytes its run writes.
  std::optional<FleetPreparation> m_fleetPlan;
  // Set by "Stop after this device", read by the run between devices.
  std::shared_ptr<std::atomic<bool>> m_fleetStop;
  // The running check's own clock: closing its dialog ends that check, and
  // the window's clock stays usable for the commands after it.
  std::shared_ptr<CCancellableClock> m_checkClock;
  // The station (quorvik_window_station.cpp): its run as one command.
  void StartStation();
  QPointer<CStationDialog> m_stationDialog;
  std::shared_ptr<std::atomic<bool>> m_stationStop;
  // Its updates are journalled as the station's.
  std::atomic<bool> m_stationRunning{false};
  CCommandRunner m_runner;  // last: its thread ends before the rest goes
  bool m_shutDown = false;
};
