#include "commands/station.h"

#include <algorithm>
#include <map>

#include "commands/device_commands.h"
#include "commands/fleet.h"
#include "commands/fleet_run.h"
#include "devices/device_identity.h"
#include "devices/device_list.h"

void IStationObserver::OnReady() {}
void IStationObserver::OnFound(const StationUnit&) {}
void IStationObserver::OnWriting(const StationUnit&, uint32_t, uint32_t) {}
void IStationObserver::OnDone(const StationUnit&, const CommandResult&) {}
void IStationObserver::OnIgnored(const StationUnit&, const std::string&) {}
void IStationObserver::OnGone(const StationUnit&) {}

int StationTally::PerHour() const {
  if (elapsed < std::chrono::seconds(1)) return 0;
  return static_cast<int>(int64_t{ok + failed} * 3'600'000 / elapsed.count());
}

std::string StationSerial(const DeviceRecord& record) {
  return HasIdentity(record) ? SerialText(SerialBytes(record)) : MacText(record.mac);
}

std::vector<StationUnit> CStationUnits::Searched(std::span<const DeviceRecord> listed) {
  std::vector<bool> listedIsKnown(listed.size(), false);
  std::vector<StationUnit> gone;
  for (Unit& u : m_units) {
    const auto row = std::find_if(listed.begin(), listed.end(), [&](const DeviceRecord& r) {
      return SameDevice(r, u.unit.record);
    });
    if (row == listed.end()) {
      if (++u.missed == 2) gone.push_back(u.unit);
      continue;
    }
    listedIsKnown[static_cast<size_t>(row - listed.begin())] = true;
    // Back after its stay ended: as if put on the bench for the first time.
    if (u.missed >= 2) u = Unit{};
    u.missed = 0;
    if (u.unit.serial.empty()) {
      u.unit.serial = StationSerial(*row);
      u.unit.name = ListName(*row);
    }
    u.unit.record = *row;
    if (row->loaderType != 0) u.unit.model = row->deviceId;
  }
  for (size_t i = 0; i < listed.size(); ++i) {
    const DeviceRecord& r = listed[i];
    if (listedIsKnown[i] || r.IsFree() || r.slaveNumber != 0) continue;
    Unit u;
    u.unit.record = r;
    u.unit.serial = StationSerial(r);
    u.unit.name = ListName(r);
    if (r.loaderType != 0) u.unit.model = r.deviceId;
    m_units.push_back(std::move(u));
  }
  return gone;
}

CStationUnits::Unit* CStationUnits::Find(const DeviceRecord& record) {
  for (Unit& u : m_units)
    if (u.missed == 0 && SameDevice(record, u.unit.record)) return &u;
  return nullptr;
}

namespace {

// The station's own search: the table emptied, then the search requests
// sent again every half of a second of its two, so that a unit put down
// while it runs is heard by this search rather than by the next one.
constexpr int kStationAsks = 4;
void StationSearch(INetwork& network, IClock& clock) {
  network.Devices().EmptyTable();
  for (int ask = 0; ask < kStationAsks; ++ask) {
    network.RequestBootSearch();
    network.RequestAppSearch();
    for (int step = 0; step < kSearchSteps / kStationAsks; ++step) clock.SleepFor(kSearchStepWait);
  }
}

// The station's own searches end at once when it is told to stop: no
// unit is being written then. The waits of a batch use the clock itself,
// so that a stop lets the units being written finish.
class CStopClock : public IClock {
 public:
  CStopClock(IClock& clock, const std::function<bool()>& stop) : m_clock(clock), m_stop(stop) {}
  void SleepFor(std::chrono::milliseconds duration) override {
    if (m_stop && m_stop()) {
      stopped = true;
      throw CCommandCancelled{};
    }
    m_clock.SleepFor(duration);
  }
  bool Interrupted() const override { return m_clock.Interrupted(); }
  bool stopped = false;

