#pragma once
// Fleet updates of several devices at once under randomised fault
// schedules, in process and in virtual time: the fleet's waves and lanes,
// the real requests and reply processing, against simulated devices on
// addresses of their own, shared or unknown, whose answers are dropped,
// delayed, doubled, cut short, or cross over to another device's wait.
// The lanes run on threads that a virtual clock schedules one at a time, so
// that a seed replays the same interleaving.

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "net/device_record.h"

namespace quorvik {

struct FleetChaosDevice {
  uint16_t typeWord = 0x0381;
  bool startsInApplication = false;
  uint16_t blockSize = 256;
  // 0.0.0.0: answers from no address of its own.
  Ipv4Address address{};
  uint32_t ackDelayMs = 1;
  std::vector<uint32_t> droppedAcks;
  std::vector<uint32_t> lateAcks;       // acknowledged after the 5 s wait
  std::vector<uint32_t> duplicateAcks;  // acknowledged twice
  // After these writes an acknowledgement arrives from another device of
  // the rig (or a stranger when there is none).
  std::vector<uint32_t> crossingAcksAt;
  std::vector<std::pair<uint32_t, uint16_t>> failedWrites;
  bool corruptVerify = false;
  bool neverReturns = false;
  uint32_t restartAtWrite = 0;
  uint32_t restartMs = 0;
  bool damagedImageStarts = false;
  // Restarted by the tool, it is silent this long before its loader answers.
  uint32_t bootDelayMs = 800;
  // Its loader answers searches at once but takes blocks only this long
  // after it came up.
  uint32_t takesBlocksAfterMs = 0;
  // Its loader comes up, answers, and restarts once more after this long:
  // a restart loop that answers the search twice.
  uint32_t restartLoopMs = 0;
  // Started after its update, its application answers and then drops back
  // into the loader after this long (a watchdog).
  uint32_t dropsBackAfterMs = 0;
};

struct FleetChaosSchedule {
  uint64_t seed = 0;
  int parallel = 2;
  uint32_t sectionLength = 1000;
  std::vector<FleetChaosDevice> devices;
  int truncatePercent = 0;
  int floodPerSecond = 0;
  // The fleet waits for the devices' answers rather than the fixed pauses.
  bool readiness = false;
  uint32_t settleMs = 300;

  std::string Describe() const;
};

FleetChaosSchedule DrawFleetSchedule(uint64_t seed);

struct FleetChaosOutcome {
  int updated = 0;
  int failed = 0;
  int falseSuccesses = 0;  // ok, damaged, and it could have been seen
  int undetectable = 0;    // ok, damaged, invisible to every means the protocol offers
  int damagedCaught = 0;   // damaged, reported as a failure
  std::vector<std::string> violations;
};

// Runs the schedule's fleet update from the planning search to the search
// that confirms its last wave, and checks it: a device reported updated
// holds exactly the padded section (or its damage is undetectable), no
// device is started after a failed write or verification, devices whose
// acknowledgements cannot be told apart are never written at the same
// time, no device restarted by the fleet is written before its loader
// answered, every planned device ends once with a result the journal
// matches, and the tally adds up.
FleetChaosOutcome RunFleetSchedule(const FleetChaosSchedule& schedule);

}  // namespace quorvik
