#pragma once
// What a command did to one device, read from the status lines the window's
// logic writes: the log is the only report the logic gives, and reading it
// keeps the command line's verdict the one an operator would draw from the
// window.

#include <optional>
#include <string>

// The values are the exit codes.
enum class Outcome {
  kSuccess = 0,
  kDeviceFailed = 1,  // time-out, failed verification, not found again
  kRefused = 2,       // the file (or the device's loader) does not fit; nothing written
  kNoDevice = 3,
};

enum class CommandKind { kUpdate, kReset, kRun, kReboot };

const char* OutcomeName(Outcome outcome);

class COutcomeTracker {
 public:
  explicit COutcomeTracker(CommandKind kind) : m_kind(kind) {}

  // One status line; returns the outcome when this line settles it. Lines
  // after the settling one change nothing.
  std::optional<Outcome> Feed(const std::string& line);
  // The command has returned. Settles what the lines left open and returns
  // the outcome; `reason()` then says why.
  Outcome Finish();

  bool settled() const { return m_outcome.has_value(); }
  // The status line that settled it, or an explanation when none did.
  const std::string& reason() const { return m_reason; }

 private:
  Outcome Settle(Outcome outcome, std::string reason);

  CommandKind m_kind;
  bool m_written = false;
  bool m_started = false;
  std::optional<Outcome> m_outcome;
  std::string m_reason;
};
