#pragma once
// The run of a fleet update, as quorvik-cli, the window and the station all
// do it: the chosen devices of a plan, each found again in the latest list
// before it is written, each written exactly as Firmware-Update writes one
// device, the pauses and the search that confirms it included.
// What happens is told to observers as it happens; nothing of it is read
// back out of a status log.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "commands/clock.h"
#include "commands/command_observer.h"
#include "commands/command_result.h"
#include "commands/fleet.h"
#include "commands/network.h"
#include "commands/readiness.h"

namespace quorvik {

// Told on the thread that runs the fleet. `device` is an index into the
// plan's planned devices.
class IFleetObserver {
 public:
  virtual ~IFleetObserver() = default;
  // Its turn begins, or it is tried again (attempt 2 and on) after a failure.
  virtual void OnDeviceStarted(size_t device, int attempt);
  // It was found again, alone, at this row of the latest list: its update
  // begins.
  virtual void OnDeviceFound(size_t device, int row);
  virtual void OnBlocksWritten(size_t device, uint32_t done, uint32_t total);
  // Its update sent the run request and the pause after it is over; the
  // pause for it to start and the search that confirms it follow.
  virtual void OnRunRequested(size_t device);
  // An attempt's result once final, as Firmware-Update hands its results
  // out: the journal has it already, and one that the search after the run
  // request confirmed comes before that search is listed.
  virtual void OnAttemptResult(size_t device, const CommandResult& result);
  // Its last attempt ended: the result that decided it, and whether it
  // counts as updated.
  virtual void OnDeviceFinished(size_t device, const CommandResult& result, bool updated);
  // It could not be found again, or not alone, so nothing was sent to it in
  // this attempt: a failed result that no journal has seen. It counts as
  // failed.
  virtual void OnDeviceNotReached(size_t device, const CommandResult& result);
  // The run was told to stop before this device's turn; it counts as skipped.
  virtual void OnStoppedBeforeTurn(size_t device);
};

struct FleetRunOptions {
  // Indexes into the plan's planned devices, in the order they are run.
  std::vector<size_t> chosen;
  std::string path;
  // The file as read for the plan: every device gets these very bytes.
  std::shared_ptr<const std::vector<uint8_t>> bytes;
  // Further attempts after a failure of the device (never after a refusal).
  int retries = 0;
  // Asked before each device's turn: true ends the run there.
  std::function<bool()> stopAfterDevice;
  // How many devices are written at once (1, or less: one after the other).
  int parallel = 1;
  // The first `canary` chosen devices are updated before
  // the rest, which follow only when each of them ended ok and came back
  // running.
  int canary = 0;
  // Runs the lanes of a wave and returns once every one has ended; empty:
  // a thread each. A test that runs the fleet in virtual time schedules
  // them on threads of its own.
  std::function<void(std::vector<std::function<void()>>& lanes)> runLanes;
  // Around each transfer: the fixed pauses, or waits that end when the
  // device answers.
  Waits waits;
};

struct FleetRunEnd {
  // Devices, not attempts. Planned: the devices chosen, each updated,
  // failed or not started. Skipped: those the plan left out and those not
  // chosen.
  FleetTally tally;
  // A wait was cut short (the window closed, a second Ctrl-C): the device
  // being written counts as failed, the rest as left out.
  bool interrupted = false;
  // The stop predicate left devices out.
  bool stopped = false;
  // Why the canary devices stopped the run; empty when they did not.
  std::string canaryFailed;
};

// "Summary: 7 planned, 6 updated, 1 failed, 2 skipped, 6 confirmed running";
// after a stop "..., 2 skipped, 3 not started, ...".
std::string FleetTallyText(const FleetTally& tally);

// Runs the fleet: up to options.parallel devices written at once, in
// waves: the devices of a wave are restarted together, found with one
// search, written side by side (those that share an address, or have none,
// one after the other) and confirmed with one search. Each device's frames
// are those of its one-device update. Each update and search shows through
// `observer` as Firmware-Update's do there (its Decided journals every
// result), and the run's own events go to `fleet`.
FleetRunEnd RunFleetUpdate(const FleetPlan& plan, const FleetRunOptions& options, INetwork& network,
                           IClock& clock, ICommandObserver& observer, IFleetObserver& fleet);

// A file chosen, read once and checked, and the plan from one search.
struct FleetPreparation {
  std::string path;
  std::shared_ptr<const std::vector<uint8_t>> bytes;
  FleetPlan plan;
};

}  // namespace quorvik
