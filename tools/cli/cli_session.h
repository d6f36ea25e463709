#pragma once
// How every command of quorvik-cli that searches starts: its journal, the
// network taken and opened as the window does, the observer that follows
// the command, and where its results are kept. A command opens its session
// first and returns the refusal's exit code when that fails.

#include <atomic>
#include <istream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>

#include "commands/network.h"
#include "records/journal.h"
#include "tools/cli/cli_common.h"
#include "tools/cli/cli_observer.h"
#include "tools/cli/event_output.h"
#include "tools/cli/interrupt_watcher.h"

namespace quorvik {

class CCliSession {
 public:
  // `recordedAs`: the program that the journal and the system journal name
  // for its results; nothing for a command that only searches, which keeps
  // no record.
  CCliSession(const CliOptions& options, std::string command, CEventWriter& writer,
              const CInterrupts& interrupts,
              std::optional<std::string> recordedAs = std::string("quorvik-cli"));
  CCliSession(const CCliSession&) = delete;
  CCliSession& operator=(const CCliSession&) = delete;

  // The journal the options name, unless --no-journal. A command that
  // cannot be recorded is not started: not even a search leaves before the
  // journal is known to take its line. The exit code of the refusal, or
  // nothing when the run may go on.
  std::optional<int> OpenJournal();
  // Start-up as the window does it, up to the open network: the black-list
  // and the interface from the settings file, --iface for this run only.
  // Then the observer follows the command, its questions answered from
  // `answers` (without them, No unless the command assumes Yes), and its
  // results reach the journal opened before and the system journal. The
  // exit code when the network cannot be used.
  std::optional<int> OpenNetwork(INetwork& network, std::istream& answers);
  std::optional<int> OpenNetwork(INetwork& network) { return OpenNetwork(network, m_noAnswers); }

  // After OpenNetwork:
  CCliObserver& observer() { return *m_observer; }
  // The address of the network opened.
  const std::string& address() const { return m_address; }

  // Empty with --no-journal, and for a command that never opened it.
  const std::optional<CJournal>& journal() const { return m_journal; }
  // Whether a line of this run could not be appended to the journal; set
  // from whichever thread hands the result out.
  bool journalFailed() const { return m_journalFailed.load(); }
  void SetJournalFailed() { m_journalFailed = true; }

  // The end of a fleet or station run: its `result` event (with --json)
  // and the exit code. One that lost its journal stopped taking devices.
  // With `differs`, a run that went well exits 4 ("differs"): what it could
  // not change is not as asked.
  int EndOfRun(Outcome outcome, bool differs = false);
  const std::string& command() const { return m_command; }

 private:
  const CliOptions& m_options;
  const std::string m_command;
  CEventWriter& m_writer;
  const CInterrupts& m_interrupts;
  const std::optional<std::string> m_recordedAs;
  std::optional<CJournal> m_journal;
  std::atomic<bool> m_journalFailed{false};
  std::string m_address;
  std::unique_ptr<IResultSink> m_records;
  std::istringstream m_noAnswers;
  std::optional<CCliObserver> m_observer;
};

}  // namespace quorvik
