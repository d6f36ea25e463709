#include "tests/chaos/chaos_fleet.h"

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <thread>

#include <unistd.h>

#include "commands/device_commands.h"
#include "commands/firmware_file.h"
#include "commands/fleet.h"
#include "commands/fleet_run.h"
#include "net/bytes.h"
#include "net/frames.h"
#include "net/reply_processing.h"
#include "net/reply_state.h"
#include "net/transport.h"
#include "tests/chaos/chaos_run.h"
#include "tests/support/datagram_builder.h"
#include "tests/support/firmware_file_builder.h"
#include "tests/support/journal_only_observer.h"
#include "tools/devsim/reply_frames.h"
#include "tools/devsim/simulation.h"

namespace quorvik {

namespace {

constexpr Ipv4Address kStrangerAddress = {10, 20, 0, 99};

std::array<uint8_t, 6> MacOf(size_t device) {
  return {0x00, 0x0A, 0x95, 0x43, 0x00, static_cast<uint8_t>(device + 1)};
}

// Whether a device's acknowledgements cannot be told from another's: it
// answers from no address, or from one that another device still answering
// uses too (one that restarted and never came back answers nothing).
bool SharesChannel(const FleetChaosSchedule& s, size_t device) {
  const Ipv4Address& a = s.devices[device].address;
  if (a == Ipv4Address{}) return true;
  for (size_t k = 0; k < s.devices.size(); ++k) {
    const FleetChaosDevice& other = s.devices[k];
    if (k != device && other.address == a && !(other.neverReturns && other.startsInApplication))
      return true;
  }
  return false;
}

thread_local int t_participant = 0;

// The devices, their faults and the traffic around them, on a virtual clock
// shared by the lanes. One participant (the fleet's thread, or one lane)
// runs at a time and holds the baton; when it waits it hands the baton to
// the next that may run, and when none may, time moves on to the next event.
// The order is fixed by participant number, so a seed replays exactly.
class CFleetWorld : public ITransport, public IClock, public IReplyTime {
 public:
  CFleetWorld(const FleetChaosSchedule& s, DeviceSession& devices,
              std::vector<std::vector<uint8_t>> expected)
      : m_devices(devices),
        m_schedule(s),
        m_rng(s.seed ^ 0xC2B2AE3D27D4EB4Full),
        m_expected(std::move(expected)),
        m_activity(s.devices.size()) {
    for (size_t i = 0; i < s.devices.size(); ++i)
      m_sims.push_back(std::make_unique<CSimulation>(
          std::vector<DeviceConfig>{ConfigOf(i)},
          [this, i](uint16_t port, std::span<const uint8_t> bytes, const std::string&) {
            return FromDevice(i, port, bytes);
          }));
    m_participants[0] = {State::kRunning};
  }

  bool Send(SocketSlot, uint16_t port, std::span<const uint8_t> datagram) override {
    std::lock_guard lock(m_mutex);
    const uint16_t opcode = FrameReader(datagram).Le16(8);
    const bool boot = HasMagic(datagram, kBootMagic);
    ++m_sequence;
    for (size_t i = 0; i < m_sims.size(); ++i) {
      const CSimDevice& device = m_sims[i]->Devices()[0];
      Activity& a = m_activity[i];
      if (boot && opcode == kOpRunApplication) {
        CSimDevice probe = device;
        if (!probe.Handle(port, datagram).accepted) continue;
        if (a.writes > 0) ++a.runsAfterWrites;
        // A damaged image that does not start leaves the loader in charge.
        if (!Intact(i) && !m_schedule.devices[i].damagedImageStarts) continue;
      }
      const DeviceCounters before = device.Counters();
      const SimState was = device.State();
      m_sims[i]->OnDatagram(port, datagram, m_now);
      const DeviceCounters& after = device.Counters();
      const FleetChaosDevice& s = m_schedule.devices[i];
      if (was == SimState::kApp && device.State() == SimState::kRestarting) {
        // Told to restart: until its loader answers, no block may reach it.
        a.awaitingLoader = true;
        if (m_chaos && s.restartLoopMs != 0 && !a.looped) {
          a.looped = true;
          m_restartsDue.emplace(m_now + s.bootDelayMs + s.restartLoopMs, i);
        }
      }
      if (m_chaos && was == SimState::kBoot && device.State() == SimState::kApp && a.writes > 0 &&
          s.dropsBackAfterMs != 0)
        m_restartsDue.emplace(m_now + s.dropsBackAfterMs, i);
      if (after.writes != before.writes) OnWrite(i, port);
      if (after.writes != before.writes || after.verifies != before.verifies) {
        if (a.first == 0) a.first = m_sequence;
        a.last = m_sequence;
      }
    }
    return true;
  }

