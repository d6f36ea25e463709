#include "tools/cli/cli_common.h"

#include <algorithm>
#include <thread>

#include "records/settings_file.h"
#include "records/settings_location.h"

namespace quorvik {

void CCliClock::SleepFor(std::chrono::milliseconds duration) {
  if (m_beforeWait && std::this_thread::get_id() == m_owner) m_beforeWait();
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

int JournalAwareExitCode(Outcome outcome, bool journalIncomplete) {
  const int code = ExitCodeOf(outcome);
  return journalIncomplete && code == 0 ? kExitUsage : code;
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

}  // namespace quorvik
