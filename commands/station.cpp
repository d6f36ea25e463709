#include "commands/station.h"

#include <algorithm>
#include <atomic>
#include <map>
#include <mutex>
#include <thread>

#include "commands/device_commands.h"
#include "commands/fleet.h"
#include "commands/fleet_run.h"
#include "devices/device_identity.h"
#include "devices/device_list.h"

namespace quorvik {

void IStationObserver::OnReady() {}
void IStationObserver::OnFound(const StationUnit&) {}
void IStationObserver::OnWriting(const StationUnit&, uint32_t, uint32_t) {}
void IStationObserver::OnDone(const StationUnit&, const CommandResult&) {}
void IStationObserver::OnIgnored(const StationUnit&, const std::string&) {}
void IStationObserver::OnGone(const StationUnit&) {}

int StationTally::PerHour() const {
  const std::chrono::milliseconds span = producing.count() > 0 ? producing : elapsed;
  if (span < std::chrono::seconds(1)) return 0;
  return static_cast<int>(int64_t{ok + failed} * 3'600'000 / span.count());
}

std::string StationSerial(const DeviceRecord& record) {
  return HasIdentity(record) ? SerialText(SerialBytes(record)) : MacText(record.mac);
}

bool SameStationUnit(const DeviceRecord& a, const DeviceRecord& b) {
  if ((a.twins >= 2 || b.twins >= 2) && a.card == b.card && a.slaveNumber == 0 &&
      b.slaveNumber == 0 && HasIdentity(a) && HasIdentity(b))
    return SameSerial(SerialBytes(a), SerialBytes(b));
  return SameDevice(a, b);
}

std::vector<StationUnit> CStationUnits::Searched(std::span<const DeviceRecord> listed) {
  std::vector<bool> listedIsKnown(listed.size(), false);
  std::vector<StationUnit> gone;
  const auto rowOf = [&](const Unit& u) {
    return std::find_if(listed.begin(), listed.end(),
                        [&](const DeviceRecord& r) { return SameStationUnit(r, u.unit.record); });
  };
  for (Unit& u : m_units) {
    const auto row = rowOf(u);
    if (row != listed.end()) listedIsKnown[static_cast<size_t>(row - listed.begin())] = true;
    if (u.busy) continue;
    if (row == listed.end()) {
      if (++u.missed == 2) gone.push_back(u.unit);
      continue;
    }
    // Back after its stay ended: as if put on the bench for the first time;
    // so is a unit that no longer shares its serial with another.
    if (u.missed >= 2 || (u.ignoredTwins && row->twins < 2)) u = Unit{};
    u.missed = 0;
    if (u.unit.serial.empty()) {
      u.unit.serial = StationSerial(*row);
      u.unit.name = ListName(*row);
    }
    u.unit.record = *row;
    u.unit.units = std::max<int>(1, row->twins);
    if (row->loaderType != 0) u.unit.model = row->deviceId;
  }
  for (size_t i = 0; i < listed.size(); ++i) {
    const DeviceRecord& r = listed[i];
    if (listedIsKnown[i] || r.IsFree() || r.slaveNumber != 0) continue;
    Unit u;
    u.unit.record = r;
    u.unit.serial = StationSerial(r);
    u.unit.name = ListName(r);
    u.unit.units = std::max<int>(1, r.twins);
    if (r.loaderType != 0) u.unit.model = r.deviceId;
    m_units.push_back(std::move(u));
  }
  return gone;
}

CStationUnits::Unit* CStationUnits::Find(const DeviceRecord& record) {
  for (Unit& u : m_units)
    if (u.missed == 0 && SameStationUnit(record, u.unit.record)) return &u;
  return nullptr;
}

namespace {

// The station's own search while no unit is written: the table emptied,
// then the search requests sent again every half of a second of its two,
// so that a unit put down while it runs is heard by this search rather
// than by the next one.
constexpr int kStationAsks = 4;
// With `enough`, the search ends after the first ask it holds after: a unit
// just put down is written at once rather than when the search ends.
void StationSearch(INetwork& network, IClock& clock, const std::function<bool()>& enough = {}) {
  network.Devices().EmptyTable();
  for (int ask = 0; ask < kStationAsks; ++ask) {
    network.RequestBootSearch();
    network.RequestAppSearch();
    for (int step = 0; step < kSearchSteps / kStationAsks; ++step) clock.SleepFor(kSearchStepWait);
    if (enough && enough()) return;
  }
}

// The same search while a batch is written: the table is the batch's and
// is not emptied, so what answered in this round is told by its stamp. The
// batch's own searches empty the table now and then; a look after each ask
// keeps what answered before that.
std::vector<DeviceRecord> ListenToTheBench(INetwork& network, IClock& clock) {
  DeviceSession& devices = network.Devices();
  const uint32_t round = devices.BeginListeningRound();
  std::vector<DeviceRecord> heard;
  for (int ask = 0; ask < kStationAsks; ++ask) {
    network.RequestBootSearch();
    network.RequestAppSearch();
    for (int step = 0; step < kSearchSteps / kStationAsks; ++step) clock.SleepFor(kSearchStepWait);
    for (const DeviceRecord& r : devices.Listed()) {
      if (r.heardInRound != round || r.slaveNumber != 0) continue;
      const auto same = std::find_if(heard.begin(), heard.end(),
                                     [&](const DeviceRecord& h) { return SameStationUnit(h, r); });
      if (same != heard.end())
        *same = r;
      else
        heard.push_back(r);
    }
  }
  return heard;
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
  std::atomic<bool> stopped = false;

 private:
  IClock& m_clock;
  const std::function<bool()>& m_stop;
};

// The batch's calls to the front end, through the station's lock.
class CSerializedCommands : public ICommandObserver {
 public:
  CSerializedCommands(std::recursive_mutex& lock, ICommandObserver& observer)
      : m_lock(lock), m_observer(observer) {}
  void Status(const std::string& line, Beep beep) override {
    std::lock_guard lock(m_lock);
    m_observer.Status(line, beep);
  }
  std::chrono::milliseconds ShowStatus(const std::string& line, Beep beep) override {
    std::lock_guard lock(m_lock);
    return m_observer.ShowStatus(line, beep);
  }
  void Decided(const CommandResult& result) override {
    std::lock_guard lock(m_lock);
    m_observer.Decided(result);
  }
  bool Starting(const CommandResult& result) override {
    std::lock_guard lock(m_lock);
    return m_observer.Starting(result);
  }
  void Busy(bool busy) override {
    std::lock_guard lock(m_lock);
    m_observer.Busy(busy);
  }
  void ProgressStart(int steps) override {
    std::lock_guard lock(m_lock);
    m_observer.ProgressStart(steps);
  }
  void ProgressStep() override {
    std::lock_guard lock(m_lock);
    m_observer.ProgressStep();
  }
  void BlockWritten(uint32_t done, uint32_t total) override {
    std::lock_guard lock(m_lock);
    m_observer.BlockWritten(done, total);
  }
  void Inform(const std::string& text) override {
    std::lock_guard lock(m_lock);
    m_observer.Inform(text);
  }
  bool AskYesNo(const std::string& text) override {
    std::lock_guard lock(m_lock);
    return m_observer.AskYesNo(text);
  }
  bool SearchStarting() override {
    std::lock_guard lock(m_lock);
    return m_observer.SearchStarting();
  }
  void SearchEnded() override {
    std::lock_guard lock(m_lock);
    m_observer.SearchEnded();
  }
  void Addressed(const DeviceRecord& record) override {
    std::lock_guard lock(m_lock);
    m_observer.Addressed(record);
  }

