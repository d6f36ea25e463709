#pragma once
// How quorvik-cli follows a device command: its status lines, progress and
// the list of each search go to a CEventWriter, its question is answered by
// --yes or on stdin, and its results reach the journal as they are decided.

#include <functional>
#include <istream>
#include <optional>
#include <string>

#include "commands/command_observer.h"
#include "records/listed_devices.h"
#include "tools/cli/cli_common.h"
#include "tools/cli/event_output.h"

namespace quorvik {

struct DeviceSession;

// A Yes/No question on the console: `assumeYes` answers it, else a line on
// stdin (none is No, as closing the window's box would be). The question
// is asked on stderr, so that stdout stays the report; with --json its
// answer follows as an event. While it waits for a terminal, `interrupted`
// ends the wait.
bool AskOnConsole(CEventWriter& writer, std::istream& answers, const std::string& text,
                  bool assumeYes, const std::function<bool()>& interrupted);

class CCliObserver : public ICommandObserver {
 public:
  // `devices` is the table that each search's list is read from.
  // Its waits and its question give way to `interrupts`.
  CCliObserver(CEventWriter& writer, DeviceSession& devices, std::istream& answers,
               double timeScale, const CInterrupts& interrupts);
  CCliObserver(const CCliObserver&) = delete;
  CCliObserver& operator=(const CCliObserver&) = delete;

  // The clock of the command's waits: a held status line goes out first.
  IClock& clock() { return m_clock; }
  void SetAssumeYes(bool yes) { m_assumeYes = yes; }
  // `list` shows each search as a table in text; the other commands only
  // log it (with --json every command reports it as an event).
  void SetPrintTable(bool print) { m_printTable = print; }
  void SetJournal(IResultSink* journal) { m_journal = journal; }

  // A status line without a tone is held until the next thing the command
  // shows or waits for, and a result printed meanwhile comes before it:
  // the order quorvik-cli's output has always had. Whoever ends a command
  // calls this.
  void Flush();
  // What the last search listed, row i being record i.
  const ListedDevices& listed() const { return m_listed; }

  void Status(const std::string& line, Beep beep) override;
  std::chrono::milliseconds ShowStatus(const std::string& line, Beep beep) override;
  void Decided(const CommandResult& result) override;
  bool Starting(const CommandResult& result) override;
  void Busy(bool) override {}
  void ProgressStart(int steps) override;
  void ProgressStep() override;
  void BlockWritten(uint32_t, uint32_t) override {}
  void Inform(const std::string& text) override;
  bool AskYesNo(const std::string& text) override;
  // No serial numbers are collected here: every search asks both modes.
  bool SearchStarting() override { return false; }
  void SearchEnded() override;
  void Addressed(const DeviceRecord&) override {}

 private:
  CEventWriter& m_writer;
  DeviceSession& m_devices;
  std::istream& m_answers;
  const CInterrupts& m_interrupts;
  CCliClock m_clock;
  bool m_assumeYes = false;
  bool m_printTable = false;
  IResultSink* m_journal = nullptr;
  std::optional<std::string> m_held;
  ListedDevices m_listed;
};

}  // namespace quorvik
