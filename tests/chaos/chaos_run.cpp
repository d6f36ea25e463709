#include "tests/chaos/chaos_run.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <random>
#include <regex>

#include <unistd.h>

#include "app/quorvik_dlg.h"
#include "commands/firmware_file.h"
#include "devices/device_list.h"
#include "net/bytes.h"
#include "net/frames.h"
#include "net/reply_processing.h"
#include "net/reply_state.h"
#include "net/transport.h"
#include "records/journal.h"
#include "tests/support/datagram_builder.h"
#include "tests/support/fake_main_view.h"
#include "tests/support/firmware_file_builder.h"
#include "tests/support/scratch_directory.h"
#include "tools/devsim/reply_frames.h"
#include "tools/devsim/simulation.h"

namespace quorvik {

namespace {

constexpr Ipv4Address kDeviceAddress = {10, 20, 0, 7};
constexpr Ipv4Address kStrangerAddress = {10, 20, 0, 99};
constexpr std::array<uint8_t, 6> kMac = {0x00, 0x0A, 0x95, 0x42, 0x00, 0x07};

uint16_t OpcodeOf(std::span<const uint8_t> datagram) {
  return FrameReader(datagram).Le16(8);
}

// One device, its faults and the foreign traffic around it, on a virtual
// clock that every wait of the logic passes through.
class CWorld : public ITransport, public IClock, public IReplyTime {
 public:
  CWorld(const ChaosSchedule& s, DeviceSession& devices)
      : m_devices(devices),
        m_schedule(s),
        m_rng(s.seed ^ 0x9E3779B97F4A7C15ull),
        m_simulation({DeviceFor(s)},
                     [this](uint16_t port, std::span<const uint8_t> bytes, const std::string&) {
                       return FromDevice(port, bytes);
                     }) {}

  // ITransport: a request reaches the device at once (loopback).
  bool Send(SocketSlot, uint16_t port, std::span<const uint8_t> datagram) override {
    const uint16_t opcode = OpcodeOf(datagram);
    const bool boot = HasMagic(datagram, kBootMagic);
    if (boot && opcode == kOpWriteBlock) {
      ++m_writes;
      m_simulation.OnDatagram(port, datagram, m_now);
      if (m_chaos && m_writes == m_schedule.restartAtWrite)
        m_simulation.RestartDevice(0, m_now, m_schedule.restartMs);
      if (m_chaos &&
          std::count(m_schedule.strayAcksAt.begin(), m_schedule.strayAcksAt.end(), m_writes) != 0) {
        const auto stray = m_schedule.strayFailures
                               ? EncodeVerifyReply(static_cast<uint16_t>(m_rng()), 0x0005)
                               : EncodeWriteBlockReply();
        Inject(m_now + Uniform(0, m_schedule.ackDelayMs + 2), kBootPortA, stray, kStrangerAddress);
      }
      return true;
    }
    if (boot && opcode == kOpRunApplication) {
      ++m_runRequests;
      if (m_writes > 0) ++m_runRequestsAfterWrites;
      // A damaged image that does not start leaves the loader in charge.
      if (!ImageIntact() && !m_schedule.damagedImageStarts) return true;
    }
    m_simulation.OnDatagram(port, datagram, m_now);
    return true;
  }

  // IClock
  void SleepFor(std::chrono::milliseconds duration) override {
    RunUntil(m_now + static_cast<uint64_t>(duration.count()), nullptr);
  }
  // IReplyTime
  void PassUntil(std::chrono::milliseconds limit, const std::function<bool()>& done) override {
    RunUntil(m_now + static_cast<uint64_t>(limit.count()), &done);
  }

  // From here on the faults apply: start-up finds the device undisturbed.
  void StartChaos() {
    m_chaos = true;
    if (m_schedule.floodPerSecond > 0) m_nextFlood = m_now + FloodGap();
  }

  const CSimDevice& Device() const { return m_simulation.Devices()[0]; }
  uint64_t now() const { return m_now; }
  int runRequestsAfterWrites() const { return m_runRequestsAfterWrites; }
  void SetExpected(std::vector<uint8_t> padded) { m_expected = std::move(padded); }
  bool ImageIntact() const { return Device().Image() == m_expected; }

 private:
  struct Injection {
    uint16_t port;
    std::vector<uint8_t> bytes;
    Ipv4Address from;
  };

