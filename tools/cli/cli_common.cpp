#include "tools/cli/cli_common.h"

#include <unistd.h>

#include <algorithm>
#include <mutex>
#include <thread>

#include "net/reply_processing.h"
#include "records/journal.h"
#include "records/settings_file.h"
#include "records/settings_location.h"
#include "records/system_journal.h"

void CCliClock::SleepFor(std::chrono::milliseconds duration) {
  if (m_beforeWait) m_beforeWait();
  const auto end =
      std::chrono::steady_clock::now() +
      std::chrono::duration_cast<std::chrono::steady_clock::duration>(duration * m_scale);
  // In slices, so that Ctrl-C ends a six-second wait at once.
  constexpr auto kSlice = std::chrono::milliseconds(20);
  for (;;) {
    if (m_interrupts.Interrupted()) throw CCommandCancelled{};
    const auto now = std::chrono::steady_clock::now();
    if (now >= end) return;
    std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(end - now, kSlice));
  }
}

std::optional<int> ChooseInterfaceIndex(const InterfaceList& interfaces, const std::string& stored,
                                        const std::string& requested) {
  if (interfaces.count == 0) return std::nullopt;
  if (requested == kAllNetworks) return interfaces.count;
  if (!requested.empty()) return InterfaceIndexOf(interfaces, requested);
  return StoredNetworkEntry(interfaces, stored);
}

nlohmann::json ResultEvent(const std::string& command, Outcome outcome) {
  return {{"event", "result"},
          {"command", command},
          {"outcome", OutcomeName(outcome)},
          {"exit", ExitCodeOf(outcome)}};
}

int Refuse(CEventWriter& writer, const std::string& command, const std::string& why,
           Outcome outcome, const std::vector<std::string>& details) {
  writer.Error(why, details);
  writer.Event(ResultEvent(command, outcome), "");
  return ExitCodeOf(outcome);
}

std::unique_ptr<CInstanceLock> TakeNetwork(const CliOptions& options, const std::string& command,
                                           CEventWriter& writer, int& exitCode) {
  const auto wait = std::chrono::milliseconds(static_cast<long>(options.waitLockSeconds * 1000));
  CInstanceLock::Attempt attempt = CInstanceLock::Acquire("quorvik-cli", wait);
  if (!attempt.lock)
    exitCode = Refuse(writer, command,
                      attempt.holder.Describe() +
                          " is using the devices' ports on this network; close it, or give "
                          "--wait-lock SECONDS to wait for it");
  return std::move(attempt.lock);
}

CSettingsFile UserSettings() {
  return CSettingsFile(SettingsFilePath(CurrentWorkingDirectory()));
}

// Start-up as the window does it, up to the open network: the black-list
// and the interface from the settings file. Only the
// interface may differ (--iface), and nothing is written back. Returns the
// exit code when the network cannot be used; `address` is the one opened.
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

int JournalAwareExitCode(Outcome outcome, bool journalIncomplete) {
  const int code = ExitCodeOf(outcome);
  return journalIncomplete && code == 0 ? kExitUsage : code;
}

int JournalLostExitCode(Outcome outcome, bool journalLost) {
  const int code = ExitCodeOf(outcome);
  return journalLost && outcome != Outcome::kInterrupted ? kExitUsage : code;
}

std::optional<int> OpenJournal(const CliOptions& options, const std::string& command,
                               CEventWriter& writer, std::optional<CJournal>& journal) {
  if (options.noJournal) return std::nullopt;
  journal.emplace(JournalPath(options.journal));
  if (const auto problem = journal->CheckWritable())
    return Refuse(
        writer, command,
        "journal: " + problem->message + "; give --journal PATH for another file, or --no-journal");
  return std::nullopt;
}

void CResultPrinter::OnResult(const CommandResult& result) {
  m_writer.DeviceResultLine(result);
  if (!result.warning.empty()) m_writer.Warning(result.warning);
  if (result.confirmed == Confirmation::kSilent)
    m_writer.Warning(
        "the device did not answer the search after RUN application; whether it "
        "runs the new firmware is not confirmed");
  results.push_back(result);
}

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

}  // namespace

std::unique_ptr<IResultSink> MakeCliJournal(CEventWriter& writer, const CliOptions& options,
                                            const std::optional<CJournal>& journal,
                                            const std::string& address, std::atomic<bool>* failed,
                                            const std::string& program) {
  const JournalContext context{HostName(), program, address};
  auto records = std::make_unique<CCliRecords>();
  if (journal) {
    records->journal.emplace(*journal, context);
    // A line that cannot be appended is an error of the run, reported at
    // once and beside the device's own result.
    records->journal->onProblem = [&writer, failed](const FileProblem& problem) {
      if (failed != nullptr) *failed = true;
      writer.Error("journal: " + problem.message + "; this result is not recorded");
    };
  }
  if (!options.noSyslog) records->systemJournal.emplace(context);
  if (!records->journal && !records->systemJournal) return nullptr;
  return records;
}
