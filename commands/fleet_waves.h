#pragma once
// The fleet's one engine: up to K devices written at once (K = 1: one after
// the other, as one lane). The protocol binds
// each device's transfer to one acknowledged block at a time and a 10 ms
// pause after each: the time goes into waiting, so devices are written side
// by side. What keeps that safe is the reply channel per address: only a
// device heard from an address of its own can be told apart by its
// acknowledgements; every other device waits on the one channel that takes
// any sender, and so at most one of them is written at a time.
//
// The stages that wait on the whole network run once per wave: the running
// devices of a wave get their restart requests together, one wait and one
// search find them all in their loaders, the writes go side by side, and
// one search after the pause confirms every device of the wave. Each
// device's frames, in order, are those of the one-device update.

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "commands/clock.h"
#include "commands/command_observer.h"
#include "commands/command_result.h"
#include "commands/device_commands.h"
#include "commands/fleet.h"
#include "commands/fleet_run.h"
#include "commands/network.h"

namespace quorvik {

// Every device gets the bytes read for the plan; an unattended run stops
// for none of the messages that Ctrl asks for.
UpdateInput UnattendedInput(const FleetRunOptions& options, const FleetDevice& device,
                            std::span<uint8_t> image);
// The file a planned device is written with: its own, else the run's.
const std::string& PathOf(const FleetRunOptions& options, const FleetDevice& device);
const std::vector<uint8_t>& BytesOf(const FleetRunOptions& options, const FleetDevice& device);
// A device updated and started from a file declared to install a version
// must report that version when it answers running again: a file that
// installs another (a mislabelled file) or a device that does not come up
// running fails the update. Nothing changes for a device with no version
// declared.
void ReadBack(CommandResult& result, std::optional<uint16_t> installs);

// One device of a wave: where the plan has it, the record it was found
// again as, and what its attempt came to.
struct Member {
  size_t device = 0;
  int attempt = 1;
  DeviceRecord record;
  bool restarted = false;
  // Its loader, as the search after its restart request heard it.
  std::optional<DeviceRecord> found;
  // Restarted, its lane waits for its loader to answer (waits until ready);
  // `start` is the start line recorded before its restart request.
  bool awaiting = false;
  std::optional<CommandResult> start;
  std::optional<CommandResult> result;
  bool handedOut = false;
  // Counted already: its attempt ended in its lane without a run request.
  bool settled = false;
  std::optional<CommandResult> last;  // of the attempt before
};

// A deque: a lane that frees up adds the device it takes while the other
// lanes hold on to theirs.
using Wave = std::deque<Member>;

class CFleetWaves {
 public:
  CFleetWaves(const FleetPlan& plan, const FleetRunOptions& options, INetwork& network,
              IClock& clock, ICommandObserver& observer, IFleetObserver& fleet)
      : m_plan(plan),
        m_options(options),
        m_network(network),
        m_clock(clock),
        m_observer(observer),
        m_fleet(fleet),
        m_parallel(std::max(options.parallel, 1)) {}

  FleetRunEnd Run();

 private:
  struct Queued {
    size_t device;
    int attempt;
    std::optional<CommandResult> last;  // of the attempt before
  };
  // A queued device found again as `record`: a member of the wave.
  static Member Found(const Queued& q, const DeviceRecord& record) {
    Member member;
    member.device = q.device;
    member.attempt = q.attempt;
    member.last = q.last;
    member.record = record;
    return member;
  }
  // Takes the next devices from the queue, found again in the latest list:
  // at most `parallel`, and at most one that has no address of its own.
  Wave NextWave();
  // Restarts the running members together and finds them with one search.
  void Restart(Wave& wave);
  // Writes the members side by side, each in a lane of its own where its
  // acknowledgements can be told apart, the others one after the other.
  void WriteSideBySide(Wave& wave);
  // With waits until ready: each member in a lane of its own that goes on
  // the moment its own loader answers, beside a lane that sends the
  // searches while any waits (fleet_ready_lanes.cpp).
  void WriteWhenReady(Wave& wave);
  void RunReadyLane(Member* first, bool alone, Wave& wave);
  void AwaitLoader(Member& member);
  void PollForLoaders(const std::vector<Ipv4Address>& cards);
  // Devices whose acknowledgements could be another's are written one at
  // a time: a lane with such a device holds this until its update ends.
  void TakeSharedChannel();
  // The member's update in its lane, an exception out of it a failure of
  // the device rather than the end of the program; `image` is the lane's.
  void UpdateInLane(Member& member, std::vector<uint8_t>& image, ICommandObserver& steps);
  // Runs the lanes of a wave, each on a thread of its own unless the
  // options schedule them, and returns once every one has ended.
  void RunAll(std::vector<std::function<void()>>& work);
  // An attempt that ended without its run request needs no confirming
  // search: it is told and counted at once, so that a device that failed
  // can be taken away while the others are still written.
  void EndInLane(Member& member);
  // The next queued device that a lane which has freed up can write at
  // once: one in its loader, in the latest list, on an address of its own;
  // none once the run is told to stop.
  Member* TakeLoaderDevice(Wave& wave);
  // The pause after the run requests and the search that confirms them;
  // every result of the wave handed out.
  void Confirm(Wave& wave);
  // Why the canary devices stop the run, or empty when each ended ok and
  // came back running.
  std::string CanaryFailure() const;
  // Counts a member's final result, or queues it again.
  void Settle(Member& member);
  const FleetDevice& PlannedOf(const Member& member) const {
    return m_plan.planned.at(member.device);
  }
  const std::string& PathOf(const Member& member) const {
    return quorvik::PathOf(m_options, PlannedOf(member));
  }
  void TellAttempt(Member& member) {
    member.handedOut = true;
    m_fleet.OnAttemptResult(member.device, *member.result);
  }
  // The queued devices `which` picks are counted as left out.
  template <typename Which>
  void LeaveOut(Which which);

  const FleetPlan& m_plan;
  const FleetRunOptions& m_options;
  INetwork& m_network;
  IClock& m_clock;
  ICommandObserver& m_observer;
  IFleetObserver& m_fleet;
  const int m_parallel;
  std::mutex m_mutex;  // the front end's observers, while lanes run
  std::deque<Queued> m_queue;
  FleetRunEnd m_end;
  uint32_t m_round = 0;             // the listening round of the last restarts
  std::atomic<int> m_awaiting = 0;  // lanes still waiting for their loader
  std::atomic<bool> m_sharedBusy = false;
  std::set<size_t> m_canary;                   // plan indexes
  std::vector<CommandResult> m_canaryResults;  // their final results
};

}  // namespace quorvik
