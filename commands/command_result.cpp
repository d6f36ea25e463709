#include "commands/command_result.h"

namespace quorvik {

const char* CommandName(CommandKind kind) {
  switch (kind) {
    case CommandKind::kUpdate:
      return "update";
    case CommandKind::kReset:
      return "reset";
    case CommandKind::kRun:
      return "run";
    case CommandKind::kReboot:
      return "reboot";
  }
  return "";
}

const char* OutcomeName(Outcome outcome) {
  switch (outcome) {
    case Outcome::kOk:
      return "ok";
    case Outcome::kFailed:
      return "failed";
    case Outcome::kRefused:
      return "refused";
    case Outcome::kNoDevice:
      return "no-device";
    case Outcome::kInterrupted:
      return "interrupted";
  }
  return "";
}

int ExitCodeOf(Outcome outcome) {
  switch (outcome) {
    case Outcome::kOk:
      return 0;
    case Outcome::kFailed:
      return 1;
    case Outcome::kRefused:
      return 2;
    case Outcome::kNoDevice:
      return 3;
    case Outcome::kInterrupted:
      return 130;
  }
  return 1;
}

const char* ConfirmationName(Confirmation confirmation) {
  switch (confirmation) {
    case Confirmation::kRunning:
      return "running";
    case Confirmation::kInLoader:
      return "in-loader";
    case Confirmation::kSilent:
      return "silent";
    case Confirmation::kNone:
      break;
  }
  return nullptr;
}

}  // namespace quorvik