 private:
  IClock& m_clock;
  const std::function<bool()>& m_stop;
};

// The fleet's events of one batch, as the station's, by unit.
class CBatchToStation : public IFleetObserver {
 public:
  using Finish = std::function<void(size_t planned, const CommandResult& result)>;
  CBatchToStation(IStationObserver& station, std::map<size_t, StationUnit> units,
                  std::chrono::milliseconds interval, Finish finish)
      : m_station(station),
        m_units(std::move(units)),
        m_interval(interval),
        m_finish(std::move(finish)) {}

  // Lanes call this one at a time (the fleet's lane lock).
  void OnBlocksWritten(size_t device, uint32_t done, uint32_t total) override {
    const auto now = std::chrono::steady_clock::now();
    const auto told = m_told.find(device);
    if (told != m_told.end() && now - told->second < m_interval) return;
    m_told[device] = now;
    m_station.OnWriting(m_units.at(device), done, total);
  }
  void OnDeviceFinished(size_t device, const CommandResult& result, bool) override {
    m_finish(device, result);
  }
  void OnDeviceNotReached(size_t device, const CommandResult& result) override {
    m_finish(device, result);
  }

 private:
  IStationObserver& m_station;
  const std::map<size_t, StationUnit> m_units;
  const std::chrono::milliseconds m_interval;
  const Finish m_finish;
  std::map<size_t, std::chrono::steady_clock::time_point> m_told;
};

}  // namespace

StationEnd RunStation(const StationOptions& options, INetwork& network, IClock& clock,
                      ICommandObserver& observer, IStationObserver& station) {
  const auto begun = std::chrono::steady_clock::now();
  StationEnd end;
  StationTally& tally = end.tally;
  CStationUnits units;
  CStopClock searchClock(clock, options.stop);
  const auto stopped = [&] { return options.stop && options.stop(); };
  FleetFilter filter;
  filter.models = options.models;
  station.OnReady();
  // The search that closed a batch (it confirmed the units) is as fresh as
  // one of the station's own: its list is taken as the next.
  bool listFresh = false;
  for (;;) {
    if (stopped()) break;
    if (!listFresh) {
      try {
        StationSearch(network, searchClock);
      } catch (const CCommandCancelled&) {
        if (!searchClock.stopped) end.interrupted = true;
        break;
      }
    }
    listFresh = false;
    const std::vector<DeviceRecord> listed = network.Devices().Listed();
    for (const StationUnit& gone : units.Searched(listed)) station.OnGone(gone);

    const FleetPlan plan = PlanFleet(listed, *options.bytes, filter);
    const auto ignore = [&](CStationUnits::Unit& u, const std::string& why) {
      u.ignored = true;
      ++tally.ignored;
      station.OnIgnored(u.unit, why);
    };
    for (const FleetDevice& skipped : plan.skipped) {
      CStationUnits::Unit* u = units.Find(skipped.record);
      if (u != nullptr && !u->done && !u->ignored) ignore(*u, skipped.reason);
    }
    FleetRunOptions run;
    std::map<size_t, StationUnit> batch;
    for (size_t i = 0; i < plan.planned.size(); ++i) {
      CStationUnits::Unit* u = units.Find(plan.planned[i].record);
      if (u == nullptr || u->done || u->ignored) continue;
      if (options.doneBefore && options.doneBefore(plan.planned[i].record)) {
        ignore(*u, kDoneBeforeReason);
        continue;
      }
      station.OnFound(u->unit);
      run.chosen.push_back(i);
      batch.emplace(i, u->unit);
    }
    if (run.chosen.empty()) continue;

    run.path = options.path;
    run.bytes = options.bytes;
    run.parallel = std::max(options.parallel, 1);
    run.stopAfterDevice = options.stop;
    CBatchToStation fleet(station, batch, options.writingInterval,
                          [&](size_t planned, const CommandResult& result) {
                            if (CStationUnits::Unit* u = units.Find(plan.planned[planned].record))
                              u->done = true;
                            ++(result.outcome == Outcome::kOk ? tally.ok : tally.failed);
                            station.OnDone(batch.at(planned), result);
                          });
    const FleetRunEnd ran = RunFleetInWaves(plan, run, network, clock, observer, fleet);
    listFresh = true;
    if (ran.interrupted) {
      end.interrupted = true;
      break;
    }
    if (options.once) break;
  }
  tally.elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now() - begun);
  return end;
}