  void SleepFor(std::chrono::milliseconds duration) override {
    Wait(static_cast<uint64_t>(duration.count()), nullptr);
  }
  void PassUntil(std::chrono::milliseconds limit, const std::function<bool()>& done) override {
    Wait(static_cast<uint64_t>(limit.count()), &done);
  }

  // Each lane on a thread of its own that runs only while it holds the
  // baton; the caller's thread waits for them all.
  void RunLanes(std::vector<std::function<void()>>& lanes) {
    if (lanes.empty()) return;
    const int me = t_participant;
    std::vector<std::thread> threads;
    {
      std::unique_lock lock(m_mutex);
      m_participants[me].state = State::kJoining;
      m_joiner = me;
      m_lanesLeft = lanes.size();
      for (std::function<void()>& lane : lanes) {
        const int id = m_nextId++;
        m_participants[id] = {State::kRunnable};
        threads.emplace_back([this, id, &lane] { RunLane(id, lane); });
      }
      PassBaton();
    }
    for (std::thread& t : threads) t.join();
    std::unique_lock lock(m_mutex);
    m_turn.wait(lock, [&] { return m_holder == me; });
    m_participants[me].state = State::kRunning;
  }

  // From here on the faults apply: the planning search finds every device
  // undisturbed.
  void StartChaos() {
    std::lock_guard lock(m_mutex);
    m_chaos = true;
    if (m_schedule.floodPerSecond > 0) m_nextFlood = m_now + FloodGap();
  }

  struct Activity {
    uint32_t writes = 0;
    uint32_t acks = 0;
    uint32_t runsAfterWrites = 0;
    bool awaitingLoader = false;
    bool looped = false;
    // The first and last write or verify request that reached the device,
    // as numbers in the order of everything sent.
    uint64_t first = 0;
    uint64_t last = 0;
  };
  const Activity& ActivityOf(size_t device) const { return m_activity[device]; }
  const CSimDevice& Device(size_t device) const { return m_sims[device]->Devices()[0]; }
  bool Intact(size_t device) const { return Device(device).Image() == m_expected[device]; }
  uint64_t now() const { return m_now; }
  std::vector<std::string> LaneFaults() {
    std::lock_guard lock(m_mutex);
    return m_laneFaults;
  }

 private:
  enum class State { kRunning, kRunnable, kWaiting, kJoining };
  struct Participant {
    State state = State::kRunnable;
    uint64_t deadline = 0;
    const std::function<bool()>* done = nullptr;
  };
  struct Injection {
    uint16_t port;
    std::vector<uint8_t> bytes;
    Ipv4Address from;
  };

  DeviceConfig ConfigOf(size_t i) const {
    const FleetChaosDevice& s = m_schedule.devices[i];
    DeviceConfig d = ChaosDevice(s, MacOf(i), static_cast<uint8_t>(0x31 + 16 * i), "Rig Node");
    d.bootDelayMs = s.bootDelayMs;
    d.takesBlocksAfterMs = s.takesBlocksAfterMs;
    return d;
  }

