#include "commands/fleet_waves.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "commands/device_commands.h"
#include "commands/firmware_file.h"
#include "commands/fleet_lane_observer.h"
#include "commands/readiness.h"
#include "commands/sha256.h"
#include "devices/device_list.h"
#include "net/requests.h"

namespace quorvik {

namespace {

// Why a device found `rows` times in the latest list gets nothing.
std::string NotReachedReason(size_t rows) {
  return rows == 0 ? "not found again before its update"
                   : "ambiguous: " + std::to_string(rows) + " listed devices answer to it now";
}

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

const std::string& PathOf(const FleetRunOptions& options, const FleetDevice& device) {
  return device.file ? device.path : options.path;
}

const std::vector<uint8_t>& BytesOf(const FleetRunOptions& options, const FleetDevice& device) {
  return device.file ? *device.file : *options.bytes;
}

void ReadBack(CommandResult& result, std::optional<uint16_t> installs) {
  if (!installs || !result.update) return;
  result.update->installs = installs;
  if (result.outcome != Outcome::kOk || !result.runRequestSent) return;
  const std::string declared = FormatVersion(*installs);
  if (result.confirmed == Confirmation::kRunning && result.runningVersion == installs) {
    result.reason += " (" + declared + " confirmed)";
    return;
  }
  result.outcome = Outcome::kFailed;
  if (result.confirmed == Confirmation::kRunning && result.runningVersion)
    result.reason = "the device reports " + FormatVersion(*result.runningVersion) +
                    " after a file declared to install " + declared;
  else
    result.reason =
        std::string("the device is ") +
        (result.confirmed == Confirmation::kInLoader ? "in its loader" : "not answering") +
        " after its update: no version to read back (declared " + declared + ")";
}

UpdateInput UnattendedInput(const FleetRunOptions& options, const FleetDevice& device,
                            std::span<uint8_t> image) {
  UpdateInput input;
  input.path = PathOf(options, device);
  input.file = BytesOf(options, device);
  input.image = image;
  input.ctrlHeld = false;
  input.verdictByModel = true;
  input.waits = options.waits;
  return input;
}

Wave CFleetWaves::NextWave() {
  std::vector<Queued> taken;
  const auto take = [&] {
    taken.clear();
    std::vector<DeviceRecord> listed = m_network.Devices().Listed();
    bool shared = false;
    std::vector<Queued> later;
    while (!m_queue.empty() && static_cast<int>(taken.size()) < m_parallel) {
      const Queued next = m_queue.front();
      m_queue.pop_front();
      const std::vector<int> rows = FindAgain(listed, m_plan.planned.at(next.device).record);
      const bool own = rows.size() == 1 &&
                       AcknowledgementSource(m_network.Devices(), listed[rows[0]]).has_value();
      if (!own && rows.size() == 1) {
        // Its acknowledgements could be another device's: it waits for a
        // wave in which no such device is written.
        if (shared) {
          later.push_back(next);
          continue;
        }
        shared = true;
      }
      taken.push_back(next);
    }
    m_queue.insert(m_queue.begin(), later.begin(), later.end());
    return listed;
  };
  std::vector<DeviceRecord> listed = take();
  // Devices the list no longer holds are looked for once more, with a
  // search of their own, as the one-device run does.
  const bool missing = std::any_of(taken.begin(), taken.end(), [&](const Queued& q) {
    return FindAgain(listed, m_plan.planned.at(q.device).record).empty();
  });
  if (missing) {
    m_queue.insert(m_queue.begin(), taken.begin(), taken.end());
    SearchAgain(m_network, m_clock, m_observer);
    listed = take();
  }

  Wave wave;
  for (const Queued& q : taken) {
    const FleetDevice& device = m_plan.planned.at(q.device);
    m_fleet.OnDeviceStarted(q.device, q.attempt);
    const std::vector<int> rows = FindAgain(listed, device.record);
    if (rows.size() != 1) {
      m_fleet.OnDeviceNotReached(q.device, Unreached(device, NotReachedReason(rows.size())));
      ++m_end.tally.failed;
      continue;
    }
    m_fleet.OnDeviceFound(q.device, rows[0]);
    wave.push_back(Found(q, listed[static_cast<size_t>(rows[0])]));
  }
  return wave;
}

void CFleetWaves::Restart(Wave& wave) {
  std::vector<Member*> running;
  for (Member& m : wave) {
    if (m.record.loaderType != 0) continue;
    if (auto refused = RefuseTwin(CommandKind::kUpdate, m.record, m_observer)) {
      m.result = std::move(*refused);
      continue;
    }
    running.push_back(&m);
  }
  if (running.empty()) return;
  // The search that begins every update, once for the wave.
  m_network.RequestBootSearch();
  // Each start is on record before any device of the wave is restarted.
  std::vector<std::pair<Member*, CommandResult>> recorded;
  for (Member* m : running) {
    const std::vector<uint8_t>& bytes = BytesOf(m_options, PlannedOf(*m));
    CommandResult start = BeginUpdateResult(m->record, PathOf(*m));
    start.update->waits = m_options.waits.Name();
    start.update->sha256 = Sha256Hex(bytes);
    start.update->fileBytes = bytes.size();
    if (!m_observer.Starting(start)) {
      m->result = Decide(std::move(start), Outcome::kRefused, kStartNotRecordedLine, Beep::kAlert,
                         m_observer);
      continue;
    }
    recorded.emplace_back(m, std::move(start));
  }
  if (recorded.empty()) return;
  DeviceSession& devices = m_network.Devices();
  const uint32_t round = m_options.waits.ready ? devices.BeginListeningRound() : 0;
  m_observer.Status("Set device to firmware update ...", Beep::kAlert);
  for (auto& [m, start] : recorded) {
    m_network.RequestEnterBootloader(m->record);
    m->restarted = true;
  }
  try {
    if (!m_options.waits.ready) {
      m_clock.SleepFor(kEnterBootloaderWait);
      m_observer.Status("Get firmware update parameter...", Beep::kAlert);
      SearchAgain(m_network, m_clock, m_observer);
      for (auto& [m, start] : recorded)
        m->found = BootRecordWithMac(devices, m->record.mac, m->record.card);
      return;
    }
    m_observer.Status("Get firmware update parameter...", Beep::kAlert);
    // Emptied as the fixed waits' search empties it: a running device's
    // row beside its loader's would make its address look shared. Each
    // lane then waits for its own device's loader.
    devices.EmptyTable();
    m_round = round;
    for (auto& [m, start] : recorded) {
      m->awaiting = true;
      m->start = std::move(start);
    }
    m_awaiting = static_cast<int>(recorded.size());
  } catch (const CCommandCancelled&) {
    // Each ends as the start it recorded, file and hash included, so that
    // the journal pairs the two as it pairs a one-device update's.
    for (auto& [m, start] : recorded) {
      start.frameSent = true;
      m->result = InterruptedResult(std::move(start));
      RecordResult(*m->result, m_observer);
    }
    throw;
  }
}

void CFleetWaves::WriteSideBySide(Wave& wave) {
  // Grouped by the channel their acknowledgements arrive on, as the list
  // after the restart has them.
  std::vector<std::vector<Member*>> lanes;
  std::vector<Member*> anySender;
  for (Member& m : wave) {
    // Refused at its restart: it ends before any device is written.
    if (m.result) {
      if (!m.settled) EndInLane(m);
      continue;
    }
    const DeviceRecord& heard = m.restarted ? m.found.value_or(m.record) : m.record;
    if (AcknowledgementSource(m_network.Devices(), heard))
      lanes.push_back({&m});
    else
      anySender.push_back(&m);
  }
  if (!anySender.empty()) lanes.push_back(anySender);

  std::vector<std::function<void()>> work;
  work.reserve(lanes.size());
  const bool alone = lanes.size() == 1;
  const size_t ownLanes = lanes.size() - (anySender.empty() ? 0 : 1);
  for (size_t l = 0; l < lanes.size(); ++l)
    work.emplace_back([this, lane = lanes[l], alone, own = l < ownLanes, &wave]() mutable {
      std::vector<uint8_t> image(kFirmwareImageSize, 0xFF);
      for (size_t next = 0;; ++next) {
        if (next == lane.size()) {
          // A lane of its own address takes the next device that needs no
          // restart; the others wait for the next wave's.
          Member* taken = own ? TakeLoaderDevice(wave) : nullptr;
          if (taken == nullptr) break;
          lane.push_back(taken);
        }
        Member* m = lane[next];
        CLaneObserver steps(m_mutex, m_observer, m_fleet, m->device, alone, m_clock);
        UpdateInLane(*m, image, steps);
        EndInLane(*m);
      }
    });
  RunAll(work);
}

void CFleetWaves::UpdateInLane(Member& m, std::vector<uint8_t>& image, ICommandObserver& steps) {
  std::fill(image.begin(), image.end(), uint8_t{0xFF});
  const UpdateInput input = UnattendedInput(m_options, PlannedOf(m), image);
  try {
    m.result = m.restarted
                   ? UpdateRestartedDevice(m.record, m.found, input, m_network, m_clock, steps)
                   : UpdateDevice(m.record, input, m_network, m_clock, steps);
  } catch (const std::exception& error) {
    // Out of a lane, it would end the program while other devices are
    // being written.
    CommandResult failed = BeginUpdateResult(m.record, PathOf(m));
    failed.update->waits = m_options.waits.Name();
    m.result = Decide(std::move(failed), Outcome::kFailed, "", Beep::kNone, steps, error.what());
  }
}

void CFleetWaves::RunAll(std::vector<std::function<void()>>& work) {
  if (m_options.runLanes) {
    m_options.runLanes(work);
    return;
  }
  std::vector<std::thread> threads;
  threads.reserve(work.size());
  for (std::function<void()>& lane : work) threads.emplace_back(std::move(lane));
  for (std::thread& t : threads) t.join();
}

void CFleetWaves::EndInLane(Member& m) {
  const Outcome outcome = m.result->outcome;
  if (outcome == Outcome::kInterrupted || (outcome == Outcome::kOk && m.result->runRequestSent))
    return;
  std::lock_guard lock(m_mutex);
  TellAttempt(m);
  Settle(m);
  m.settled = true;
}

Member* CFleetWaves::TakeLoaderDevice(Wave& wave) {
  std::lock_guard lock(m_mutex);
  if (m_end.stopped || (m_options.stopAfterDevice && m_options.stopAfterDevice())) return nullptr;
  // No search runs while lanes write: the list is the one the wave's
  // restart search left.
  const std::vector<DeviceRecord> listed = m_network.Devices().Listed();
  for (auto q = m_queue.begin(); q != m_queue.end(); ++q) {
    const std::vector<int> rows = FindAgain(listed, m_plan.planned.at(q->device).record);
    if (rows.size() != 1) continue;
    const DeviceRecord& record = listed[static_cast<size_t>(rows[0])];
    if (record.loaderType == 0 || !AcknowledgementSource(m_network.Devices(), record)) continue;
    wave.push_back(Found(*q, record));
    m_queue.erase(q);
    Member& member = wave.back();
    m_fleet.OnDeviceStarted(member.device, member.attempt);
    m_fleet.OnDeviceFound(member.device, rows[0]);
    return &member;
  }
  return nullptr;
}

void CFleetWaves::Confirm(Wave& wave) {
  std::vector<Member*> started;
  bool interrupted = false;
  for (Member& m : wave) {
    if (m.settled) continue;
    if (m.result->outcome == Outcome::kInterrupted) interrupted = true;
    if (m.result->outcome == Outcome::kOk && m.result->runRequestSent)
      started.push_back(&m);
    else
      TellAttempt(m);
  }
  const auto recordUnconfirmed = [&] {
    for (Member* m : started) {
      RecordResult(*m->result, m_observer);
      TellAttempt(*m);
    }
  };
  if (interrupted) {
    recordUnconfirmed();
    throw CCommandCancelled{};
  }
  try {
    if (started.empty()) {
      m_clock.SleepFor(kAfterUpdateWait);
      SearchAgain(m_network, m_clock, m_observer);
      return;
    }
    if (m_options.waits.ready) {
      for (Member* m : started) m_fleet.OnRunRequested(m->device);
      const bool bootOnly = m_observer.SearchStarting();
      std::vector<const CommandResult*> results;
      for (const Member* m : started) results.push_back(&*m->result);
      AwaitRunning(m_network, m_clock, m_observer, bootOnly, results);
    } else {
      m_clock.SleepFor(kAfterRunWait);
      for (Member* m : started) m_fleet.OnRunRequested(m->device);
      m_clock.SleepFor(kAfterUpdateWait);
      const bool bootOnly = m_observer.SearchStarting();
      SearchDevices(m_network, m_clock, m_observer, bootOnly);
    }
  } catch (const CCommandCancelled&) {
    recordUnconfirmed();
    throw;
  }
  for (Member* m : started) {
    ConfirmUpdate(m_network.Devices(), *m->result);
    ReadBack(*m->result, PlannedOf(*m).installs);
    RecordResult(*m->result, m_observer);
    TellAttempt(*m);
  }
  m_observer.SearchEnded();
}

void CFleetWaves::Settle(Member& m) {
  const CommandResult& result = *m.result;
  const bool final = result.outcome != Outcome::kFailed || m.attempt > m_options.retries;
  if (m_canary.count(m.device) != 0 && final) m_canaryResults.push_back(result);
  if (result.outcome == Outcome::kOk) {
    if (result.confirmed == Confirmation::kRunning) ++m_end.tally.running;
    ++m_end.tally.updated;
    m_fleet.OnDeviceFinished(m.device, result, true);
    return;
  }
  // A refusal is the file's or the loader's answer: trying again gives the
  // same, as does writing again a file that started and read back wrong.
  // A failure takes a lane again, before the devices not yet begun.
  if (result.outcome == Outcome::kFailed && !result.runRequestSent &&
      m.attempt <= m_options.retries) {
    m_queue.push_front({m.device, m.attempt + 1, result});
    return;
  }
  ++m_end.tally.failed;
  m_fleet.OnDeviceFinished(m.device, result, false);
}

FleetRunEnd CFleetWaves::Run() {
  FleetTally& tally = m_end.tally;
  tally.planned = static_cast<int>(m_options.chosen.size());
  tally.skipped =
      static_cast<int>(m_plan.skipped.size() + m_plan.planned.size() - m_options.chosen.size());
  const size_t canaries = std::min<size_t>(std::max(m_options.canary, 0), m_options.chosen.size());
  // The rest wait until the canaries have shown that the file works.
  std::deque<Queued> rest;
  for (size_t i = 0; i < m_options.chosen.size(); ++i) {
    (i < canaries ? m_queue : rest).push_back({m_options.chosen[i], 1, std::nullopt});
    if (i < canaries) m_canary.insert(m_options.chosen[i]);
  }
  Wave wave;
  try {
    for (;;) {
      if (m_queue.empty()) {
        if (rest.empty()) break;
        std::swap(m_queue, rest);
        if (m_end.stopped) break;
        m_end.canaryFailed = CanaryFailure();
        if (!m_end.canaryFailed.empty()) {
          m_end.stopped = true;
          break;
        }
      }
      // A stop begins no new device; one being tried again goes on with
      // its attempts, as in a run of one device after the other.
      if (!m_end.stopped && m_options.stopAfterDevice && m_options.stopAfterDevice()) {
        m_end.stopped = true;
        LeaveOut([](const Queued& q) { return q.attempt == 1; });
        if (m_queue.empty()) break;
      }
      wave = NextWave();
      if (wave.empty()) continue;
      Restart(wave);
      if (m_options.waits.ready)
        WriteWhenReady(wave);
      else
        WriteSideBySide(wave);
      Confirm(wave);
      for (Member& m : wave)
        if (!m.settled) Settle(m);
      wave.clear();
    }
  } catch (const CCommandCancelled&) {
    m_end.interrupted = true;
    for (Member& m : wave) {
      if (m.settled) continue;
      // Nothing was sent to it yet: it is left out like the devices after it.
      if (!m.result) {
        m_queue.push_front({m.device, m.attempt, m.last});
        continue;
      }
      if (!m.handedOut) TellAttempt(m);
      // Those that ended well count as such, the rest as failed.
      if (m.result->outcome == Outcome::kOk) {
        ++tally.updated;
        m_fleet.OnDeviceFinished(m.device, *m.result, true);
      } else {
        ++tally.failed;
        m_fleet.OnDeviceFinished(m.device, *m.result, false);
      }
    }
  }
  m_queue.insert(m_queue.end(), rest.begin(), rest.end());
  LeaveOut([](const Queued&) { return true; });
  return m_end;
}

std::string CFleetWaves::CanaryFailure() const {
  for (const CommandResult& r : m_canaryResults) {
    if (r.outcome == Outcome::kOk && r.confirmed == Confirmation::kRunning) continue;
    return "first device " + FormatSerial(r.device) + " " + OutcomeName(r.outcome) +
           (r.outcome == Outcome::kOk ? " but not confirmed running" : ": " + r.reason);
  }
  return {};
}

template <typename Which>
void CFleetWaves::LeaveOut(Which which) {
  std::deque<Queued> kept;
  for (Queued& q : m_queue) {
    if (!which(q)) {
      kept.push_back(std::move(q));
      continue;
    }
    // A device between two attempts ends with the failure of its last.
    if (q.last) {
      ++m_end.tally.failed;
      m_fleet.OnDeviceFinished(q.device, *q.last, false);
      continue;
    }
    ++m_end.tally.notStarted;
    m_fleet.OnStoppedBeforeTurn(q.device);
  }
  m_queue = std::move(kept);
}

FleetRunEnd RunFleetUpdate(const FleetPlan& plan, const FleetRunOptions& options, INetwork& network,
                           IClock& clock, ICommandObserver& observer, IFleetObserver& fleet) {
  return CFleetWaves(plan, options, network, clock, observer, fleet).Run();
}

}  // namespace quorvik