 private:
  std::recursive_mutex& m_lock;
  ICommandObserver& m_observer;
};

class CStation {
 public:
  CStation(const StationOptions& options, INetwork& network, IClock& clock,
           ICommandObserver& observer, IStationObserver& station)
      : m_options(options),
        m_network(network),
        m_clock(clock),
        m_observer(m_lock, observer),
        m_station(station),
        m_searchClock(clock, options.stop) {
    m_filter.models = options.models;
  }

  StationEnd Run();

 private:
  bool Stopped() const { return m_options.stop && m_options.stop(); }
  // What one search heard: units gone, units to leave alone, units queued.
  // Under m_lock.
  void Heard(const std::vector<DeviceRecord>& listed);
  void Ignore(CStationUnits::Unit& u, const std::string& why);
  // Writes the queued units of `listed`, hearing the bench meanwhile.
  // False when the batch was interrupted.
  bool RunBatch(const std::vector<DeviceRecord>& listed, bool& ranAny);
  void Listen(const std::atomic<bool>& batchRunning);
  void Ended(const StationUnit& unit, const CommandResult& result);

  const StationOptions& m_options;
  INetwork& m_network;
  IClock& m_clock;
  // The state below and every call to the front end: the bench is heard
  // while a batch is written, and front ends serve one caller at a time.
  std::recursive_mutex m_lock;
  CSerializedCommands m_observer;
  IStationObserver& m_station;
  CStopClock m_searchClock;
  FleetFilter m_filter;
  CStationUnits m_units;
  // By unit: whether its last update ended ok; how many units each unit
  // left alone stood for.
  std::map<std::string, bool> m_ends;
  std::map<std::string, int> m_ignored;
  // The first unit found and the last unit's end: the span of production.
  std::optional<std::chrono::steady_clock::time_point> m_firstFound, m_lastEnd;
};

void CStation::Ignore(CStationUnits::Unit& u, const std::string& why) {
  u.ignored = true;
  u.ignoredTwins = u.unit.record.twins >= 2;
  int& counted = m_ignored[PhysicalDeviceKey(u.unit.record)];
  counted = std::max(counted, u.unit.units);
  m_station.OnIgnored(u.unit, why);
}

void CStation::Heard(const std::vector<DeviceRecord>& listed) {
  for (const StationUnit& gone : m_units.Searched(listed)) m_station.OnGone(gone);
  const FleetPlan plan = PlanFleet(listed, *m_options.bytes, m_filter);
  const auto leftAlone = [](const CStationUnits::Unit* u) {
    return u == nullptr || u->done || u->ignored || u->queued || u->busy;
  };
  for (const FleetDevice& skipped : plan.skipped) {
    CStationUnits::Unit* u = m_units.Find(skipped.record);
    if (!leftAlone(u)) Ignore(*u, skipped.reason);
  }
  // A stopping station takes no new unit.
  if (Stopped()) return;
  for (const FleetDevice& planned : plan.planned) {
    CStationUnits::Unit* u = m_units.Find(planned.record);
    if (leftAlone(u)) continue;
    if (!m_options.again) {
      const auto end = m_ends.find(PhysicalDeviceKey(planned.record));
      if ((end != m_ends.end() && end->second) ||
          (m_options.doneBefore && m_options.doneBefore(planned.record))) {
        Ignore(*u, kDoneBeforeReason);
        continue;
      }
    }
    u->queued = true;
    if (!m_firstFound) m_firstFound = std::chrono::steady_clock::now();
    m_station.OnFound(u->unit);
  }
}

void CStation::Ended(const StationUnit& unit, const CommandResult& result) {
  std::lock_guard lock(m_lock);
  if (CStationUnits::Unit* u = m_units.Find(unit.record)) {
    u->done = true;
    u->busy = false;
  }
  m_ends[PhysicalDeviceKey(unit.record)] = result.outcome == Outcome::kOk;
  m_lastEnd = std::chrono::steady_clock::now();
  m_station.OnDone(unit, result);
}

void CStation::Listen(const std::atomic<bool>& batchRunning) {
  try {
    while (batchRunning) {
      const std::vector<DeviceRecord> heard = ListenToTheBench(m_network, m_clock);
      if (!batchRunning) return;
      std::lock_guard lock(m_lock);
      Heard(heard);
    }
  } catch (const CCommandCancelled&) {
    // Interrupted: the batch ends interrupted too, and says so.
  }
}

// The fleet's events of one batch, as the station's, by unit.
class CBatchToStation : public IFleetObserver {
 public:
  using Finish = std::function<void(size_t planned, const CommandResult& result)>;
  CBatchToStation(IStationObserver& station, std::recursive_mutex& lock,
                  std::map<size_t, StationUnit> units, std::chrono::milliseconds interval,
                  Finish finish)
      : m_station(station),
        m_lock(lock),
        m_units(std::move(units)),
        m_interval(interval),
        m_finish(std::move(finish)) {}

