#pragma once
// The run of a fleet update, as quorvik-cli and the window both do it: the
// chosen devices of a plan one after the other, each found again in the
// latest list before it is written, each written exactly as Firmware-Update
// writes one device. What happens is told to an observer as it happens;
// nothing of it is read back out of the status log.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "commands/command_result.h"
#include "commands/fleet.h"

class CQuorvikDlg;
class IMainView;

// Told on the thread that runs the fleet. `device` is an index into the
// plan's planned devices.
class IFleetObserver {
 public:
  virtual ~IFleetObserver() = default;
  // Its turn begins, or it is tried again (attempt 2 and on) after a failure.
  virtual void OnDeviceStarted(size_t device, int attempt);
  virtual void OnBlocksWritten(size_t device, uint32_t done, uint32_t total);
  // Its last attempt ended: the result that decided it, and whether it
  // counts as updated.
  virtual void OnDeviceFinished(size_t device, const CommandResult& result, bool updated);
  // It could not be found again, or not alone, so nothing was sent to it in
  // this attempt: a failed result that no journal or result sink has seen.
  // It counts as failed.
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
};

struct FleetRunEnd {
  // Devices, not attempts. Planned: the devices whose turn came, each
  // updated or failed. Skipped: those of the plan, those not chosen and
  // those a stop left out.
  FleetTally tally;
  // A wait was cut short (the window closed, a second Ctrl-C): the device
  // being written counts as failed, the rest as left out.
  bool interrupted = false;
  // The stop predicate left devices out.
  bool stopped = false;
};

// "Summary: 7 planned, 6 updated, 1 failed, 2 skipped, 6 confirmed running"
std::string FleetTallyText(const FleetTally& tally);

// Runs the fleet on `dlg`, whose journal and result sink see every result
// of an update as they do for Firmware-Update.
FleetRunEnd RunFleetUpdate(CQuorvikDlg& dlg, const FleetPlan& plan, const FleetRunOptions& options,
                           IFleetObserver& observer);

// The records behind the rows the list shows now, row i being record i.
std::vector<DeviceRecord> ListedRecords(const CQuorvikDlg& dlg);

// A file chosen, read once and checked, and the plan from one search.
struct FleetPreparation {
  std::string path;
  std::shared_ptr<const std::vector<uint8_t>> bytes;
  FleetPlan plan;
};

// The window's "Update all...": the firmware file dialog (where the
// Firmware-Update dialog opens), the file read whole, a search, and the
// plan. Nothing when the operator chose no file; a file that cannot be used
// is said in the status log, as Firmware-Update says it, and gives nothing.
std::optional<FleetPreparation> PrepareFleet(CQuorvikDlg& dlg, IMainView& view);