  uint64_t Uniform(uint64_t low, uint64_t high) {
    return std::uniform_int_distribution<uint64_t>(low, high)(m_rng);
  }
  uint64_t FloodGap() {
    return std::max<uint64_t>(1,
                              Uniform(1, 2000 / static_cast<uint64_t>(m_schedule.floodPerSecond)));
  }
  void Inject(uint64_t at, uint16_t port, std::vector<uint8_t> bytes, const Ipv4Address& from) {
    m_injections.emplace(std::make_pair(at, m_injected++), Injection{port, std::move(bytes), from});
  }

  void OnWrite(size_t i, uint16_t port) {
    const FleetChaosDevice& s = m_schedule.devices[i];
    if (m_activity[i].awaitingLoader)
      m_laneFaults.push_back("device " + std::to_string(i) +
                             " was written before its loader answered");
    const uint32_t ordinal = ++m_activity[i].writes;
    if (!m_chaos) return;
    if (ordinal == s.restartAtWrite) m_sims[i]->RestartDevice(0, m_now, s.restartMs);
    if (std::count(s.crossingAcksAt.begin(), s.crossingAcksAt.end(), ordinal) == 0) return;
    // Another device of the rig answers, as its own late or doubled
    // acknowledgement would.
    Ipv4Address from = kStrangerAddress;
    if (m_sims.size() > 1) {
      size_t other = Uniform(0, m_sims.size() - 2);
      if (other >= i) ++other;
      from = m_schedule.devices[other].address;
    }
    Inject(m_now + Uniform(0, s.ackDelayMs + 2), port, EncodeWriteBlockReply(), from);
  }

  // Every answer of device `i` passes here on its way to the receivers;
  // the world's lock is held.
  bool FromDevice(size_t i, uint16_t port, std::span<const uint8_t> reply) {
    std::vector<uint8_t> bytes(reply.begin(), reply.end());
    const FleetChaosDevice& s = m_schedule.devices[i];
    if (HasMagic(bytes, kBootMagic) && FrameReader(bytes).Le16(8) == kOpSearchReply)
      m_activity[i].awaitingLoader = false;
    if (m_chaos && HasMagic(bytes, kBootMagic) &&
        FrameReader(bytes).Le16(8) == kOpWriteBlockReply &&
        std::count(s.duplicateAcks.begin(), s.duplicateAcks.end(), ++m_activity[i].acks) != 0)
      Inject(m_now + Uniform(11, 40), port, bytes, s.address);
    if (m_chaos && static_cast<int>(Uniform(0, 99)) < m_schedule.truncatePercent)
      bytes.resize(Uniform(0, bytes.size() - 1));
    ProcessDatagram(m_devices, port, bytes, s.address);
    return true;
  }

  void RunLane(int id, std::function<void()>& lane) {
    t_participant = id;
    {
      std::unique_lock lock(m_mutex);
      m_turn.wait(lock, [&] { return m_holder == id; });
      m_participants[id].state = State::kRunning;
    }
    try {
      lane();
    } catch (...) {
      std::lock_guard lock(m_mutex);
      m_laneFaults.push_back("a lane ended with an exception");
    }
    std::unique_lock lock(m_mutex);
    m_participants.erase(id);
    if (--m_lanesLeft == 0) m_participants[m_joiner].state = State::kRunnable;
    PassBaton();
  }

  void Wait(uint64_t limit, const std::function<bool()>* done) {
    std::unique_lock lock(m_mutex);
    if (done != nullptr && (*done)()) return;
    const int me = t_participant;
    m_participants[me] = {State::kWaiting, m_now + limit, done};
    PassBaton();
    m_turn.wait(lock, [&] { return m_holder == me; });
    m_participants[me].state = State::kRunning;
  }