  static DeviceConfig DeviceFor(const ChaosSchedule& s) {
    return ChaosDevice(s, kMac, 0x51, "Chaos Node");
  }

  uint64_t Uniform(uint64_t low, uint64_t high) {
    return std::uniform_int_distribution<uint64_t>(low, high)(m_rng);
  }
  uint64_t FloodGap() {
    return std::max<uint64_t>(1,
                              Uniform(1, 2000 / static_cast<uint64_t>(m_schedule.floodPerSecond)));
  }

  void Inject(uint64_t at, uint16_t port, std::vector<uint8_t> bytes, const Ipv4Address& from) {
    m_injections.emplace(std::make_pair(at, m_sequence++), Injection{port, std::move(bytes), from});
  }

  // Every answer of the device passes here on its way to the receivers.
  bool FromDevice(uint16_t port, std::span<const uint8_t> reply) {
    std::vector<uint8_t> bytes(reply.begin(), reply.end());
    const Ipv4Address from = m_schedule.sharedAddress ? Ipv4Address{} : kDeviceAddress;
    if (m_chaos && HasMagic(bytes, kBootMagic)) {
      const uint16_t opcode = OpcodeOf(bytes);
      if (opcode == kOpWriteBlockReply && std::count(m_schedule.duplicateAcks.begin(),
                                                     m_schedule.duplicateAcks.end(), ++m_acks) != 0)
        Inject(m_now + Uniform(11, 40), port, bytes, from);
      if (opcode == kOpVerifyReply && m_schedule.dropVerify && m_writes > 0 &&
          m_simulation.Devices()[0].Counters().verifies > 0)
        return true;
    }
    if (m_chaos && static_cast<int>(Uniform(0, 99)) < m_schedule.truncatePercent)
      bytes.resize(Uniform(0, bytes.size() - 1));
    else if (m_chaos && static_cast<int>(Uniform(0, 99)) < m_schedule.oversizePercent)
      bytes.resize(1200 + Uniform(0, 400), 0xA5);
    ProcessDatagram(m_devices, port, bytes, from);
    return true;
  }

  void Flood() {
    auto [port, bytes] = ForeignDatagram(m_rng);
    ProcessDatagram(m_devices, port, bytes, kStrangerAddress);
  }

  void RunUntil(uint64_t deadline, const std::function<bool()>* done) {
    for (;;) {
      if (done != nullptr && (*done)()) return;
      uint64_t next = deadline;
      if (auto due = m_simulation.NextDueMs()) next = std::min(next, *due);
      if (!m_injections.empty()) next = std::min(next, m_injections.begin()->first.first);
      if (m_nextFlood != 0) next = std::min(next, m_nextFlood);
      m_now = std::max(m_now, next);
      m_simulation.RunDue(m_now);
      while (!m_injections.empty() && m_injections.begin()->first.first <= m_now) {
        Injection injection = std::move(m_injections.begin()->second);
        m_injections.erase(m_injections.begin());
        ProcessDatagram(m_devices, injection.port, injection.bytes, injection.from);
      }
      if (m_nextFlood != 0 && m_nextFlood <= m_now) {
        Flood();
        m_nextFlood = m_now + FloodGap();
      }
      if (m_now >= deadline) {
        if (done == nullptr || !(*done)()) return;
      }
    }
  }

