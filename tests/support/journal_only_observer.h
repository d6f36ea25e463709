#pragma once
// A front end that journals what it is told is decided, and shows nothing:
// an unattended run's observer for tests.

#include <string>

#include "commands/command_observer.h"
#include "commands/command_result.h"

namespace quorvik {

class CJournalOnly : public ICommandObserver {
 public:
  explicit CJournalOnly(IResultSink& journal) : m_journal(journal) {}
  void Status(const std::string&, Beep) override {}
  void Decided(const CommandResult& result) override { m_journal.OnResult(result); }
  bool Starting(const CommandResult& result) override { return m_journal.OnStarted(result); }
  void Busy(bool) override {}
  void ProgressStart(int) override {}
  void ProgressStep() override {}
  void BlockWritten(uint32_t, uint32_t) override {}
  void Inform(const std::string&) override {}
  bool AskYesNo(const std::string&) override { return false; }
  bool SearchStarting() override { return false; }
  void SearchEnded() override {}
  void Addressed(const DeviceRecord&) override {}

 private:
  IResultSink& m_journal;
};

}  // namespace quorvik