  // With the lock held: the baton to the first participant that may run,
  // time moving on until one may.
  void PassBaton() {
    for (;;) {
      uint64_t next = UINT64_MAX;
      for (auto& [id, p] : m_participants) {
        if (p.state == State::kRunnable) {
          m_holder = id;
          m_turn.notify_all();
          return;
        }
        if (p.state == State::kWaiting) next = std::min(next, p.deadline);
      }
      if (next == UINT64_MAX) {
        m_holder = -1;
        return;
      }
      Advance(next);
      for (auto& [id, p] : m_participants)
        if (p.state == State::kWaiting && (m_now >= p.deadline || (p.done && (*p.done)())))
          p.state = State::kRunnable;
    }
  }

  // Time to the next event, at most `limit`, and what falls due then.
  void Advance(uint64_t limit) {
    uint64_t next = limit;
    for (const auto& sim : m_sims)
      if (auto due = sim->NextDueMs()) next = std::min(next, *due);
    if (!m_injections.empty()) next = std::min(next, m_injections.begin()->first.first);
    if (m_nextFlood != 0) next = std::min(next, m_nextFlood);
    if (!m_restartsDue.empty()) next = std::min(next, m_restartsDue.begin()->first);
    m_now = std::max(m_now, next);
    for (const auto& sim : m_sims) sim->RunDue(m_now);
    while (!m_restartsDue.empty() && m_restartsDue.begin()->first <= m_now) {
      const size_t i = m_restartsDue.begin()->second;
      m_restartsDue.erase(m_restartsDue.begin());
      // A restart the device does of its own: the tool did not ask for it,
      // so no loader answer is awaited.
      if (m_sims[i]->Devices()[0].State() != SimState::kRestarting)
        m_sims[i]->RestartDevice(0, m_now, m_schedule.devices[i].bootDelayMs);
    }
    while (!m_injections.empty() && m_injections.begin()->first.first <= m_now) {
      Injection injection = std::move(m_injections.begin()->second);
      m_injections.erase(m_injections.begin());
      ProcessDatagram(m_devices, injection.port, injection.bytes, injection.from);
    }
    if (m_nextFlood != 0 && m_nextFlood <= m_now) {
      auto [port, bytes] = ForeignDatagram(m_rng);
      ProcessDatagram(m_devices, port, bytes, kStrangerAddress);
      m_nextFlood = m_now + FloodGap();
    }
  }

  DeviceSession& m_devices;
  const FleetChaosSchedule& m_schedule;
  std::mt19937_64 m_rng;
  std::vector<std::vector<uint8_t>> m_expected;
  std::vector<std::unique_ptr<CSimulation>> m_sims;
  std::vector<Activity> m_activity;
  std::multimap<std::pair<uint64_t, uint64_t>, Injection> m_injections;
  std::multimap<uint64_t, size_t> m_restartsDue;
  uint64_t m_injected = 0;
  uint64_t m_sequence = 0;
  uint64_t m_now = 0;
  uint64_t m_nextFlood = 0;
  bool m_chaos = false;
  std::vector<std::string> m_laneFaults;

  std::mutex m_mutex;
  std::condition_variable m_turn;
  std::map<int, Participant> m_participants;
  int m_holder = 0;
  int m_nextId = 1;
  int m_joiner = 0;
  size_t m_lanesLeft = 0;
};

// What the fleet tells, kept: the journal's results and each device's end.
class CFleetRecord : public IResultSink, public IFleetObserver {
 public:
  void OnResult(const CommandResult& result) override {
    std::lock_guard lock(m_mutex);
    journal.push_back(result);
  }

  void OnDeviceFinished(size_t device, const CommandResult& result, bool updated) override {
    std::lock_guard lock(m_mutex);
    ends.push_back({device, result, updated});
  }
  void OnDeviceNotReached(size_t device, const CommandResult& result) override {
    std::lock_guard lock(m_mutex);
    ends.push_back({device, result, false, true});
  }
  void OnStoppedBeforeTurn(size_t device) override {
    std::lock_guard lock(m_mutex);
    stopped.push_back(device);
  }

  struct End {
    size_t device;
    CommandResult result;
    bool updated;
    bool notReached = false;
  };
  std::vector<CommandResult> journal;
  std::vector<End> ends;
  std::vector<size_t> stopped;

