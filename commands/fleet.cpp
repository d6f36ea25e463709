#include "commands/fleet.h"

#include <algorithm>
#include <vector>

#include "base/hex_text.h"
#include "commands/device_commands.h"
#include "commands/firmware_file.h"
#include "devices/device_identity.h"
#include "devices/device_list.h"
#include "net/protocol.h"
#include "net/requests.h"

namespace quorvik {

namespace {

// The update's own waits, so that an estimate follows them if they change.
constexpr int64_t kBeepMs = kBeepLength.count();
constexpr int64_t kSearchMs = kSearchSteps * kSearchStepWait.count();
constexpr int64_t kRestartMs = kEnterBootloaderWait.count();
constexpr int64_t kAfterRunMs = kAfterRunWait.count();
constexpr int64_t kAfterUpdateMs = kAfterUpdateWait.count();
// The pause after each acknowledgement.
constexpr int64_t kPauseMs = kReplyPollMs;

}  // namespace

std::optional<std::string> FleetAmbiguity(std::span<const DeviceRecord> listed, size_t self) {
  const DeviceRecord& d = listed[self];
  if (d.twins >= 2) return "ambiguous: " + TwinRefusalLine(d);
  // Listed once per card: a fleet would write it twice, once through each.
  if (const int networks = NetworkCount(listed, self); networks >= 2)
    return "ambiguous: answers on " + std::to_string(networks) +
           " networks (bridged or misconfigured)";
  int sharing = 0;
  for (const DeviceRecord& other : listed) {
    if (other.slaveNumber != 0) continue;
    if (HasRealMac(d) ? other.mac == d.mac
                      : !HasRealMac(other) && HasIdentity(other) &&
                            SameSerial(SerialBytes(other), SerialBytes(d)))
      ++sharing;
  }
  if (!HasRealMac(d) && !HasIdentity(d))
    return "ambiguous: neither a hardware address nor a serial to find it again by";
  if (sharing < 2) return std::nullopt;
  return std::string("ambiguous: ") +
         (HasRealMac(d) ? "hardware address " + FormatMac(d) : "serial " + FormatSerial(d)) +
         " shared by " + std::to_string(sharing) + " listed devices";
}

namespace {

// A running device's section is known only after its restart; its
// estimate takes the largest section of the file in blocks of 512.
uint32_t LargestSection(std::span<const uint8_t> file) {
  uint32_t largest = 0;
  for (const FirmwareSection& s : ListSections(file)) largest = std::max(largest, s.dataLength);
  return largest;
}

FleetDevice PlanOne(std::span<const DeviceRecord> listed, size_t i, std::span<const uint8_t> file,
                    const FleetFilter& filter, const Waits& waits, uint32_t largest,
                    std::vector<uint8_t>& image) {
  const DeviceRecord& record = listed[i];
  FleetDevice device;
  device.record = record;
  device.name = ListName(record);
  const auto skip = [&](std::string reason) {
    device.reason = std::move(reason);
    return device;
  };
  if (const auto ambiguous = FleetAmbiguity(listed, i)) return skip(*ambiguous);
  if (record.loaderType == 0) {
    if (!filter.models.empty())
      return skip("model unknown while it runs its application; it cannot be chosen by --model");
    device.estimateBlocks = BlockCount(largest, 512);
    device.estimateMs = EstimateMs(device, waits);
    return device;
  }
  const auto& models = filter.models;
  if (!models.empty() && std::find(models.begin(), models.end(), record.deviceId) == models.end())
    return skip("model " + Hex16(record.deviceId) + " not chosen");
  const FirmwareLoad load = WalkFirmwareBytes(file, record, image);
  if (const auto* verdict = std::get_if<FirmwareVerdict>(&load))
    return skip(FirmwareVerdictLine(ModelVerdict(file, record, *verdict)));
  const FirmwareSection section = std::get<FirmwareSection>(load);
  // Writing nothing and calling it an update would count a device as
  // updated that still runs what it ran.
  if (section.dataLength == 0) return skip("empty section");
  if (const auto refusal = BlockSizeRefusal(record)) return skip(*refusal);
  device.section = section.index;
  device.bytes = section.dataLength;
  device.blocks = BlockCount(section.dataLength, record.blockSize);
  device.estimateBlocks = *device.blocks;
  device.estimateMs = EstimateMs(device, waits);
  return device;
}

}  // namespace

int64_t UpdateFloorMs(bool fromApplication, uint32_t blocks, bool verifies, int64_t replyMs,
                      const Waits& waits) {
  // Waiting until ready, an answer is seen within one poll of its coming,
  // and a loader's first answer is followed by the settle time.
  const int64_t readyMs = kAssumedBootMs + kReadyPoll.count();
  const int64_t restartMs = waits.ready ? readyMs + waits.settle.count() : kRestartMs + kSearchMs;
  const int64_t startMs = waits.ready ? readyMs : kAfterRunMs + kAfterUpdateMs + kSearchMs;
  int64_t ms = 0;
  // Three stage lines with their alerts, the restart and the search.
  if (fromApplication) ms += 3 * kBeepMs + restartMs;
  ms += int64_t{blocks} * (replyMs + kPauseMs);
  if (verifies) ms += replyMs;
  return ms + startMs;
}

int64_t EstimateMs(const FleetDevice& device, const Waits& waits) {
  const bool running = device.record.loaderType == 0;
  return UpdateFloorMs(running, device.estimateBlocks, !running && LoaderVerifies(device.record),
                       kAssumedReplyMs, waits);
}

FleetPlan PlanFleet(std::span<const DeviceRecord> listed, std::span<const uint8_t> file,
                    const FleetFilter& filter, const Waits& waits) {
  FleetPlan plan;
  std::vector<uint8_t> image(kFirmwareImageSize);
  const uint32_t largest = LargestSection(file);
  for (size_t i = 0; i < listed.size(); ++i) {
    if (listed[i].IsFree() || listed[i].slaveNumber != 0) continue;  // units go with their device
    FleetDevice device = PlanOne(listed, i, file, filter, waits, largest, image);
    (device.reason.empty() ? plan.planned : plan.skipped).push_back(std::move(device));
  }
  return plan;
}

FleetDevice PlanFleetDevice(std::span<const DeviceRecord> listed, size_t row,
                            std::span<const uint8_t> file, const FleetFilter& filter,
                            const Waits& waits) {
  std::vector<uint8_t> image(kFirmwareImageSize);
  return PlanOne(listed, row, file, filter, waits, LargestSection(file), image);
}

std::vector<int> FindAgain(std::span<const DeviceRecord> listed, const DeviceRecord& planned) {
  std::vector<int> rows;
  for (size_t i = 0; i < listed.size(); ++i)
    if (FoundAgain(listed[i], planned)) rows.push_back(static_cast<int>(i));
  return rows;
}

}  // namespace quorvik
