#pragma once
// Journals each result of the window's device commands with the interface
// the command used: to the journal file, and to the system journal when
// asked. The station's updates are journalled as its own program's.

#include <atomic>
#include <functional>
#include <optional>
#include <string>

#include "app/quorvik_dlg.h"
#include "records/journal.h"
#include "records/system_journal.h"

namespace quorvik {

class CWindowJournal : public IResultSink {
 public:
  // `onProblem` hears each time the file cannot take a line; `station`
  // is set while the station runs.
  CWindowJournal(const std::string& path, bool systemJournal, const CQuorvikDlg& logic,
                 const std::atomic<bool>& station,
                 std::function<void(const FileProblem&)> onProblem);
  void OnResult(const CommandResult& result) override;
  bool OnStarted(const CommandResult& result) override;

 private:
  // The program the journals name.
  std::string Program() const;

  const CQuorvikDlg& m_logic;
  const std::atomic<bool>& m_station;
  std::optional<CJournalSink> m_sink;
  std::optional<CSystemJournalSink> m_systemSink;
};

}  // namespace quorvik
