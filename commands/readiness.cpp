#include "commands/readiness.h"

namespace quorvik {

namespace {

// The slices a poll's wait is looked at in.
constexpr int kPollSlices = 5;

}  // namespace

bool PollUntil(INetwork& network, IClock& clock, ICommandObserver& observer,
               std::chrono::milliseconds limit, bool bootOnly, std::span<const Ipv4Address> cards,
               const std::function<bool()>& ready) {
  const int polls = static_cast<int>(limit / kReadyPoll);
  observer.ProgressStart(polls);
  for (int poll = 0; poll < polls; ++poll) {
    network.RequestSearchesOn(cards, bootOnly);
    observer.ProgressStep();
    for (int slice = 0; slice < kPollSlices; ++slice) {
      clock.SleepFor(kReadyPoll / kPollSlices);
      if (ready()) return true;
    }
  }
  return ready();
}

}  // namespace quorvik
