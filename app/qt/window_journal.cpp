#include "app/qt/window_journal.h"

namespace quorvik {

CWindowJournal::CWindowJournal(const std::string& path, bool systemJournal,
                               const CQuorvikDlg& logic, const std::atomic<bool>& station,
                               std::function<void(const FileProblem&)> onProblem)
    : m_logic(logic), m_station(station) {
  const JournalContext context{HostName(), "quorvik", ""};
  if (!path.empty()) {
    m_sink.emplace(CJournal(path), context);
    m_sink->onProblem = std::move(onProblem);
  }
  if (systemJournal) m_systemSink.emplace(context);
}

std::string CWindowJournal::Program() const {
  return m_station ? "quorvik station" : "quorvik";
}

void CWindowJournal::OnResult(const CommandResult& result) {
  // Runs on the command thread, as the command that used the address. The
  // file first: its line is on disk before the system journal hears of it.
  const std::string address = m_logic.openAddress();
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

bool CWindowJournal::OnStarted(const CommandResult& result) {
  // Only the journal file keeps starts: they are what finds a device left
  // half-updated again. The window says once that the file fails and goes
  // on, as it does for the lines that end commands.
  if (m_sink) {
    m_sink->SetProgram(Program());
    m_sink->SetInterface(m_logic.openAddress());
    m_sink->OnStarted(result);
  }
  return true;
}

}  // namespace quorvik
