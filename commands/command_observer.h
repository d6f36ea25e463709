#pragma once
// How a front end follows a device command while it runs: the window shows
// it in its log, tones and progress bar, quorvik-cli prints it, a fleet
// counts it. The command decides; the observer only shows and answers.

#include <chrono>
#include <cstdint>
#include <string>

#include "commands/command_result.h"
#include "net/device_record.h"

namespace quorvik {

// How long a status line's alert tone sounds. The front end waits it out on
// the command's clock, so that the command's timing is the same whoever
// shows it.
constexpr std::chrono::milliseconds kBeepLength{100};

// Whether a status line sounds the alert tone: it marks the stages of a
// firmware write that the operator waits through, and what went wrong.
enum class Beep { kNone, kAlert };

class ICommandObserver {
 public:
  virtual ~ICommandObserver() = default;
  // A status line; with `beep`, the alert tone too, which the front end
  // waits for (it is part of the command's timing).
  virtual void Status(const std::string& line, Beep beep) = 0;
  // Status without the wait: the line shown and the tone started, and how
  // long it sounds returned, for a caller that waits it out itself once it
  // has let go of a lock (the lanes of a fleet share one front end, and
  // their tones may sound together).
  virtual std::chrono::milliseconds ShowStatus(const std::string& line, Beep beep) {
    Status(line, beep);
    return std::chrono::milliseconds{0};
  }
  // The outcome is decided; called before the line that ends the command
  // is shown, so that a record of it is on disk before the operator reads
  // that line.
  virtual void Decided(const CommandResult& result) = 0;
  // An update is about to send the first frame that changes the device (the
  // restart request, or the first block to a device already in its loader).
  // The front end records the intent on disk first, so that a program
  // killed in the middle leaves a trace of which device was getting which
  // file. False: the start could not be recorded, and the update ends
  // refused with nothing sent.
  virtual bool Starting(const CommandResult& result) = 0;
  // The wait cursor (true) or the arrow (false), where the command's own
  // steps change it.
  virtual void Busy(bool busy) = 0;
  // A progress bar of `steps` steps, at its start; then one step each.
  virtual void ProgressStart(int steps) = 0;
  virtual void ProgressStep() = 0;
  // A block the device acknowledged: blocks done, of all.
  virtual void BlockWritten(uint32_t done, uint32_t total) = 0;
  // A message with one OK button, waited for.
  virtual void Inform(const std::string& text) = 0;
  // A Yes/No question; Yes is true.
  virtual bool AskYesNo(const std::string& text) = 0;
  // A search of the network begins: it empties the device table and fills
  // it anew. The front end readies itself and says whether only bootloaders
  // are searched (the window does so while it collects serial numbers).
  virtual bool SearchStarting() = 0;
  // The search has ended and its caller has taken from the table what had
  // to come first (an update's confirmation, whose result then precedes
  // the list): the front end lists what answered.
  virtual void SearchEnded() = 0;
  // The command now addresses this record (after a restart, the loader's).
  virtual void Addressed(const DeviceRecord& record) = 0;
};

}  // namespace quorvik
