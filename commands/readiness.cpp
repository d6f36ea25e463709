#include "commands/readiness.h"

#include <mutex>

#include "net/device_record.h"
#include "net/device_session.h"

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

std::optional<DeviceRecord> LoaderHeardSince(const DeviceSession& devices,
                                             const std::array<uint8_t, 6>& mac,
                                             const Ipv4Address& card, uint32_t round) {
  std::lock_guard lock(devices.deviceMutex);
  const DeviceTable& table = devices.deviceTable;
  for (int i = CountUsedRecords(table) - 1; i >= 0; --i) {
    const DeviceRecord& r = table[i];
    if (r.loaderType != 0 && r.mac == mac && r.card == card && r.heardInRound >= round) return r;
  }
  return std::nullopt;
}

}  // namespace quorvik
