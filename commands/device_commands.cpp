// The commands other than the update, and what every command shares: how a
// result is begun, decided and interrupted.

#include "commands/device_commands.h"

#include <mutex>

#include "devices/device_identity.h"
#include "devices/device_list.h"
#include "net/reply_processing.h"

namespace quorvik {

CommandResult BeginResult(CommandKind kind, const DeviceRecord& device) {
  CommandResult result;
  result.command = kind;
  result.device = result.addressed = device;
  result.deviceName = ListName(device);
  result.started = std::chrono::system_clock::now();
  return result;
}

CommandResult Decide(CommandResult result, Outcome outcome, const std::string& line, Beep beep,
                     ICommandObserver& observer, std::string reason) {
  result.outcome = outcome;
  result.statusLine = line;
  result.reason = reason.empty() ? line : std::move(reason);
  RecordResult(result, observer);
  if (!line.empty()) observer.Status(line, beep);
  return result;
}

CommandResult InterruptedResult(CommandResult running) {
  running.outcome = Outcome::kInterrupted;
  running.reason = "Interrupted";
  // What the device holds: the blocks it acknowledged, and perhaps the one
  // it was sent and never answered.
  if (running.update && running.update->blocks > 0)
    running.reason += " after " + std::to_string(running.update->blocks) + " block(s) acknowledged";
  if (running.update && running.update->blockUnanswered)
    running.reason += std::string(running.update->blocks > 0 ? " and" : " after") +
                      " 1 block sent without an answer";
  if (running.frameSent && running.command != CommandKind::kReset)
    running.reason += "; the device may be left in its bootloader";
  return running;
}

bool CommandOffered(CommandKind kind, const DeviceRecord& record) {
  switch (kind) {
    case CommandKind::kUpdate:
      return true;
    case CommandKind::kReset:
      return CanFactoryReset(record);
    case CommandKind::kRun:
      return record.loaderType != 0;
    case CommandKind::kReboot:
      return record.loaderType == 0;
  }
  return false;
}

std::optional<CommandResult> RefuseTwin(CommandKind kind, const DeviceRecord& device,
                                        ICommandObserver& observer) {
  if (device.twins < 2) return std::nullopt;
  return Decide(BeginResult(kind, device), Outcome::kRefused,
                TwinRefusalLine(device) + " Nothing was sent.", Beep::kAlert, observer);
}

void RunProgress(IClock& clock, ICommandObserver& observer, std::chrono::milliseconds step) {
  observer.ProgressStart(kSearchSteps);
  for (int i = 0; i < kSearchSteps; ++i) {
    observer.ProgressStep();
    clock.SleepFor(step);
  }
}

void SearchDevices(INetwork& network, IClock& clock, ICommandObserver& observer, bool bootOnly) {
  network.Devices().EmptyTable();
  network.RequestBootSearch();
  if (!bootOnly) network.RequestAppSearch();
  RunProgress(clock, observer, kSearchStepWait);
}

void SearchAgain(INetwork& network, IClock& clock, ICommandObserver& observer) {
  const bool bootOnly = observer.SearchStarting();
  SearchDevices(network, clock, observer, bootOnly);
  observer.SearchEnded();
}

CommandResult FactoryResetDevice(const DeviceRecord& device, INetwork& network,
                                 ICommandObserver& observer) {
  if (auto refused = RefuseTwin(CommandKind::kReset, device, observer)) return *refused;
  CommandResult result = BeginResult(CommandKind::kReset, device);
  const std::string name(device.Name());
  if (!observer.AskYesNo("Do you want to set >" + name + "< to Factory Defaults ?"))
    return Decide(std::move(result), Outcome::kRefused, "", Beep::kNone, observer,
                  "Factory reset declined");
  network.RequestFactoryReset(device);
  // Devices whose serial ends in two equal bytes take the reset only with
  // a second frame in which byte 14 is one greater.
  if (device.identity[14] == device.identity[15]) {
    DeviceRecord second = device;
    ++second.identity[14];
    network.RequestFactoryReset(second);
  }
  result.frameSent = true;
  return Decide(std::move(result), Outcome::kOk, "Set >" + name + "< to Factory Defaults.",
                Beep::kNone, observer);
}

CommandResult RunApplication(const DeviceRecord& device, INetwork& network,
                             ICommandObserver& observer) {
  if (auto refused = RefuseTwin(CommandKind::kRun, device, observer)) return *refused;
  CommandResult result = BeginResult(CommandKind::kRun, device);
  network.RequestRunApplication(device);
  result.frameSent = result.runRequestSent = true;
  return Decide(std::move(result), Outcome::kOk, "RUN application.", Beep::kNone, observer);
}

void ConfirmUpdate(const DeviceSession& devices, CommandResult& result) {
  result.confirmed = Confirmation::kSilent;
  {
    std::lock_guard lock(devices.deviceMutex);
    for (int i = 0, used = CountUsedRecords(devices.deviceTable); i < used; ++i) {
      if (!SameDevice(devices.deviceTable[i], result.addressed)) continue;
      const bool running = devices.deviceTable[i].loaderType == 0;
      result.confirmed = running ? Confirmation::kRunning : Confirmation::kInLoader;
      if (running) {
        result.runningVersion = devices.deviceTable[i].version;
        break;
      }
    }
  }
  if (result.confirmed == Confirmation::kInLoader) {
    result.outcome = Outcome::kFailed;
    result.reason = kStillInLoaderReason;
  }
}

void RecordResult(CommandResult& result, ICommandObserver& observer) {
  result.duration = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::system_clock::now() - result.started);
  observer.Decided(result);
}