  void OnBlocksWritten(size_t device, uint32_t done, uint32_t total) override {
    const auto now = std::chrono::steady_clock::now();
    std::lock_guard lock(m_lock);
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
  std::recursive_mutex& m_lock;
  const std::map<size_t, StationUnit> m_units;
  const std::chrono::milliseconds m_interval;
  const Finish m_finish;
  std::map<size_t, std::chrono::steady_clock::time_point> m_told;
};

bool CStation::RunBatch(const std::vector<DeviceRecord>& listed, bool& ranAny) {
  FleetRunOptions run;
  std::map<size_t, StationUnit> batch;
  FleetPlan plan;
  {
    std::lock_guard lock(m_lock);
    plan = PlanFleet(listed, *m_options.bytes, m_filter);
    for (size_t i = 0; i < plan.planned.size(); ++i) {
      CStationUnits::Unit* u = m_units.Find(plan.planned[i].record);
      if (u == nullptr || !u->queued) continue;
      u->queued = false;
      u->busy = true;
      run.chosen.push_back(i);
      batch.emplace(i, u->unit);
    }
  }
  ranAny = !run.chosen.empty();
  if (!ranAny) return true;
  run.path = m_options.path;
  run.bytes = m_options.bytes;
  run.parallel = std::max(m_options.parallel, 1);
  run.stopAfterDevice = m_options.stop;
  run.waits = m_options.waits;
  CBatchToStation fleet(
      m_station, m_lock, batch, m_options.writingInterval,
      [&](size_t planned, const CommandResult& result) { Ended(batch.at(planned), result); });
  std::atomic<bool> running = true;
  std::thread listener([&] { Listen(running); });
  FleetRunEnd ran;
  try {
    ran = RunFleetUpdate(plan, run, m_network, m_clock, m_observer, fleet);
  } catch (...) {
    running = false;
    listener.join();
    throw;
  }
  running = false;
  listener.join();
  // Units a stop came before are no longer in a batch.
  std::lock_guard lock(m_lock);
  for (const auto& [planned, unit] : batch)
    if (CStationUnits::Unit* u = m_units.Find(unit.record); u != nullptr && u->busy)
      u->busy = false;
  return !ran.interrupted;
}

StationEnd CStation::Run() {
  const auto begun = std::chrono::steady_clock::now();
  StationEnd end;
  m_station.OnReady();
  // The search that closed a batch (it confirmed the units) is as fresh as
  // one of the station's own: its list is taken as the next.
  bool listFresh = false;
  for (;;) {
    if (Stopped()) break;
    if (!listFresh) {
      // Waiting for the devices, a unit not heard before ends the search:
      // a unit missing from a list cut short is not yet gone, that takes
      // two searches.
      const auto newUnit = [this] {
        std::lock_guard lock(m_lock);
        for (const DeviceRecord& r : m_network.Devices().Listed())
          if (r.slaveNumber == 0 && m_units.Find(r) == nullptr) return true;
        return false;
      };
      try {
        StationSearch(m_network, m_searchClock,
                      m_options.waits.ready ? std::function<bool()>(newUnit) : nullptr);
      } catch (const CCommandCancelled&) {
        if (!m_searchClock.stopped) end.interrupted = true;
        break;
      }
    }
    listFresh = false;
    const std::vector<DeviceRecord> listed = m_network.Devices().Listed();
    {
      std::lock_guard lock(m_lock);
      Heard(listed);
    }
    bool ranAny = false;
    if (!RunBatch(listed, ranAny)) {
      end.interrupted = true;
      break;
    }
    if (!ranAny) continue;
    // A wait that ended at the batch's own answers heard only them: a unit
    // still on the bench that had not answered yet would count as gone.
    listFresh = !m_options.waits.ready;
    if (m_options.once) break;
  }
  std::lock_guard lock(m_lock);
  // Each unit once: by its last update's end, else as left alone.
  for (const auto& [unit, ok] : m_ends) ++(ok ? end.tally.ok : end.tally.failed);
  for (const auto& [unit, units] : m_ignored)
    if (m_ends.count(unit) == 0) end.tally.ignored += units;
  end.tally.elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now() - begun);
  if (m_firstFound && m_lastEnd)
    end.tally.producing =
        std::chrono::duration_cast<std::chrono::milliseconds>(*m_lastEnd - *m_firstFound);
  return end;
}

}  // namespace

StationEnd RunStation(const StationOptions& options, INetwork& network, IClock& clock,
                      ICommandObserver& observer, IStationObserver& station) {
  return CStation(options, network, clock, observer, station).Run();
}

}  // namespace quorvik
