#include "tools/cli/outcome.h"

#include <array>
#include <string_view>

namespace {

struct LineVerdict {
  std::string_view prefix;
  Outcome outcome;
};

// Lines that end a command whichever command it is. Matched by prefix: some
// carry a reply status or a reason in brackets.
constexpr std::array<LineVerdict, 9> kEndingLines = {{
    {"Wrong firmware file selected!", Outcome::kRefused},
    {"Firmware file not readable!", Outcome::kRefused},
    {"Firmware section too large!", Outcome::kRefused},
    {"Wrong bootloader version!", Outcome::kRefused},
    {"Block size not supported!", Outcome::kRefused},
    {"Timeout on write data!", Outcome::kDeviceFailed},
    {"Firmware verification failed!", Outcome::kDeviceFailed},
    {"Reboot failed!", Outcome::kDeviceFailed},
    {"Wrong interface selection !", Outcome::kNoDevice},
}};

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

}  // namespace

const char* OutcomeName(Outcome outcome) {
  switch (outcome) {
    case Outcome::kSuccess:
      return "ok";
    case Outcome::kDeviceFailed:
      return "failed";
    case Outcome::kRefused:
      return "refused";
    case Outcome::kNoDevice:
      return "no-device";
  }
  return "";
}

Outcome COutcomeTracker::Settle(Outcome outcome, std::string reason) {
  m_outcome = outcome;
  m_reason = std::move(reason);
  return outcome;
}

std::optional<Outcome> COutcomeTracker::Feed(const std::string& line) {
  if (m_outcome) return std::nullopt;
  for (const auto& ending : kEndingLines)
    if (StartsWith(line, ending.prefix)) return Settle(ending.outcome, line);

  switch (m_kind) {
    case CommandKind::kUpdate:
      if (line == "Start firmware update...") m_started = true;
      // Without the completion line before it, a started application says
      // nothing about the image.
      if (StartsWith(line, "Write data complete. (") ||
          StartsWith(line, "Write and verify data complete. ("))
        m_written = true;
      else if (line == "RUN application." && m_written)
        return Settle(Outcome::kSuccess, line);
      break;
    case CommandKind::kRun:
      if (line == "RUN application.") return Settle(Outcome::kSuccess, line);
      break;
    case CommandKind::kReset:
      if (StartsWith(line, "Set >") && line.ends_with("< to Factory Defaults."))
        return Settle(Outcome::kSuccess, line);
      break;
    case CommandKind::kReboot:
      if (line == "Reboot done.") return Settle(Outcome::kSuccess, line);
      break;
  }
  return std::nullopt;
}

Outcome COutcomeTracker::Finish() {
  if (m_outcome) return *m_outcome;
  switch (m_kind) {
    case CommandKind::kUpdate:
      // The update returns silently when the restarted device does not
      // answer from its bootloader in time.
      if (m_started) return Settle(Outcome::kDeviceFailed, "Device not found again after restart");
      return Settle(Outcome::kDeviceFailed, "Update ended without a result");
    case CommandKind::kReset:
      return Settle(Outcome::kRefused, "Factory reset declined");
    case CommandKind::kRun:
    case CommandKind::kReboot:
      break;
  }
  return Settle(Outcome::kDeviceFailed, "Command ended without a result");
}
