#pragma once
// Waits that end when the device is ready. The protocol says when: a
// restarted device's loader answers a search, and after the run request its
// application does. The fixed pauses of the one-device update become the
// limits of these waits; the fleet, the station and recovery go on the
// moment the answer is there.

#include <algorithm>
#include <chrono>
#include <functional>
#include <optional>
#include <span>
#include <vector>

#include "commands/clock.h"
#include "commands/command_observer.h"
#include "commands/network.h"

namespace quorvik {

// How often both searches go out while a device is waited for.
constexpr std::chrono::milliseconds kReadyPoll{250};
// The restart's limit: today's pause after the restart request and the
// search that follows it.
constexpr std::chrono::milliseconds kLoaderReadyLimit{8000};
// The run request's limit: the pause for the application to start and the
// search that confirms it.
constexpr std::chrono::milliseconds kRunningReadyLimit{5000};
// After a loader first answers, before its first block: some loaders answer
// searches before their flash is ready to take a block.
constexpr std::chrono::milliseconds kDefaultSettle{300};
constexpr std::chrono::milliseconds kMaxSettle{5000};

// The waits an unattended run makes around each device's transfer.
struct Waits {
  // False: the one-device update's fixed pauses.
  bool ready = false;
  std::chrono::milliseconds settle = kDefaultSettle;
  // What the journal line says of them.
  const char* Name() const { return ready ? "ready" : "fixed"; }
};

// Sends the searches every kReadyPoll (the boot search only with
// `bootOnly`) until `ready()` holds or `limit` has passed, and says whether
// it held. The answers of one poll are looked at as they come, so the wait
// ends within a few tens of milliseconds of the answer.
// The searches go out on `cards` only (the cards the devices waited for
// answered on); empty: on every open card.
bool PollUntil(INetwork& network, IClock& clock, ICommandObserver& observer,
               std::chrono::milliseconds limit, bool bootOnly, std::span<const Ipv4Address> cards,
               const std::function<bool()>& ready);
// The distinct cards of these records, in the order first met.
template <typename Records, typename CardOf>
std::vector<Ipv4Address> CardsOf(const Records& records, CardOf cardOf) {
  std::vector<Ipv4Address> cards;
  for (const auto& r : records)
    if (std::find(cards.begin(), cards.end(), cardOf(r)) == cards.end()) cards.push_back(cardOf(r));
  return cards;
}

}  // namespace quorvik
