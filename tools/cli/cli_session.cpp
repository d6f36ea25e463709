#include "tools/cli/cli_session.h"

#include <mutex>
#include <vector>

#include "commands/network.h"
#include "records/settings_file.h"
#include "records/system_journal.h"

namespace quorvik {

namespace {

// The update journal first: its line is on disk before the system journal
// hears of the result.
class CCliRecords : public IResultSink {
 public:
  void OnResult(const CommandResult& result) override {
    if (journal) journal->OnResult(result);
    if (systemJournal) systemJournal->OnResult(result);
  }
  // Only the journal file keeps starts: they are what finds a device left
  // half-updated again.
  bool OnStarted(const CommandResult& result) override {
    return !journal || journal->OnStarted(result);
  }
  std::optional<CJournalSink> journal;
  std::optional<CSystemJournalSink> systemJournal;
};

// Nothing is written back: only the interface may differ from the
// window's (--iface).
std::optional<int> OpenNetworkAsTheWindow(const CliOptions& options, const char* command,
                                          CEventWriter& writer, INetwork& network,
                                          std::string& address) {
  const CSettingsFile settings = UserSettings();
  const std::string hidden = settings.Read(kSettingsSection, kKeyHidden);
  // A file that could not be read reads as empty; a long black-list is
  // not loaded a second time just to learn that it could be.
  if (hidden.empty())
    if (const auto problem = settings.ReadProblem())
      writer.Warning(*problem + "; no device is hidden and the first interface is used");
  {
    DeviceSession& devices = network.Devices();
    std::lock_guard lock(devices.deviceMutex);
    devices.blackList = hidden;
  }
  const InterfaceList interfaces = network.EnumerateInterfaces();
  const std::optional<int> index = ChooseInterfaceIndex(
      interfaces, settings.Read(kSettingsSection, kKeySelectedIp), options.iface);
  if (!index) {
    if (!options.iface.empty() && options.iface != kAllNetworks)
      return Refuse(
          writer, command,
          "no interface holds the address " + options.iface + " (see quorvik-cli interfaces)");
    writer.Message(kNoInterfaceEntry);
    return Refuse(writer, command, kNoInterfaceEntry, Outcome::kFailed);
  }
  address = NetworkEntryAddress(interfaces, *index);
  const bool opened = network.OpenNetwork(address);
  const std::vector<PortProblem> problems = network.PortProblems();
  if (!opened) writer.Message(kNetworkFailedMessage);
  if (!opened || !problems.empty()) {
    // A port held by another program hides every device that answers on
    // it; a partial list must not pass for the whole network.
    std::vector<std::string> ports;
    for (const PortProblem& p : problems) ports.push_back(PortProblemText(p));
    return Refuse(writer, command,
                  opened ? "not every port could be opened" : kNetworkFailedMessage,
                  Outcome::kFailed, ports);
  }
  return std::nullopt;
}

}  // namespace

CCliSession::CCliSession(const CliOptions& options, std::string command, CEventWriter& writer,
                         const CInterrupts& interrupts, std::optional<std::string> recordedAs)
    : m_options(options),
      m_command(std::move(command)),
      m_writer(writer),
      m_interrupts(interrupts),
      m_recordedAs(std::move(recordedAs)) {}

std::optional<int> CCliSession::OpenJournal() {
  if (m_options.noJournal) return std::nullopt;
  m_journal.emplace(JournalPath(m_options.journal));
  if (const auto problem = m_journal->CheckWritable())
    return Refuse(
        m_writer, m_command,
        "journal: " + problem->message + "; give --journal PATH for another file, or --no-journal");
  return std::nullopt;
}

std::optional<int> CCliSession::OpenNetwork(INetwork& network, std::istream& answers) {
  if (const auto failed =
          OpenNetworkAsTheWindow(m_options, m_command.c_str(), m_writer, network, m_address))
    return failed;
  m_observer.emplace(m_writer, network.Devices(), answers, m_options.timeScale, m_interrupts);
  if (!m_recordedAs) return std::nullopt;
  // The journal when it was opened, and the system journal unless
  // --no-syslog.
  const JournalContext context{HostName(), *m_recordedAs, m_address};
  auto records = std::make_unique<CCliRecords>();
  if (m_journal) {
    records->journal.emplace(*m_journal, context);
    // A line that cannot be appended is an error of the run, reported at
    // once and beside the device's own result.
    records->journal->onProblem = [this](const FileProblem& problem) {
      m_journalFailed = true;
      m_writer.Error("journal: " + problem.message + "; this result is not recorded");
    };
  }
  if (!m_options.noSyslog) records->systemJournal.emplace(context);
  if (records->journal || records->systemJournal) m_records = std::move(records);
  m_observer->SetJournal(m_records.get());
  return std::nullopt;
}

int CCliSession::EndOfRun(Outcome outcome, bool differs) {
  nlohmann::json result = ResultEvent(m_command, outcome);
  const bool different = differs && outcome == Outcome::kOk;
  if (different) {
    result["outcome"] = "differs";
    result["exit"] = kExitRollCallDiffers;
  }
  // A run that lost its journal is not what was asked, whatever the
  // devices did, unless a signal ended it.
  const int code = journalFailed() && outcome != Outcome::kInterrupted ? kExitUsage
                   : different                                         ? kExitRollCallDiffers
                                                                       : ExitCodeOf(outcome);
  if (journalFailed()) {
    result["journal"] = "incomplete";
    result["exit"] = code;
  }
  if (m_writer.format() == OutputFormat::kJson) m_writer.Event(result, "");
  return code;
}

}  // namespace quorvik
