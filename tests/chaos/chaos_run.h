#pragma once
// Complete firmware updates under randomised fault schedules, in process and
// in virtual time: the window's own update procedure and requests, the real
// frame encoders and reply processing, against a simulated device whose
// answers are dropped, delayed, doubled, cut short, padded, answered by a
// stranger or drowned in foreign traffic. One schedule takes milliseconds,
// however many five-second time-outs it holds.

#include <cstdint>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "commands/command_result.h"
#include "commands/network.h"
#include "net/protocol.h"
#include "tests/support/datagram_builder.h"
#include "tools/devsim/sim_config.h"

namespace quorvik {

// The network of the window's logic: the real requests, sent through a
// simulated world instead of sockets.
class CChaosNetwork : public CSystemNetwork {
 public:
  InterfaceList EnumerateInterfaces() override {
    InterfaceList list;
    list.addresses[list.count++] = {10, 20, 0, 1};
    return list;
  }
  bool OpenNetwork(const std::string&) override { return true; }
  std::vector<PortProblem> PortProblems() override { return {}; }
};

// What can go wrong in one update; drawn from a seed, so that any schedule
// can be run again alone.
struct ChaosSchedule {
  uint64_t seed = 0;
  uint16_t typeWord = 0x0381;  // generation and flags of the loader
  bool startsInApplication = false;
  uint16_t blockSize = 256;
  uint32_t sectionLength = 1000;
  // The device answers from an address that other devices share (or none):
  // acknowledgements cannot be told apart by their sender.
  bool sharedAddress = false;

  std::vector<uint32_t> droppedAcks;    // write ordinals whose block is stored, never acknowledged
  std::vector<uint32_t> lateAcks;       // acknowledged after the 5 s wait
  std::vector<uint32_t> duplicateAcks;  // acknowledged twice, the second a little later
  std::vector<uint32_t>
      strayAcksAt;             // a stray acknowledgement from another device after this write
  bool strayFailures = false;  // the strays report a failure instead
  std::vector<std::pair<uint32_t, uint16_t>> failedWrites;  // not stored, answered with a status
  bool corruptVerify = false;
  bool dropVerify = false;
  bool neverReturns = false;
  uint32_t restartAtWrite = 0;  // 0: never; the device restarts just after this write
  uint32_t restartMs = 0;
  int truncatePercent = 0;  // of the device's answers, cut short
  int oversizePercent = 0;  // of the device's answers, padded past 1,024 bytes
  int floodPerSecond = 0;   // foreign datagrams
  // Whether a damaged image still starts (an application that checks
  // nothing); otherwise the device stays in its loader after the run request.
  bool damagedImageStarts = false;
  uint32_t ackDelayMs = 1;

  std::string Describe() const;
};

// The schedule of one seed: clean about one time in four, otherwise one or
// more faults.
ChaosSchedule DrawSchedule(uint64_t seed);

struct ChaosOutcome {
  CommandResult result;
  bool imageIntact = false;  // the device holds exactly the padded section
  bool canVerify = false;
  // The damage is invisible to every means the protocol offers: a loader
  // that cannot verify, or a checksum that happens to match.
  bool undetectable = false;
  bool falseSuccess = false;            // ok, damaged, and it could have been seen
  bool caughtByConfirmation = false;    // damaged, and the search after the run saw it
  std::vector<std::string> violations;  // broken invariants, for people
};

// Runs the schedule's update from start-up to the search that closes it.
ChaosOutcome RunSchedule(const ChaosSchedule& schedule);

// Traffic of other devices and of programs that are no devices at all, and
// the port it arrives on; never an acknowledgement (strays are a fault of
// their own).
std::pair<uint16_t, std::vector<uint8_t>> ForeignDatagram(std::mt19937_64& rng);

// A line that ends an update as the device's failure: a write time-out, a
// failed verification, or the device lost after its restart.
bool IsFailureLine(const std::string& line);

// Late acknowledgements arrive this long after the tool's wait for them.
constexpr uint32_t kChaosLateMs = 5000 + 300;
// The model and processor every chaos device is, and its file is made for.
constexpr uint16_t kChaosDeviceType = 0x3680;
constexpr uint16_t kChaosMcu = 0x0021;

// The simulated device of a schedule's loader and faults (a ChaosSchedule
// or one device of a fleet's), with the model and processor of the chaos
// firmware file and an identity of its generation's length from `first`.
template <typename Faults>
DeviceConfig ChaosDevice(const Faults& s, const std::array<uint8_t, 6>& mac, uint8_t first,
                         const char* name) {
  DeviceConfig d;
  d.mode = s.startsInApplication ? SimMode::kApp : SimMode::kBoot;
  d.loaderType = s.typeWord;
  d.deviceId = kChaosDeviceType;
  d.mcuId = kChaosMcu;
  d.blockSize = s.blockSize;
  d.mac = mac;
  const Generation gen = GenerationOf(s.typeWord);
  d.identity = IdentityBytes(first, gen == Generation::kGen1   ? 11
                                    : gen == Generation::kGen2 ? 16
                                                               : 12);
  d.name = name;
  d.bootDelayMs = 800;
  d.ackDelayMs = s.ackDelayMs;
  d.dropAcks = s.droppedAcks;
  for (uint32_t late : s.lateAcks) d.delayAcks.push_back({late, kChaosLateMs});
  for (const auto& [ordinal, status] : s.failedWrites) d.failWrites.push_back({ordinal, status});
  d.corruptVerifyCrc = s.corruptVerify;
  d.neverReturn = s.neverReturns;
  return d;
}

}  // namespace quorvik
