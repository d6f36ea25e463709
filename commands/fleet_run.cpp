#include "commands/fleet_run.h"

#include <chrono>
#include <optional>

#include "commands/device_commands.h"
#include "commands/firmware_file.h"

void IFleetObserver::OnDeviceStarted(size_t, int) {}
void IFleetObserver::OnDeviceFound(size_t, int) {}
void IFleetObserver::OnBlocksWritten(size_t, uint32_t, uint32_t) {}
void IFleetObserver::OnRunRequested(size_t) {}
void IFleetObserver::OnAttemptResult(size_t, const CommandResult&) {}
void IFleetObserver::OnDeviceFinished(size_t, const CommandResult&, bool) {}
void IFleetObserver::OnDeviceNotReached(size_t, const CommandResult&) {}
void IFleetObserver::OnStoppedBeforeTurn(size_t) {}

namespace {

// Passes an update's steps to the front end, and its blocks to the fleet
// too, for the device whose turn it is.
class CBlocksToFleet : public ICommandObserver {
 public:
  CBlocksToFleet(ICommandObserver& observer, IFleetObserver& fleet)
      : m_observer(observer), m_fleet(fleet) {}
  size_t device = 0;

  void Status(const std::string& line, Beep beep) override { m_observer.Status(line, beep); }
  void Decided(const CommandResult& result) override { m_observer.Decided(result); }
  bool Starting(const CommandResult& result) override { return m_observer.Starting(result); }
  void Busy(bool busy) override { m_observer.Busy(busy); }
  void ProgressStart(int steps) override { m_observer.ProgressStart(steps); }
  void ProgressStep() override { m_observer.ProgressStep(); }
  void BlockWritten(uint32_t done, uint32_t total) override {
    m_observer.BlockWritten(done, total);
    m_fleet.OnBlocksWritten(device, done, total);
  }
  void Inform(const std::string& text) override { m_observer.Inform(text); }
  bool AskYesNo(const std::string& text) override { return m_observer.AskYesNo(text); }
  bool SearchStarting() override { return m_observer.SearchStarting(); }
  void SearchEnded() override { m_observer.SearchEnded(); }
  void Addressed(const DeviceRecord& record) override { m_observer.Addressed(record); }

 private:
  ICommandObserver& m_observer;
  IFleetObserver& m_fleet;
};

// A result for a device that the run could not even reach.
CommandResult Unreached(const FleetDevice& d, std::string reason) {
  CommandResult r;
  r.command = CommandKind::kUpdate;
  r.outcome = Outcome::kFailed;
  r.reason = std::move(reason);
  r.deviceName = d.name;
  r.device = r.addressed = d.record;
  r.started = std::chrono::system_clock::now();
  return r;
}

}  // namespace

std::string FleetTallyText(const FleetTally& tally) {
  return "Summary: " + std::to_string(tally.planned) + " planned, " +
         std::to_string(tally.updated) + " updated, " + std::to_string(tally.failed) + " failed, " +
         std::to_string(tally.skipped) + " skipped, " + std::to_string(tally.running) +
         " confirmed running";
}

FleetRunEnd RunFleetUpdate(const FleetPlan& plan, const FleetRunOptions& options, INetwork& network,
                           IClock& clock, ICommandObserver& observer, IFleetObserver& fleet) {
  if (options.parallel > 1 || options.canary > 0)
    return RunFleetInWaves(plan, options, network, clock, observer, fleet);
  FleetRunEnd end;
  FleetTally& tally = end.tally;
  tally.planned = static_cast<int>(options.chosen.size());
  tally.skipped =
      static_cast<int>(plan.skipped.size() + plan.planned.size() - options.chosen.size());
  CBlocksToFleet steps(observer, fleet);
  // Allocated once for the run; an update allocates nothing for its image.
  std::vector<uint8_t> image(kFirmwareImageSize, 0xFF);
  UpdateInput input;
  input.path = options.path;
  input.file = *options.bytes;
  input.image = image;
  // An unattended run: no update stops for the messages that Ctrl asks for.
  input.ctrlHeld = false;
  size_t current = 0;                 // the plan's index of the device whose turn it is
  std::optional<CommandResult> last;  // the attempt's result, once handed out
  size_t next = 0;
  try {
    for (; next < options.chosen.size(); ++next) {
      if (options.stopAfterDevice && options.stopAfterDevice()) {
        end.stopped = true;
        break;
      }
      current = steps.device = options.chosen[next];
      const FleetDevice& device = plan.planned.at(current);
      bool updated = false;
      for (int attempt = 0; attempt <= options.retries; ++attempt) {
        last.reset();
        fleet.OnDeviceStarted(current, attempt + 1);
        // Found again in the list of the search that closed the previous
        // update; once more with a search of its own when it is not there.
        std::vector<DeviceRecord> listed = network.Devices().Listed();
        std::vector<int> rows = FindAgain(listed, device.record);
        if (rows.empty()) {
          SearchAgain(network, clock, steps);
          listed = network.Devices().Listed();
          rows = FindAgain(listed, device.record);
        }
        if (rows.size() != 1) {
          fleet.OnDeviceNotReached(
              current,
              Unreached(device, rows.empty() ? "not found again before its update"
                                             : "ambiguous: " + std::to_string(rows.size()) +
                                                   " listed devices answer to it now"));
          break;
        }
        fleet.OnDeviceFound(current, rows[0]);
        UpdateAndConfirm(
            listed[static_cast<size_t>(rows[0])], input, network, clock, steps,
            [&](const CommandResult& result) {
              last = result;
              fleet.OnAttemptResult(current, result);
            },
            [&] { fleet.OnRunRequested(current); });
        const CommandResult& result = *last;
        const bool final = attempt == options.retries;
        if (result.outcome == Outcome::kOk) {
          updated = true;
          if (result.confirmed == Confirmation::kRunning) ++tally.running;
          fleet.OnDeviceFinished(current, result, true);
          break;
        }
        // A refusal is the file's or the loader's answer: trying again gives
        // the same.
        if (result.outcome != Outcome::kFailed || final) {
          fleet.OnDeviceFinished(current, result, false);
          break;
        }
      }
      ++(updated ? tally.updated : tally.failed);
    }
  } catch (const CCommandCancelled&) {
    end.interrupted = true;
    ++tally.failed;  // the device being written when the run was told to stop
    ++next;
    fleet.OnDeviceFinished(
        current, last ? *last : Unreached(plan.planned.at(current), "Interrupted"), false);
  }
  // Devices that a stop left out are counted as skipped.
  for (size_t i = next; i < options.chosen.size(); ++i) {
    ++tally.skipped;
    --tally.planned;
    fleet.OnStoppedBeforeTurn(options.chosen[i]);
  }
  return end;
}