  DeviceSession& m_devices;
  const ChaosSchedule& m_schedule;
  std::mt19937_64 m_rng;
  CSimulation m_simulation;
  std::multimap<std::pair<uint64_t, uint64_t>, Injection> m_injections;
  uint64_t m_sequence = 0;
  uint64_t m_now = 0;
  uint64_t m_nextFlood = 0;
  bool m_chaos = false;
  uint32_t m_writes = 0;
  uint32_t m_acks = 0;
  int m_runRequests = 0;
  int m_runRequestsAfterWrites = 0;
  std::vector<uint8_t> m_expected;
};

// What the journal took, read back as a line would be.
class CJournalCopy : public IResultSink {
 public:
  void OnResult(const CommandResult& result) override {
    lines.push_back(*DecodeJsonObject(
        EncodeJsonObject(JournalRecord(result, {"chaos", "quorvik", "10.20.0.1"}))));
  }
  std::vector<FlatRecord> lines;
};

bool IsRefusalLine(const std::string& line) {
  for (FirmwareVerdict v : {FirmwareVerdict::kWrongDevice, FirmwareVerdict::kWrongMcu,
                            FirmwareVerdict::kWrongBootloader, FirmwareVerdict::kUnreadable,
                            FirmwareVerdict::kSectionTooLarge, FirmwareVerdict::kNoSections,
                            FirmwareVerdict::kFileTooLarge})
    if (line == FirmwareVerdictLine(v)) return true;
  return line == "Block size not supported! (ERROR BLOCK)";
}

}  // namespace

bool IsFailureLine(const std::string& line) {
  static const std::regex timeout(R"(Timeout on write data! \[[0-9a-f]{4}\])");
  return std::regex_match(line, timeout) || line == "Firmware verification failed!" ||
         line == kLostAfterRestartLine;
}

std::pair<uint16_t, std::vector<uint8_t>> ForeignDatagram(std::mt19937_64& rng) {
  const auto uniform = [&](uint64_t low, uint64_t high) {
    return std::uniform_int_distribution<uint64_t>(low, high)(rng);
  };
  const uint16_t ports[] = {kBootPortA, kBootPortB, kAppPort};
  const uint16_t port = ports[uniform(0, 2)];
  const std::vector<uint8_t> mac = {0x02, 0xF1, 0, 0, 0, static_cast<uint8_t>(uniform(0, 40))};
  const auto id = IdentityBytes(static_cast<uint8_t>(0xA0 + uniform(0, 40)), 11);
  std::vector<uint8_t> bytes;
  switch (uniform(0, 4)) {
    case 0:
      bytes = Gen1Answer(1, 0x0100, 0x0461, 256, mac, id).Vector();
      break;
    case 1:
      bytes = Gen3Answer(0x0381, 0x0100, 0x3680, 0x21, 256, mac, 1, id).Vector();
      break;
    case 2:
      bytes = AppAnswer(0x0100, mac, "Foreign", id).Vector();
      break;
    case 3:
      bytes = CDatagram(kBootMagic, static_cast<uint16_t>(0x5000 + uniform(0, 0x40)), 40).Vector();
      if (OpcodeOf(bytes) == kOpWriteBlockReply || OpcodeOf(bytes) == kOpVerifyReply)
        bytes[8] = 0x77;
      break;
    default:
      bytes.resize(uniform(0, 1500));
      for (uint8_t& b : bytes) b = static_cast<uint8_t>(rng());
      break;
  }
  return {port, std::move(bytes)};
}

std::string ChaosSchedule::Describe() const {
  char text[256];
  std::snprintf(text, sizeof text, "seed %llu: type 0x%04x%s block %u length %u%s",
                static_cast<unsigned long long>(seed), typeWord,
                startsInApplication ? " from app" : "", blockSize, sectionLength,
                sharedAddress ? " shared-address" : "");
  std::string out = text;
  const auto list = [&](const char* name, const std::vector<uint32_t>& v) {
    if (v.empty()) return;
    out += std::string(" ") + name + "=";
    for (size_t i = 0; i < v.size(); ++i) out += (i ? "," : "") + std::to_string(v[i]);
  };
  list("drop", droppedAcks);
  list("late", lateAcks);
  list("dup", duplicateAcks);
  list(strayFailures ? "stray-fail" : "stray", strayAcksAt);
  for (const auto& [ordinal, status] : failedWrites)
    out += " fail=" + std::to_string(ordinal) + ":" + std::to_string(status);
  if (corruptVerify) out += " corrupt-verify";
  if (dropVerify) out += " drop-verify";
  if (neverReturns) out += " never-returns";
  if (restartAtWrite != 0)
    out += " restart=" + std::to_string(restartAtWrite) + "/" + std::to_string(restartMs) + "ms";
  if (truncatePercent != 0) out += " truncate=" + std::to_string(truncatePercent) + "%";
  if (oversizePercent != 0) out += " oversize=" + std::to_string(oversizePercent) + "%";
  if (floodPerSecond != 0) out += " flood=" + std::to_string(floodPerSecond) + "/s";
  if (damagedImageStarts) out += " damaged-starts";
  return out;
}

ChaosSchedule DrawSchedule(uint64_t seed) {
  std::mt19937_64 rng(seed);
  const auto uniform = [&](uint64_t low, uint64_t high) {
    return std::uniform_int_distribution<uint64_t>(low, high)(rng);
  };
  const auto chance = [&](int percent) { return static_cast<int>(uniform(0, 99)) < percent; };
  ChaosSchedule s;
  s.seed = seed;
  // Every generation, with and without verification (and factory reset in
  // the low byte where it has one).
  const uint16_t types[] = {1, 0x0105, 0x0200, 0x0240, 0x0300, 0x0301, 0x0380, 0x0381};
  s.typeWord = types[uniform(0, 7)];
  s.startsInApplication = chance(30);
  s.blockSize = static_cast<uint16_t>(uniform(64, 512));
  // Lengths across the whole range, with short sections (none at all, less
  // than a block) drawn often enough to matter.
  s.sectionLength =
      static_cast<uint32_t>(chance(15) ? uniform(0, 2 * s.blockSize)
                                       : uniform(0, chance(70) ? 16384 : kFirmwareImageSize));
  s.sharedAddress = chance(30);
  s.ackDelayMs = static_cast<uint32_t>(uniform(0, 6));
  const uint32_t blocks = BlockCount(s.sectionLength, s.blockSize);
  const auto someWrite = [&] {
    return static_cast<uint32_t>(uniform(1, std::max<uint32_t>(blocks, 1)));
  };
  if (chance(25)) return s;  // a clean run now and then
  const int faults = static_cast<int>(uniform(1, 3));
  for (int f = 0; f < faults; ++f) {
    switch (uniform(0, 11)) {
      case 0:
        s.droppedAcks.push_back(someWrite());
        break;
      case 1:
        s.lateAcks.push_back(someWrite());
        break;
      case 2:
        for (uint64_t n = uniform(1, 4); n > 0; --n) s.duplicateAcks.push_back(someWrite());
        break;
      case 3:
        for (uint64_t n = uniform(1, 4); n > 0; --n) s.strayAcksAt.push_back(someWrite());
        s.strayFailures = chance(30);
        break;
      case 4:
        s.failedWrites.push_back({someWrite(), static_cast<uint16_t>(uniform(1, 0xFFFF))});
        break;
      case 5:
        s.corruptVerify = true;
        break;
      case 6:
        s.dropVerify = true;
        break;
      case 7:
        s.neverReturns = true;
        break;
      case 8:
        s.restartAtWrite = someWrite();
        s.restartMs = static_cast<uint32_t>(uniform(1, 7000));
        break;
      case 9:
        s.truncatePercent = static_cast<int>(uniform(1, 10));
        s.oversizePercent = static_cast<int>(uniform(0, 10));
        break;
      case 10:
        s.floodPerSecond = static_cast<int>(uniform(20, 400));
        break;
      default:
        // The faults that together defeat a loader without verification:
        // a restart that loses the next block, and a stranger's
        // acknowledgement that ends the wait for it.
        s.restartAtWrite = someWrite();
        s.restartMs = static_cast<uint32_t>(uniform(1, 40));
        s.strayAcksAt.push_back(s.restartAtWrite + 1);
        break;
    }
  }
  s.damagedImageStarts = chance(50);
  return s;
}

ChaosOutcome RunSchedule(const ChaosSchedule& schedule) {
  ChaosOutcome out;
  CChaosNetwork network;
  DeviceSession& devices = network.Devices();
  CWorld world(schedule, devices);
  network.SendThrough(world);
  devices.replyChannels.SetTime(&world);

  // One section for the device (and another before it, so that the walk
  // goes past a section that does not fit).
  static const std::string file = (std::filesystem::temp_directory_path() /
                                   ("quorvik-chaos-" + std::to_string(::getpid()) + ".bin"))
                                      .string();
  const std::vector<uint8_t> data =
      PatternBytes(schedule.sectionLength, static_cast<uint8_t>(schedule.seed));
  WriteFile(file, FirmwareFileBytes(2, {{kChaosMcu, 0x0001, 0, 0, PatternBytes(7)},
                                        {kChaosMcu, kChaosDeviceType, 0x01, 0x05, data}}));
  const uint32_t blocks = BlockCount(schedule.sectionLength, schedule.blockSize);
  std::vector<uint8_t> padded = data;
  padded.resize(size_t{blocks} * schedule.blockSize, 0xFF);
  world.SetExpected(padded);
  out.canVerify = schedule.typeWord >= 0x300 && (schedule.typeWord & 0x80) != 0;

  CFakeMainView view;
  CRecordedResults results;
  CJournalCopy journal;
  CQuorvikDlg dlg(view, network, world);
  dlg.SetResultSink(&results);
  dlg.SetJournal(&journal);
  dlg.OnInitDialog();
  {
    std::lock_guard lock(devices.deviceMutex);
    for (int i = 0, used = CountUsedRecords(devices.deviceTable); i < used; ++i)
      if (devices.deviceTable[i].mac == kMac) view.selectedRow = i;
  }
  if (view.selectedRow < 0) {
    out.violations.push_back("the device was not listed at start-up");
    devices.replyChannels.SetTime(nullptr);
    return out;
  }
  view.chosenFile = file;
  // As after an update of another device with the same file: the last
  // verify answer carries the very checksum this update expects.
  ProcessDatagram(devices, kBootPortA, EncodeVerifyReply(ComputeImageCrc(padded), 0),
                  kStrangerAddress);
  world.StartChaos();
  view.events.clear();
  const uint64_t start = world.now();
  dlg.OnFirmwareUpdate();
  const uint64_t took = world.now() - start;
  devices.replyChannels.SetTime(nullptr);

  const auto violation = [&](const std::string& what) { out.violations.push_back(what); };
  if (results.results.size() != 1) {
    violation("results handed out: " + std::to_string(results.results.size()));
    if (results.results.empty()) return out;
  }
  const CommandResult& r = results.results.front();
  out.result = r;
  out.imageIntact = world.ImageIntact();
  const bool ok = r.outcome == Outcome::kOk;
  const bool wroteOrFailedWriting = r.statusLine.rfind("Timeout on write data!", 0) == 0 ||
                                    r.statusLine == "Firmware verification failed!";

  if (ok && !out.imageIntact) {
    const uint16_t expectedCrc = ComputeImageCrc(padded);
    out.undetectable = !out.canVerify || world.Device().ImageCrc() == expectedCrc;
    out.falseSuccess = !out.undetectable;
  }
  out.caughtByConfirmation = !out.imageIntact && r.confirmed == Confirmation::kInLoader;

  std::vector<std::string> logged;
  for (const auto& e : view.events)
    if (e.rfind("log ", 0) == 0) logged.push_back(e.substr(4));
  const bool runLogged = std::count(logged.begin(), logged.end(), "RUN application.") != 0;
  if (ok && (!runLogged || !r.runRequestSent)) violation("ok without RUN application.");
  if (wroteOrFailedWriting && (runLogged || world.runRequestsAfterWrites() > 0))
    violation("RUN application. after a failed write or verify");
  if (r.outcome == Outcome::kFailed && !IsFailureLine(r.statusLine) &&
      r.confirmed != Confirmation::kInLoader)
    violation("failed with \"" + r.statusLine + "\"");
  if (r.outcome == Outcome::kRefused && !IsRefusalLine(r.statusLine))
    violation("refused with \"" + r.statusLine + "\"");
  if (r.outcome != Outcome::kOk && r.outcome != Outcome::kFailed && r.outcome != Outcome::kRefused)
    violation(std::string("outcome ") + OutcomeName(r.outcome));
  if (!r.statusLine.empty() && std::count(logged.begin(), logged.end(), r.statusLine) == 0)
    violation("its line \"" + r.statusLine + "\" was not logged");
  // Restart, search, every block's full wait, the verification, the pause
  // and search after the run, and the alerts.
  const uint64_t bound =
      6000 + 2000 + uint64_t{blocks} * (5000 + 10) + 5000 + 100 + 3000 + 2000 + 10 * 100 + 1000;
  if (took > bound)
    violation("took " + std::to_string(took) + " ms of virtual time, more than " +
              std::to_string(bound));
  if (journal.lines.size() != results.results.size()) {
    violation("journal lines: " + std::to_string(journal.lines.size()));
  } else if (r.frameSent) {
    const FlatRecord& line = journal.lines.front();
    const FlatRecord fields = ResultFields(r);
    for (const char* name : {"outcome", "reason", "confirmed", "blocks", "crc", "verified"})
      if (FieldOf(line, name) == nullptr || *FieldOf(line, name) != *FieldOf(fields, name))
        violation(std::string("journal field ") + name + " differs from the result");
  }
  if (out.falseSuccess) violation("false success: ok, but the device holds another image");
  return out;
}

}  // namespace quorvik
