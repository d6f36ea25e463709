#pragma once
// The main window put together: widgets, the logic that drives them, the
// command thread it runs on and the clock of its waits, and a controller
// for each dialog beside it. Every control that starts a command is one
// line in WireCommands.

#include <atomic>
#include <memory>
#include <optional>
#include <string>

#include "app/qt/cancellable_clock.h"
#include "app/qt/command_runner.h"
#include "app/qt/fleet_controller.h"
#include "app/qt/network_check_controller.h"
#include "app/qt/qt_main_view.h"
#include "app/qt/recover_controller.h"
#include "app/qt/roll_call_controller.h"
#include "app/qt/station_controller.h"
#include "app/qt/window_commands.h"
#include "app/qt/window_journal.h"
#include "app/qt/window_options.h"
#include "app/quorvik_dlg.h"
#include "commands/network.h"
#include "net/instance_lock.h"

namespace quorvik {

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
  CRollCallPanel* OpenRollCall() { return m_rollCall.Open(); }
  // Merges what the list shows into the rig file at `path`.
  RigSave SaveRigAs(const std::string& path) { return m_rollCall.SaveAs(path); }

  CQtMainView& view() { return *m_view; }
  CQuorvikDlg& dlg() { return m_dlg; }
  bool IsRunningCommand() const { return m_view->IsBusy(); }
  // The network check's dialog while it is open.
  CNetworkCheckDialog* networkCheckDialog() const { return m_networkCheck.dialog(); }
  // "Update all...": the file, a search and the plan, as a command; then
  // the dialog that shows the plan and runs it.
  void OpenFleetPlan() { m_fleet.OpenPlan(); }
  CFleetDialog* fleetDialog() const { return m_fleet.dialog(); }
  // "Recover...": the devices left half-updated, beside the window; a new
  // one shows once the command thread is free.
  void OpenRecover() { m_recover.Open(); }
  CRecoverDialog* recoverDialog() const { return m_recover.dialog(); }
  // "Station...": the production bench beside the window, with `path`
  // chosen when given; a new one shows once the command thread is free.
  void OpenStation(const std::string& path = {}) { m_station.Open(path); }
  CStationDialog* stationDialog() const { return m_station.dialog(); }

 private:
  void WireCommands();
  // Says once per run that the journal cannot take the results.
  void SayJournalProblem(const FileProblem& problem);
  template <typename Sender, typename Signal, typename Result>
  void On(Sender* sender, Signal signal, Result (CQuorvikDlg::*handler)()) {
    QObject::connect(sender, signal, m_view.get(), [this, handler] { m_commands.Run(handler); });
  }

  QuorvikWindowOptions m_options;
  CCancellableClock m_clock;
  std::unique_ptr<CQtMainView> m_view;
  CQuorvikDlg m_dlg;
  CWindowCommands m_commands{*m_view, m_dlg, m_runner};
  // The last refresh of the list, kept for the rig, the roll-call and
  // recovery.
  std::optional<ListedDevices> m_lastListed;
  CFleetController m_fleet{m_commands};
  CRollCallController m_rollCall{m_commands, m_lastListed, m_fleet};
  CRecoverController m_recover{m_commands, m_lastListed, m_options.journalPath};
  CNetworkCheckController m_networkCheck{m_commands, m_options};
  CStationController m_station{m_commands};
  std::optional<CWindowJournal> m_journal;
  std::atomic<bool> m_journalProblemSaid{false};
  // Hands each refresh of the list to the window thread, where the last
  // one is kept for the rig and the roll-call (listed_for_window.cpp).
  class CListedForWindow : public IListObserver {
   public:
    explicit CListedForWindow(CQuorvikWindow& window) : m_window(window) {}
    void OnDevicesListed(const ListedDevices& listed) override;
    // On the window's thread, once the panel has what was listed.
    std::function<void()> afterShown;

   private:
    CQuorvikWindow& m_window;
  };
  CListedForWindow m_listedForWindow{*this};
  CCommandRunner m_runner;  // last: its thread ends before the rest goes
};

}  // namespace quorvik
