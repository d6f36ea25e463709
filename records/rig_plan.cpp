#include "records/rig_plan.h"

#include <algorithm>
#include <cstdio>

#include "base/hex_text.h"
#include "commands/firmware_file.h"
#include "commands/sha256.h"
#include "devices/device_list.h"

namespace quorvik {

namespace {

// A declared file as read once for the whole plan.
struct PlannedFile {
  std::shared_ptr<const std::vector<uint8_t>> bytes;
  std::string sha256;
  std::optional<FirmwareVerdict> verdict;
  std::string detail;
};

const PlannedFile& ReadOnce(std::map<std::string, PlannedFile>& files, const std::string& path) {
  auto found = files.find(path);
  if (found != files.end()) return found->second;
  FirmwareFileRead read = ReadFirmwareFile(path);
  PlannedFile file;
  file.verdict = read.verdict;
  file.detail = read.detail;
  if (!read.bytes.empty() || !read.verdict) file.sha256 = Sha256Hex(read.bytes);
  file.bytes = std::make_shared<const std::vector<uint8_t>>(std::move(read.bytes));
  return files.emplace(path, std::move(file)).first->second;
}

// What a skipped line shows of a device no search listed: what the rig
// knows of it.
DeviceRecord RecordOf(const RigEntry& entry) {
  DeviceRecord record;
  const size_t length = std::min(entry.serial.size(), record.identity.size());
  std::copy_n(entry.serial.begin(), length, record.identity.begin());
  record.identityLength = static_cast<uint8_t>(length);
  if (entry.mac) record.mac = *entry.mac;
  record.SetName(entry.model);
  return record;
}

std::string Short(const std::string& sha256) {
  return sha256.substr(0, 12) + "...";
}

}  // namespace

const char* RigActionName(RigAction action) {
  switch (action) {
    case RigAction::kUpToDate:
      return "up-to-date";
    case RigAction::kUpdate:
      return "update";
    case RigAction::kHeld:
      return "held";
    case RigAction::kNoFirmware:
      return "no-firmware";
    case RigAction::kFileChanged:
      return "file-changed";
    case RigAction::kFileDoesNotFit:
      return "file-does-not-fit";
    case RigAction::kMissing:
      return "missing";
    case RigAction::kHidden:
      return "hidden";
    case RigAction::kUnexpected:
      return "unexpected";
    case RigAction::kAmbiguous:
      return "ambiguous";
  }
  return "";
}

std::string VersionText(uint16_t version) {
  const std::string text = FormatVersion(version);
  return text.empty() ? Hex16(version) : text;
}

int RigPlan::Count(RigAction action) const {
  return static_cast<int>(std::count_if(lines.begin(), lines.end(),
                                        [action](const auto& l) { return l.action == action; }));
}

RollCall RigPlan::Call() const {
  RollCall call;
  for (const RigPlanLine& line : lines) call.lines.push_back(line.call);
  return call;
}

namespace {

// Nothing to do for it, and nothing to look into.
bool AsDeclared(RigAction action) {
  return action == RigAction::kUpToDate || action == RigAction::kNoFirmware ||
         action == RigAction::kHidden;
}

}  // namespace

bool RigPlan::Converged() const {
  return std::all_of(lines.begin(), lines.end(),
                     [](const RigPlanLine& l) { return AsDeclared(l.action); });
}

bool RigPlan::DiffersBeyondUpdates() const {
  return std::any_of(lines.begin(), lines.end(), [](const RigPlanLine& l) {
    return !AsDeclared(l.action) && l.action != RigAction::kUpdate;
  });
}

RigPlan PlanRig(const Rig& rig, std::span<const DeviceRecord> listed,
                const CBlackListText& blackList, const RigPlanOptions& options) {
  RigPlan plan;
  const RigFirmwareDecode declared = DecodeRigFirmware(rig);
  std::map<std::string, PlannedFile> files;
  for (RollCallLine& call : CallRoll(rig, listed, blackList).lines) {
    RigPlanLine line;
    line.call = std::move(call);
    FleetDevice device;
    const auto decide = [&](RigAction action, std::string reason) {
      line.action = action;
      line.reason = std::move(reason);
    };
    const RollCallStatus status = line.call.status;
    if (status == RollCallStatus::kMissing || status == RollCallStatus::kHidden) {
      device.record = RecordOf(rig.devices.at(*line.call.entry));
      const bool hidden = status == RollCallStatus::kHidden;
      decide(hidden ? RigAction::kHidden : RigAction::kMissing, hidden ? "hidden" : "missing");
    } else {
      const size_t row = static_cast<size_t>(line.call.row);
      const DeviceRecord& record = listed[row];
      device.record = record;
      if (record.loaderType == 0) line.running = record.version;
      std::optional<DeclaredFirmware> firmware;
      if (status == RollCallStatus::kUnexpected) {
        decide(RigAction::kUnexpected, "unexpected: not in the rig");
      } else if (auto ambiguous = FleetAmbiguity(listed, row)) {
        decide(RigAction::kAmbiguous, std::move(*ambiguous));
      } else {
        // A loader reports its model and MCU; for a running device the
        // rig may know its model from an earlier loader answer.
        const RigEntry& entry = rig.devices.at(*line.call.entry);
        const bool loader = record.loaderType != 0;
        FirmwareChoice choice = ChooseFirmware(
            declared, *line.call.entry, loader ? std::optional(record.deviceId) : entry.deviceId,
            loader ? std::optional(record.mcuId) : std::nullopt);
        if (!choice.firmware)
          decide(RigAction::kNoFirmware,
                 "no firmware declared" + (choice.why.empty() ? "" : ": " + choice.why));
        firmware = std::move(choice.firmware);
      }
      if (firmware) {
        const std::string to = VersionText(firmware->version);
        line.declared = firmware->version;
        line.file = FirmwarePathOf(options.rigPath, firmware->file);
        const bool downgrade = line.running && *line.running > firmware->version;
        if (line.running == firmware->version) {
          decide(RigAction::kUpToDate, "up-to-date");
        } else if (downgrade && !firmware->allowDowngrade && !options.allowDowngrade) {
          decide(RigAction::kHeld, "held: downgrade " + VersionText(*line.running) + " -> " + to);
        } else if (const PlannedFile& file = ReadOnce(files, line.file); file.sha256.empty()) {
          decide(RigAction::kFileChanged, "file changed: it cannot be read (" + file.detail + ")");
        } else if (file.sha256 != firmware->sha256) {
          decide(RigAction::kFileChanged, "file changed: its SHA-256 is " + Short(file.sha256) +
                                              ", the rig declares " + Short(firmware->sha256));
        } else if (file.verdict) {
          decide(RigAction::kFileDoesNotFit,
                 std::string("file does not fit (") + FirmwareVerdictLine(*file.verdict) + ")");
        } else if (FleetDevice planned = PlanFleetDevice(listed, row, *file.bytes);
                   !planned.reason.empty()) {
          decide(RigAction::kFileDoesNotFit, "file does not fit (" + planned.reason + ")");
        } else {
          decide(RigAction::kUpdate,
                 "update " + (line.running ? VersionText(*line.running) : "(in its loader)") +
                     " -> " + to + (downgrade ? " (downgrade allowed)" : ""));
          device = std::move(planned);
          device.path = line.file;
          device.file = file.bytes;
          device.installs = firmware->version;
          line.update = plan.fleet.planned.size();
        }
      }
    }
    if (line.action != RigAction::kUpdate) {
      device.name = line.call.device;
      device.reason = line.reason;
      plan.fleet.skipped.push_back(std::move(device));
    } else {
      plan.fleet.planned.push_back(std::move(device));
    }
    plan.lines.push_back(std::move(line));
  }
  return plan;
}

}  // namespace quorvik
