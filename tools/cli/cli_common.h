#pragma once
// What every command of quorvik-cli shares: its options, its clock, how a
// run is refused or ends, and how its results are printed.

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "commands/clock.h"
#include "commands/command_result.h"
#include "commands/network.h"
#include "commands/readiness.h"
#include "net/instance_lock.h"
#include "net/interfaces.h"
#include "records/journal.h"
#include "records/settings_file.h"
#include "tools/cli/device_selection.h"
#include "tools/cli/event_output.h"
#include "tools/cli/interrupt_watcher.h"

namespace quorvik {

constexpr int kExitUsage = 2;
// Some rig device is changed, missing or not at its declared firmware, or a
// listed device is not in the rig: a script checking a rig before a show
// stops on it.
constexpr int kExitRollCallDiffers = 4;

struct CliOptions {
  std::string iface;  // overrides SELECTED_IP for this run only; "all": every card
  bool all = false;   // update: every listed device (a fleet)
  bool dryRun = false;
  int retries = 0;
  // Devices written at once by `update --all`; each lane sends about 90
  // requests of at most 554 bytes a second.
  int parallel = 8;
  // Devices of `update --all` updated first, on their own: the rest follow
  // only when each of them ended ok and came back running.
  int canary = 0;
  // `update --all`, `station` and `recover --yes` go on when the device
  // answers; with fixedWaits they make the one-device update's pauses.
  bool fixedWaits = false;
  int settleMs = static_cast<int>(kDefaultSettle.count());
  std::vector<uint16_t> models;
  bool yes = false;
  double timeScale = 1.0;
  DeviceSelector selector;
  std::string file;
  bool chain = false;
  int maxDevices = 0;          // 0: no limit
  double waitLockSeconds = 0;  // how long to wait for another program's ports
  std::string journal;         // --journal
  bool noJournal = false;
  bool noSyslog = false;   // --no-syslog: nothing to the system journal
  std::string saveRig;     // list: merge what it listed into this rig file
  bool porcelain = false;  // station: only the lines for test equipment on stdout
  bool once = false;       // station: end after the first batch of units
  bool skipDone = false;   // station: leave alone units the journal shows done (the default)
  bool again = false;      // station: flash units done with this file before again
};

// Every wait of a command, scaled (tests run the protocol's seconds-long
// waits shorter) and interruptible. `beforeWait` writes a held status line
// first, so that nothing sits unprinted for seconds.
class CCliClock : public IClock {
 public:
  // `beforeWait` runs before each wait of the thread that makes the clock
  // (it shows the line held back for the command's front end); the waits of
  // a fleet's lanes and of the station's listener leave it to that thread.
  CCliClock(double scale, const CInterrupts& interrupts, std::function<void()> beforeWait = {})
      : m_scale(scale),
        m_interrupts(interrupts),
        m_beforeWait(std::move(beforeWait)),
        m_owner(std::this_thread::get_id()) {}
  void SleepFor(std::chrono::milliseconds duration) override;
  bool Interrupted() const override { return m_interrupts.Interrupted(); }

 private:
  double m_scale;
  const CInterrupts& m_interrupts;
  std::function<void()> m_beforeWait;
  std::thread::id m_owner;
};

// The window's settings file, found by the window's rule.
CSettingsFile UserSettings();

// The entry of the window's combo that start-up selects: the requested
// address when given (nothing when no interface holds it), else the stored
// one, else the first. "All networks" (kAllNetworks) is the entry after the
// cards, `interfaces.count`.
std::optional<int> ChooseInterfaceIndex(const InterfaceList& interfaces, const std::string& stored,
                                        const std::string& requested);

// The `result` event every run ends with.
nlohmann::json ResultEvent(const std::string& command, Outcome outcome);
// A run whose results did not all reach the journal exits 2 even where the
// devices did what was asked: its record is incomplete. A device's own
// failure or an interruption keeps its code.
int JournalAwareExitCode(Outcome outcome, bool journalIncomplete);

// Reports a run that cannot start (bad usage, a busy network): an `error`
// event, then the `result` event. Returns the exit code.
int Refuse(CEventWriter& writer, const std::string& command, const std::string& why,
           Outcome outcome = Outcome::kRefused, const std::vector<std::string>& details = {});

// Takes the devices' ports for this program, waiting as the options allow.
// Nothing, and the run refused, while another program holds them.
std::unique_ptr<CInstanceLock> TakeNetwork(const CliOptions& options, const std::string& command,
                                           CEventWriter& writer, int& exitCode);

// Prints each result the moment the logic hands it out, and keeps it.
class CResultPrinter : public IResultSink {
 public:
  explicit CResultPrinter(CEventWriter& writer) : m_writer(writer) {}
  void OnResult(const CommandResult& result) override;
  std::vector<CommandResult> results;

 private:
  CEventWriter& m_writer;
};

// The waits the options ask for.
inline Waits WaitsOf(const CliOptions& options) {
  return Waits{!options.fixedWaits, std::chrono::milliseconds(options.settleMs)};
}

}  // namespace quorvik
