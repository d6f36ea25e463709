// The fleet's lanes when it waits for the devices rather than the clock:
// each member of a wave goes on the moment its own loader answers, so a
// slow device holds up its own lane only.

#include <algorithm>
#include <exception>
#include <thread>

#include "commands/fleet_lane_observer.h"
#include "commands/fleet_waves.h"
#include "commands/readiness.h"
#include "net/requests.h"

namespace quorvik {

namespace {

// How often a lane looks whether its loader has answered.
constexpr std::chrono::milliseconds kLoaderLook{50};

}  // namespace

void CFleetWaves::WriteWhenReady(Wave& wave) {
  std::vector<Member*> members;
  for (Member& m : wave) {
    // Refused at its restart: it ends before any device is written.
    if (m.result) {
      if (!m.settled) EndInLane(m);
      continue;
    }
    members.push_back(&m);
  }
  std::vector<std::function<void()>> work;
  std::vector<const Member*> awaiting;
  const bool alone = members.size() == 1;
  for (Member* m : members) {
    work.emplace_back([this, m, alone, &wave] { RunReadyLane(m, alone, wave); });
    if (m->awaiting) awaiting.push_back(m);
  }
  // The searches go out on the cards the waited-for devices answered on.
  if (m_awaiting > 0)
    work.emplace_back([this, cards = CardsOf(awaiting, [](const Member* m) {
                               return m->record.card;
                             })] { PollForLoaders(cards); });
  RunAll(work);
}

void CFleetWaves::RunReadyLane(Member* first, bool alone, Wave& wave) {
  std::vector<uint8_t> image(kFirmwareImageSize, 0xFF);
  // After its first device the lane takes the next one already in its
  // loader, as a lane of the fixed waits does.
  for (Member* m = first; m != nullptr; m = TakeLoaderDevice(wave)) {
    CLaneObserver steps(m_mutex, m_observer, m_fleet, m->device, alone, m_clock);
    // Set once this lane holds the shared channel, never before: a lane
    // cut short while it waited for it must not free another lane's hold.
    bool holdsShared = false;
    try {
      if (m->awaiting) AwaitLoader(*m);
      const DeviceRecord& heard = m->restarted ? m->found.value_or(m->record) : m->record;
      if (!AcknowledgementSource(m_network.Devices(), heard)) {
        TakeSharedChannel();
        holdsShared = true;
      }
      UpdateInLane(*m, image, steps);
    } catch (const CCommandCancelled&) {
      if (m->start) {
        // Cut short while it waited for its loader: it ends as the start
        // it recorded, as a one-device update's restart stage would.
        CommandResult start = std::move(*m->start);
        m->start.reset();
        start.frameSent = true;
        m->result = InterruptedResult(std::move(start));
        RecordResult(*m->result, steps);
      } else {
        m->result = InterruptedResult(BeginUpdateResult(m->record, PathOf(*m)));
      }
    }
    if (holdsShared) m_sharedBusy = false;
    EndInLane(*m);
  }
}

void CFleetWaves::AwaitLoader(Member& m) {
  const DeviceSession& devices = m_network.Devices();
  const int looks = static_cast<int>(kLoaderReadyLimit / kLoaderLook);
  for (int look = 0;; ++look) {
    m.found = BootRecordWithMac(devices, m.record.mac, m.record.card, m_round);
    if (m.found || look == looks) break;
    m_clock.SleepFor(kLoaderLook);
  }
  m.awaiting = false;
  --m_awaiting;
  if (m.found && m_options.waits.settle.count() > 0) m_clock.SleepFor(m_options.waits.settle);
}

void CFleetWaves::PollForLoaders(const std::vector<Ipv4Address>& cards) {
  try {
    const int polls = static_cast<int>(kLoaderReadyLimit / kReadyPoll);
    for (int poll = 0; poll < polls && m_awaiting > 0; ++poll) {
      m_network.RequestSearchesOn(cards, false);
      m_clock.SleepFor(kReadyPoll);
    }
  } catch (const CCommandCancelled&) {
    // The lanes that wait end interrupted and say so.
  }
}

void CFleetWaves::TakeSharedChannel() {
  // A wait on the run's clock, not a lock: a clock that runs the lanes one
  // at a time would wait forever on a lane that holds it.
  for (bool expected = false; !m_sharedBusy.compare_exchange_strong(expected, true);
       expected = false)
    m_clock.SleepFor(std::chrono::milliseconds(kReplyPollMs));
}

}  // namespace quorvik
