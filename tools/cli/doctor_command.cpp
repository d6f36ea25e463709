#include "tools/cli/doctor_command.h"

#include <cctype>

#include "base/text.h"
#include "diagnostics/network_check.h"

namespace quorvik {

int RunDoctor(const CliOptions& options, CEventWriter& writer, const CInterrupts& interrupts) {
  NetworkCheckRequest request;
  request.requestedAddress = options.iface;
  request.storedAddress = UserSettings().Read(kSettingsSection, kKeySelectedIp);
  CCliClock clock(options.timeScale, interrupts);
  int counts[3] = {0, 0, 0};
  RunNetworkCheck(request, clock, [&](const CheckResult& r) {
    ++counts[static_cast<int>(r.status)];
    std::string status = CheckStatusName(r.status);
    for (char& c : status) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    std::string text = status + "  " + Printable(r.title);
    if (!r.detail.empty()) text += ": " + Printable(r.detail);
    if (!r.advice.empty()) text += "\n      -> " + Printable(r.advice);
    writer.Event({{"event", "check"},
                  {"id", r.id},
                  {"status", CheckStatusName(r.status)},
                  {"title", ToUtf8(r.title)},
                  {"detail", ToUtf8(r.detail)},
                  {"advice", ToUtf8(r.advice)}},
                 text);
  });
  const Outcome outcome = counts[2] > 0 ? Outcome::kFailed : Outcome::kOk;
  nlohmann::json result = ResultEvent("doctor", outcome);
  result["pass"] = counts[0];
  result["warn"] = counts[1];
  result["fail"] = counts[2];
  writer.Event(result, "Network check: " + std::to_string(counts[0]) + " pass, " +
                           std::to_string(counts[1]) + " warn, " + std::to_string(counts[2]) +
                           " fail");
  return ExitCodeOf(outcome);
}

}  // namespace quorvik
