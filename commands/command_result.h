#pragma once
// What a device command did, as a value handed out by the code that decides
// it, beside the status line it logs. The window's log stays as it is; the
// command line, the journal and the fleet run read these values, so that
// nothing ever has to read meaning back out of a log text.

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "commands/firmware_file.h"
#include "net/device_record.h"

namespace quorvik {

enum class CommandKind { kUpdate, kReset, kRun, kReboot };

enum class Outcome {
  kOk,
  kFailed,       // the device did not do it: time-out, failed verification, lost
  kRefused,      // nothing was written: the file, the loader or the operator said no
  kNoDevice,     // no device was selected or none answered
  kInterrupted,  // the program was told to stop in the middle
};

// Whether the device runs the new image, read from the search that follows
// an update: none when no run request was sent or nothing looked.
enum class Confirmation { kNone, kRunning, kInLoader, kSilent };

const char* CommandName(CommandKind kind);
const char* OutcomeName(Outcome outcome);
// 0 ok, 1 failed, 2 refused, 3 no device, 130 interrupted.
int ExitCodeOf(Outcome outcome);
// "running", "in-loader", "silent"; nullptr for kNone.
const char* ConfirmationName(Confirmation confirmation);

struct UpdateFacts {
  std::string path;
  std::string sha256;  // of the whole file as read for this update, hex
  std::optional<uint8_t> section;
  std::optional<uint32_t> bytes;  // the section's data length
  uint32_t blocks = 0;            // blocks the device acknowledged
  std::optional<uint16_t> crc;    // the checksum compared with the device's
  bool verified = false;
  // A block went out and no answer came: the device may have stored it.
  bool blockUnanswered = false;
  // Why the file was refused, where it was.
  std::optional<FirmwareVerdict> refusedFile;
  // The whole file's size as read, with sha256: what recovery compares a
  // file with before it reads a byte of it.
  std::optional<uint64_t> fileBytes;
  // The waits of an unattended run ("ready" or "fixed"); none for the
  // one-device update, whose waits are always the fixed ones.
  std::string waits;
  // The version a rig declares the file to install, which the device must
  // report once it runs again.
  std::optional<uint16_t> installs;
};

struct CommandResult {
  CommandKind command = CommandKind::kUpdate;
  Outcome outcome = Outcome::kOk;
  // The status line that decided the outcome; empty where none did (a
  // declined reset, an interruption).
  std::string statusLine;
  // For people and scripts: the status line, or what happened instead.
  std::string reason;
  // The device as the list showed it when the command started: its name,
  // and the record behind the row.
  std::string deviceName;
  DeviceRecord device;
  // The record the command addressed last: after a restart into the loader,
  // the loader's (which alone reports the model code and loader type).
  DeviceRecord addressed;
  // Whether any frame went to the device (searches do not count).
  bool frameSent = false;
  bool runRequestSent = false;
  Confirmation confirmed = Confirmation::kNone;
  // The version the device reported in the search that found it running
  // after an update: what it runs now, which the file alone cannot tell.
  std::optional<uint16_t> runningVersion;
  std::optional<UpdateFacts> update;
  // What the outcome alone does not tell, for people and scripts; empty
  // when there is nothing to add.
  std::string warning;
  std::chrono::system_clock::time_point started{};
  std::chrono::milliseconds duration{0};
};

// Receives every result, once it is final.
class IResultSink {
 public:
  virtual ~IResultSink() = default;
  virtual void OnResult(const CommandResult& result) = 0;
  // An update about to change its device (ICommandObserver::Starting);
  // false when the start could not be recorded. A sink that keeps no
  // record has nothing to refuse.
  virtual bool OnStarted(const CommandResult&) { return true; }
};

}  // namespace quorvik
