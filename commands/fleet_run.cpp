#include "commands/fleet_run.h"

namespace quorvik {

void IFleetObserver::OnDeviceStarted(size_t, int) {}
void IFleetObserver::OnDeviceFound(size_t, int) {}
void IFleetObserver::OnBlocksWritten(size_t, uint32_t, uint32_t) {}
void IFleetObserver::OnRunRequested(size_t) {}
void IFleetObserver::OnAttemptResult(size_t, const CommandResult&) {}
void IFleetObserver::OnDeviceFinished(size_t, const CommandResult&, bool) {}
void IFleetObserver::OnDeviceNotReached(size_t, const CommandResult&) {}
void IFleetObserver::OnStoppedBeforeTurn(size_t) {}

std::string FleetTallyText(const FleetTally& tally) {
  return "Summary: " + std::to_string(tally.planned) + " planned, " +
         std::to_string(tally.updated) + " updated, " + std::to_string(tally.failed) + " failed, " +
         std::to_string(tally.skipped) + " skipped, " +
         (tally.notStarted > 0 ? std::to_string(tally.notStarted) + " not started, " : "") +
         std::to_string(tally.running) + " confirmed running";
}

}  // namespace quorvik