 private:
  std::mutex m_mutex;
};

}  // namespace

std::string FleetChaosSchedule::Describe() const {
  std::string out = "fleet seed " + std::to_string(seed) + ": " + std::to_string(devices.size()) +
                    " devices, parallel " + std::to_string(parallel) + ", length " +
                    std::to_string(sectionLength);
  if (truncatePercent != 0) out += " truncate=" + std::to_string(truncatePercent) + "%";
  if (floodPerSecond != 0) out += " flood=" + std::to_string(floodPerSecond) + "/s";
  const auto list = [&](const char* name, const std::vector<uint32_t>& v) {
    if (v.empty()) return;
    out += std::string(" ") + name + "=";
    for (size_t i = 0; i < v.size(); ++i) out += (i ? "," : "") + std::to_string(v[i]);
  };
  for (size_t i = 0; i < devices.size(); ++i) {
    const FleetChaosDevice& d = devices[i];
    char head[96];
    std::snprintf(head, sizeof head, "\n  #%zu type 0x%04x%s block %u from %u.%u.%u.%u", i,
                  d.typeWord, d.startsInApplication ? " from app" : "", d.blockSize, d.address[0],
                  d.address[1], d.address[2], d.address[3]);
    out += head;
    list("drop", d.droppedAcks);
    list("late", d.lateAcks);
    list("dup", d.duplicateAcks);
    list("cross", d.crossingAcksAt);
    for (const auto& [ordinal, status] : d.failedWrites)
      out += " fail=" + std::to_string(ordinal) + ":" + std::to_string(status);
    if (d.corruptVerify) out += " corrupt-verify";
    if (d.neverReturns) out += " never-returns";
    if (d.restartAtWrite != 0)
      out +=
          " restart=" + std::to_string(d.restartAtWrite) + "/" + std::to_string(d.restartMs) + "ms";
    if (d.damagedImageStarts) out += " damaged-starts";
    if (d.bootDelayMs != 800) out += " boot=" + std::to_string(d.bootDelayMs) + "ms";
    if (d.takesBlocksAfterMs != 0)
      out += " blocks-after=" + std::to_string(d.takesBlocksAfterMs) + "ms";
    if (d.restartLoopMs != 0) out += " loop=" + std::to_string(d.restartLoopMs) + "ms";
    if (d.dropsBackAfterMs != 0) out += " drops-back=" + std::to_string(d.dropsBackAfterMs) + "ms";
  }
  if (readiness) out += "\n  waits: ready, settle " + std::to_string(settleMs) + " ms";
  return out;
}

FleetChaosSchedule DrawFleetSchedule(uint64_t seed) {
  std::mt19937_64 rng(seed);
  const auto uniform = [&](uint64_t low, uint64_t high) {
    return std::uniform_int_distribution<uint64_t>(low, high)(rng);
  };
  const auto chance = [&](int percent) { return static_cast<int>(uniform(0, 99)) < percent; };
  FleetChaosSchedule s;
  s.seed = seed;
  s.parallel = static_cast<int>(uniform(2, 6));
  s.sectionLength = static_cast<uint32_t>(chance(15) ? uniform(0, 600) : uniform(600, 6000));
  s.devices.resize(uniform(2, 8));
  const uint16_t types[] = {1, 0x0105, 0x0200, 0x0240, 0x0300, 0x0301, 0x0380, 0x0381};
  for (size_t i = 0; i < s.devices.size(); ++i) {
    FleetChaosDevice& d = s.devices[i];
    d.typeWord = types[uniform(0, 7)];
    d.startsInApplication = chance(40);
    d.blockSize = static_cast<uint16_t>(uniform(64, 512));
    d.ackDelayMs = static_cast<uint32_t>(uniform(0, 6));
    d.address = {10, 20, 0, static_cast<uint8_t>(10 + i)};
  }
  // Loaders that share an address (behind one router, or a placeholder),
  // and loaders with none.
  for (int n = chance(50) ? static_cast<int>(uniform(1, 2)) : 0; n > 0; --n)
    s.devices[uniform(1, s.devices.size() - 1)].address =
        s.devices[uniform(0, s.devices.size() - 1)].address;
  for (int n = chance(30) ? static_cast<int>(uniform(1, 2)) : 0; n > 0; --n)
    s.devices[uniform(0, s.devices.size() - 1)].address = {};
  if (chance(10)) s.truncatePercent = static_cast<int>(uniform(1, 8));
  if (chance(10)) s.floodPerSecond = static_cast<int>(uniform(20, 300));

  for (FleetChaosDevice& d : s.devices) {
    const uint32_t blocks = BlockCount(s.sectionLength, d.blockSize);
    const auto someWrite = [&] {
      return static_cast<uint32_t>(uniform(1, std::max<uint32_t>(blocks, 1)));
    };
    d.damagedImageStarts = chance(50);
    if (chance(40)) continue;  // this one clean
    for (int f = static_cast<int>(uniform(1, 2)); f > 0; --f) {
      switch (uniform(0, 8)) {
        case 0:
          d.droppedAcks.push_back(someWrite());
          break;
        case 1:
          d.lateAcks.push_back(someWrite());
          break;
        case 2:
          for (uint64_t n = uniform(1, 3); n > 0; --n) d.duplicateAcks.push_back(someWrite());
          break;
        case 3:
        case 4:
          for (uint64_t n = uniform(1, 4); n > 0; --n) d.crossingAcksAt.push_back(someWrite());
          break;
        case 5:
          d.failedWrites.push_back({someWrite(), static_cast<uint16_t>(uniform(1, 0xFFFF))});
          break;
        case 6:
          d.corruptVerify = true;
          break;
        case 7:
          d.neverReturns = true;
          break;
        default:
          // A restart that loses the next block, and an acknowledgement
          // from elsewhere that ends the wait for it.
          d.restartAtWrite = someWrite();
          d.restartMs = static_cast<uint32_t>(uniform(1, 40));
          d.crossingAcksAt.push_back(d.restartAtWrite + 1);
          break;
      }
    }
  }
  // Drawn last, so that a seed's earlier faults stay what they were.
  s.readiness = chance(50);
  s.settleMs = static_cast<uint32_t>(uniform(0, 600));
  for (FleetChaosDevice& d : s.devices) {
    if (chance(20)) d.bootDelayMs = static_cast<uint32_t>(uniform(50, 7500));
    if (chance(25)) d.takesBlocksAfterMs = static_cast<uint32_t>(uniform(1, 2000));
    // A device that falls silent of its own accord makes the address it
    // shares look like another's own for a while, which no list can tell:
    // only devices on addresses of their own do.
    const bool own = d.address != Ipv4Address{} &&
                     std::count_if(s.devices.begin(), s.devices.end(), [&](const auto& other) {
                       return other.address == d.address;
                     }) == 1;
    const bool loops = chance(10), dropsBack = chance(10);
    if (own && loops) d.restartLoopMs = static_cast<uint32_t>(uniform(20, 1500));
    if (own && dropsBack) d.dropsBackAfterMs = static_cast<uint32_t>(uniform(5, 2500));
  }
  return s;
}

FleetChaosOutcome RunFleetSchedule(const FleetChaosSchedule& schedule) {
  FleetChaosOutcome out;
  const auto violation = [&](const std::string& what) { out.violations.push_back(what); };
  const size_t count = schedule.devices.size();

  static const std::string path = (std::filesystem::temp_directory_path() /
                                   ("quorvik-fleet-chaos-" + std::to_string(::getpid()) + ".bin"))
                                      .string();
  const std::vector<uint8_t> data =
      PatternBytes(schedule.sectionLength, static_cast<uint8_t>(schedule.seed));
  const std::vector<uint8_t> file =
      FirmwareFileBytes(2, {{kChaosMcu, kChaosDeviceType, 0x01, 0x05, data}});
  WriteFile(path, file);
  std::vector<std::vector<uint8_t>> expected;
  uint64_t bound = 0;
  for (const FleetChaosDevice& d : schedule.devices) {
    const uint32_t blocks = BlockCount(schedule.sectionLength, d.blockSize);
    std::vector<uint8_t> padded = data;
    padded.resize(size_t{blocks} * d.blockSize, 0xFF);
    expected.push_back(std::move(padded));
    // A device's update with every wait taken in full, as if the fleet
    // went one device after the other.
    bound += 6000 + 2000 + uint64_t{blocks} * (5000 + 10) + 5000 + 100 + 3000 + 2000 + 1000;
  }

  CChaosNetwork network;
  DeviceSession& devices = network.Devices();
  CFleetWorld world(schedule, devices, expected);
  network.SendThrough(world);
  devices.replyChannels.SetTime(&world);
  CFleetRecord record;
  CJournalOnly frontEnd(record);
  SearchDevices(network, world, frontEnd, false);
  const std::vector<DeviceRecord> listed = devices.Listed();
  const FleetPlan plan = PlanFleet(listed, file);
  // Plan index to device.
  std::vector<size_t> deviceOf(plan.planned.size(), count);
  for (size_t k = 0; k < plan.planned.size(); ++k)
    for (size_t i = 0; i < count; ++i)
      if (plan.planned[k].record.mac == MacOf(i)) deviceOf[k] = i;
  // A loader the file was not made for is left out by the plan (and must
  // then be left alone).
  std::vector<bool> planned(count, false);
  for (size_t i : deviceOf)
    if (i < count) planned[i] = true;
  if (plan.planned.empty()) {
    devices.replyChannels.SetTime(nullptr);
    return out;
  }

  FleetRunOptions options;
  for (size_t k = 0; k < plan.planned.size(); ++k) options.chosen.push_back(k);
  options.path = path;
  options.bytes = std::make_shared<const std::vector<uint8_t>>(file);
  options.parallel = schedule.parallel;
  options.waits = {schedule.readiness, std::chrono::milliseconds(schedule.settleMs)};
  options.runLanes = [&world](std::vector<std::function<void()>>& lanes) { world.RunLanes(lanes); };
  world.StartChaos();
  const uint64_t start = world.now();
  const FleetRunEnd end = RunFleetUpdate(plan, options, network, world, frontEnd, record);
  const uint64_t took = world.now() - start;
  devices.replyChannels.SetTime(nullptr);

  for (const std::string& fault : world.LaneFaults()) violation(fault);
  if (end.interrupted || end.stopped || !record.stopped.empty())
    violation("the run ended early without being told to");
  if (took > bound)
    violation("took " + std::to_string(took) + " ms of virtual time, more than " +
              std::to_string(bound));

  std::vector<int> ends(count, 0);
  for (const CFleetRecord::End& e : record.ends) {
    const size_t i = e.device < deviceOf.size() ? deviceOf[e.device] : count;
    if (i == count) {
      violation("an end for a device not in the plan");
      continue;
    }
    ++ends[i];
    const CommandResult& r = e.result;
    const std::string tag = "device " + std::to_string(i) + ": ";
    const auto& activity = world.ActivityOf(i);
    e.updated ? ++out.updated : ++out.failed;
    if (e.updated != (r.outcome == Outcome::kOk))
      violation(tag + "counted " + (e.updated ? "updated" : "failed") + " with outcome " +
                OutcomeName(r.outcome));
    if (r.outcome != Outcome::kOk && r.outcome != Outcome::kFailed &&
        r.outcome != Outcome::kRefused)
      violation(tag + "outcome " + OutcomeName(r.outcome));
    const bool intact = world.Intact(i);
    if (e.updated && !intact) {
      const FleetChaosDevice& d = schedule.devices[i];
      const bool canVerify = d.typeWord >= 0x300 && (d.typeWord & 0x80) != 0;
      if (canVerify && world.Device(i).ImageCrc() != ComputeImageCrc(expected[i])) {
        ++out.falseSuccesses;
        violation(tag + "false success: ok, but the device holds another image");
      } else {
        ++out.undetectable;
      }
    }
    if (!e.updated && !intact && activity.writes > 0) ++out.damagedCaught;
    const bool wroteAndFailed = r.statusLine.rfind("Timeout on write data!", 0) == 0 ||
                                r.statusLine == "Firmware verification failed!";
    if (wroteAndFailed && activity.runsAfterWrites > 0)
      violation(tag + "started after \"" + r.statusLine + "\"");
    // Not found again, or not alone: nothing was sent to it, and the
    // reason says why.
    if (e.notReached && (r.frameSent || r.reason.empty()))
      violation(tag + "not reached, with \"" + r.reason + "\"" +
                (r.frameSent ? " after frames were sent" : ""));
    if (!e.notReached && r.outcome == Outcome::kFailed && !IsFailureLine(r.statusLine) &&
        r.confirmed != Confirmation::kInLoader)
      violation(tag + "failed with \"" + r.statusLine + "\" (" + r.reason + ")");
    const auto journalled =
        std::count_if(record.journal.begin(), record.journal.end(),
                      [&](const CommandResult& j) { return j.device.mac == MacOf(i); });
    const auto same =
        std::count_if(record.journal.begin(), record.journal.end(), [&](const CommandResult& j) {
          return j.device.mac == MacOf(i) && j.outcome == r.outcome && j.statusLine == r.statusLine;
        });
    if (r.frameSent ? (journalled != 1 || same != 1) : journalled > 1)
      violation(tag + "journal lines: " + std::to_string(journalled) +
                (same == 0 ? ", none like its result" : ""));
  }
  for (size_t i = 0; i < count; ++i) {
    if (ends[i] != (planned[i] ? 1 : 0))
      violation("device " + std::to_string(i) + " ended " + std::to_string(ends[i]) + " times");
    if (!planned[i] && world.ActivityOf(i).writes > 0)
      violation("device " + std::to_string(i) + " was written without being planned");
  }

  // Devices whose acknowledgements cannot be told apart are written one
  // after the other, and no more than `parallel` are written at once.
  for (size_t i = 0; i < count; ++i)
    for (size_t j = i + 1; j < count; ++j) {
      const auto& a = world.ActivityOf(i);
      const auto& b = world.ActivityOf(j);
      const bool sameAddress = schedule.devices[i].address == schedule.devices[j].address;
      if (a.first == 0 || b.first == 0 ||
          !(sameAddress || (SharesChannel(schedule, i) && SharesChannel(schedule, j))))
        continue;
      if (a.first < b.last && b.first < a.last)
        violation("devices " + std::to_string(i) + " and " + std::to_string(j) +
                  " share a channel and were written at the same time");
    }
  for (size_t i = 0; i < count; ++i) {
    const auto& a = world.ActivityOf(i);
    if (a.first == 0) continue;
    int atOnce = 0;
    for (size_t j = 0; j < count; ++j) {
      const auto& b = world.ActivityOf(j);
      atOnce += b.first != 0 && b.first <= a.first && a.first <= b.last;
    }
    if (atOnce > schedule.parallel)
      violation(std::to_string(atOnce) + " devices written at once, more than " +
                std::to_string(schedule.parallel));
  }

  const FleetTally& t = end.tally;
  if (t.planned != static_cast<int>(plan.planned.size()) || t.updated != out.updated ||
      t.failed != out.failed || t.updated + t.failed + t.notStarted != t.planned)
    violation("tally " + FleetTallyText(t) + " for " + std::to_string(out.updated) + " updated, " +
              std::to_string(out.failed) + " failed");
  return out;
}

}  // namespace quorvik
