#pragma once
// The roll-call: a rig against what a Find listed. Every rig device is
// present, changed (present, with another version or mode), missing, or
// hidden (the black-list hides it, so the Find could not list it: the
// operator chose that, and it is no fault); every listed device the rig
// does not hold is unexpected. Unit rows are part of their device, never
// rig devices of their own.

#include <array>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "net/black_list_text.h"
#include "net/device_record.h"
#include "records/rig.h"

namespace quorvik {

enum class RollCallStatus { kPresent, kChanged, kMissing, kUnexpected, kHidden };
constexpr std::array<RollCallStatus, 5> kRollCallStatuses = {
    RollCallStatus::kPresent, RollCallStatus::kChanged, RollCallStatus::kMissing,
    RollCallStatus::kUnexpected, RollCallStatus::kHidden};
// "present", "changed", "missing", "unexpected", "hidden".
const char* RollCallStatusName(RollCallStatus status);

struct RollCallState {
  std::string version;
  std::string mode;  // "app" or "boot"
  bool operator==(const RollCallState&) const = default;
};

struct RollCallLine {
  RollCallStatus status = RollCallStatus::kPresent;
  int row = -1;                      // the list's row; -1 when not listed
  std::optional<size_t> entry;       // the rig's device; none for unexpected
  std::string device;                // as listed, else the rig's model
  std::string serial;                // as listed, else as the rig has it
  std::string mac;                   // as listed, else as the rig has it
  std::string label, location;       // the rig's
  std::optional<RollCallState> old;  // what the rig expects
  std::optional<RollCallState> now;  // what the Find listed
  int twins = 0;                     // devices answering as the listed serial, when more than one
  // With every network open: the listed card, and on how many cards the
  // device answered (see DeviceRow).
  std::string interface;
  int networks = 0;
};

struct RollCall {
  // The rig's devices in its order, then the unexpected in list order.
  std::vector<RollCallLine> lines;
  int Count(RollCallStatus status) const;
  // Every rig device present and unchanged (or hidden), nothing unexpected,
  // and no serial that several devices answer as.
  bool Passed() const;
};

RollCall CallRoll(const Rig& rig, std::span<const DeviceRecord> listed,
                  const CBlackListText& blackList);
// "3 present, 1 changed, 1 missing, 1 unexpected, 0 hidden".
std::string RollCallSummary(const RollCall& call);

}  // namespace quorvik
