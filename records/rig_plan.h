#pragma once
// The rig as desired state: for every device of a rig and every device a
// Find listed besides, what bringing it to the firmware the rig declares
// would do, and why. The updates it plans are a fleet plan whose devices
// each carry their own file, read once, and the version it must install,
// which the run reads back.

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "commands/fleet.h"
#include "net/black_list_text.h"
#include "net/device_record.h"
#include "records/rig.h"
#include "records/rig_firmware.h"
#include "records/roll_call.h"

namespace quorvik {

enum class RigAction {
  kUpToDate,
  kUpdate,
  kHeld,            // a downgrade, not allowed
  kNoFirmware,      // nothing declared for it
  kFileChanged,     // the declared file is not the one declared (or unreadable)
  kFileDoesNotFit,  // the file has no section that fits, or the device cannot take it
  kMissing,
  kHidden,  // missing, and the black-list hides it: the operator chose that
  kUnexpected,
  kAmbiguous,  // it cannot be told apart from another device
};
constexpr std::array<RigAction, 10> kRigActions = {
    RigAction::kUpToDate,   RigAction::kUpdate,      RigAction::kHeld,
    RigAction::kNoFirmware, RigAction::kFileChanged, RigAction::kFileDoesNotFit,
    RigAction::kMissing,    RigAction::kHidden,      RigAction::kUnexpected,
    RigAction::kAmbiguous};
// "up-to-date", "update", "held", "no-firmware", "file-changed",
// "file-does-not-fit", "missing", "hidden", "unexpected", "ambiguous".
const char* RigActionName(RigAction action);

struct RigPlanLine {
  RigAction action = RigAction::kUpToDate;
  // For people: "update 1.02 -> 3.04", "held: downgrade 3.10 -> 3.04".
  std::string reason;
  RollCallLine call;                // which device, as the roll-call tells it
  std::optional<uint16_t> running;  // the version it runs; none in its loader or not listed
  std::optional<uint16_t> declared;
  std::string file;              // the declared file, as found from the rig's folder
  std::optional<size_t> update;  // its index among the fleet plan's planned devices
};

struct RigPlan {
  std::vector<RigPlanLine> lines;
  // Planned: the updates, in rig order, each with its file and the version
  // to read back. Skipped: every other line, with its reason.
  FleetPlan fleet;
  int Count(RigAction action) const;
  // The roll-call the plan was made on, its lines in the plan's order.
  RollCall Call() const;
  // Every device at its declared version (or with nothing declared, or
  // hidden), nothing unexpected or ambiguous: nothing for an apply to do
  // and nothing to look into.
  bool Converged() const;
  // Something an apply cannot change is not as declared: a device held,
  // missing, unexpected, ambiguous, or a file that is not the declared one.
  bool DiffersBeyondUpdates() const;
};

struct RigPlanOptions {
  std::string rigPath;  // declared files are found from its folder
  bool allowDowngrade = false;
};

// "1.02"; the code in hex where the minor part does not read as a version.
std::string VersionText(uint16_t version);

// Plans the rig against one Find's list. Reads each declared file it needs
// once, whole; nothing is written from a file whose hash is not the
// declared one.
RigPlan PlanRig(const Rig& rig, std::span<const DeviceRecord> listed,
                const CBlackListText& blackList, const RigPlanOptions& options);

}  // namespace quorvik