std::optional<DeviceRecord> BootRecordWithMac(const DeviceSession& devices,
                                              const std::array<uint8_t, 6>& mac,
                                              const Ipv4Address& card, uint32_t heardSince) {
  std::lock_guard lock(devices.deviceMutex);
  const DeviceTable& table = devices.deviceTable;
  for (int i = CountUsedRecords(table) - 1; i >= 0; --i)
    if (table[i].loaderType != 0 && table[i].mac == mac && table[i].card == card &&
        table[i].heardInRound >= heardSince)
      return table[i];
  return std::nullopt;
}

CommandResult RebootDevice(const DeviceRecord& device, INetwork& network, IClock& clock,
                           ICommandObserver& observer) {
  if (auto refused = RefuseTwin(CommandKind::kReboot, device, observer)) return *refused;
  CommandResult result = BeginResult(CommandKind::kReboot, device);
  try {
    observer.Status("Start reboot ...", Beep::kNone);
    observer.Busy(true);
    network.RequestEnterBootloader(device);
    result.frameSent = true;
    RunProgress(clock, observer, kRebootStepWait);
    // The search runs without its chain step: a restart never starts an
    // update, and the "... and make Update" box stays as the operator has it.
    SearchAgain(network, clock, observer);
    if (const std::optional<DeviceRecord> boot =
            BootRecordWithMac(network.Devices(), device.mac, device.card)) {
      network.RequestRunApplication(*boot);
      result.addressed = *boot;
      result.runRequestSent = true;
      result = Decide(std::move(result), Outcome::kOk, "Reboot done.", Beep::kNone, observer);
    } else {
      result =
          Decide(std::move(result), Outcome::kFailed, "Reboot failed!", Beep::kAlert, observer);
    }
    observer.Busy(false);
    return result;
  } catch (const CCommandCancelled&) {
    CommandResult interrupted = InterruptedResult(std::move(result));
    RecordResult(interrupted, observer);
    return interrupted;
  }
}

UpdateInput InputFromFile(const std::string& path, const FirmwareFileRead& read,
                          std::span<uint8_t> image) {
  UpdateInput input;
  input.path = path;
  if (read.verdict)
    input.unreadable = read.verdict;
  else
    input.file = read.bytes;
  input.image = image;
  return input;
}

}  // namespace quorvik
