// The Firmware-Update command: restart a running device into its
// bootloader, find it again by its hardware address, write the fitting
// section block by block, verify where the bootloader can, and start it.

#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <mutex>

#include "commands/device_commands.h"
#include "commands/sha256.h"
#include "devices/device_identity.h"
#include "devices/device_list.h"
#include "net/frames.h"
#include "net/protocol.h"
#include "net/reply_processing.h"

namespace quorvik {

namespace {

std::string CompletionLine(bool verified, const std::string& path, int index) {
  // The path is the operator's text: it is appended, never used as a format.
  return std::string(verified ? "Write and verify data complete. (" : "Write data complete. (") +
         path + " at index " + std::to_string(index) + ")";
}

// A month later, "fleet.bin" says nothing of which file it was.
std::string AbsolutePath(const std::string& path) {
  if (path.empty() || path.front() == '/') return path;
  std::error_code error;
  const std::filesystem::path absolute = std::filesystem::absolute(path, error);
  return error ? path : absolute.lexically_normal().string();
}

class CUpdate {
 public:
  CUpdate(const DeviceRecord& device, const UpdateInput& input, INetwork& network, IClock& clock,
          ICommandObserver& observer)
      : m_input(input), m_network(network), m_clock(clock), m_observer(observer) {
    m_result = BeginUpdateResult(device, input.path);
    if (input.waits) m_result.update->waits = input.waits->Name();
  }

  CommandResult Run();
  // The update of a running device whose restart request went out, from
  // the search that looked for it in its loader on: `found` is its loader's
  // record, or nothing when no search found it.
  CommandResult RunRestarted(const std::optional<DeviceRecord>& found) {
    // The search that begins an update went out before the restart.
    if (auto refused = Prepare(false)) return *refused;
    return Found(found);
  }
  CommandResult& result() { return m_result; }

 private:
  CommandResult Finish(Outcome outcome, const std::string& line, Beep beep) {
    return Decide(std::move(m_result), outcome, line, beep, m_observer);
  }
  // A device that this command restarted goes back to its application:
  // nothing was written, and it must not be left waiting in its loader.
  CommandResult Refuse(const std::string& line, const std::optional<DeviceRecord>& restarted);
  // Acknowledged when every block was; else the status of the block that
  // was not.
  ReplyOutcome WriteSection(const DeviceRecord& device, const FirmwareSection& section);
  // Refuses a twin or a file it cannot read; with `search`, first sends
  // the search that begins every update.
  std::optional<CommandResult> Prepare(bool search);
  CommandResult Found(const std::optional<DeviceRecord>& found);
  // The section written to `target`, found in its loader, verified and
  // started.
  CommandResult Write(const DeviceRecord& target, bool restarted);

  const UpdateInput& m_input;
  INetwork& m_network;
  IClock& m_clock;
  ICommandObserver& m_observer;
  CommandResult m_result;
};

std::optional<CommandResult> CUpdate::Prepare(bool search) {
  if (auto refused = RefuseTwin(CommandKind::kUpdate, m_result.device, m_observer)) return refused;
  if (search) m_network.RequestBootSearch();

  // Everything that can be checked of the file is checked before a running
  // device is restarted: a refused file must not leave it in its loader.
  // The bytes checked here are the ones written, whatever happens to the
  // file on disk meanwhile.
  if (m_input.unreadable) {
    m_result.update->refusedFile = *m_input.unreadable;
    m_observer.Busy(false);
    return Refuse(FirmwareVerdictLine(*m_input.unreadable), std::nullopt);
  }
  m_result.update->sha256 = Sha256Hex(m_input.file);
  m_result.update->fileBytes = m_input.file.size();
  return std::nullopt;
}

CommandResult CUpdate::Run() {
  if (auto refused = Prepare(true)) return *refused;
  DeviceRecord target = m_result.device;
  const bool restarted = target.loaderType == 0;
  if (!restarted) return Write(target, false);
  if (!m_observer.Starting(m_result)) {
    m_observer.Busy(false);
    return Finish(Outcome::kRefused, kStartNotRecordedLine, Beep::kAlert);
  }
  // The search below runs without its chain step, so the "... and make
  // Update" box is left as the operator has it: it stays live during the
  // run, and unticking it is how a chain is stopped.
  m_observer.Status("Set device to firmware update ...", Beep::kAlert);
  const bool ready = m_input.waits && m_input.waits->ready;
  const uint32_t round = ready ? m_network.Devices().BeginListeningRound() : 0;
  m_network.RequestEnterBootloader(target);
  m_result.frameSent = true;
  const auto savedMac = target.mac;
  if (ready) {
    // Only a loader heard after the restart request is this restart's.
    m_observer.Status("Get firmware update parameter...", Beep::kAlert);
    m_network.Devices().EmptyTable();
    std::optional<DeviceRecord> found;
    const Ipv4Address cards[] = {target.card};
    PollUntil(m_network, m_clock, m_observer, kLoaderReadyLimit, false, cards, [&] {
      found = BootRecordWithMac(m_network.Devices(), savedMac, target.card, round);
      return found.has_value();
    });
    if (found && m_input.waits->settle.count() > 0) m_clock.SleepFor(m_input.waits->settle);
    return Found(found);
  }
  m_clock.SleepFor(kEnterBootloaderWait);
  m_observer.Status("Get firmware update parameter...", Beep::kAlert);
  SearchAgain(m_network, m_clock, m_observer);
  return Found(BootRecordWithMac(m_network.Devices(), savedMac, target.card));
}

CommandResult CUpdate::Found(const std::optional<DeviceRecord>& found) {
  m_result.frameSent = true;  // the restart request
  m_observer.Status("Start firmware update...", Beep::kAlert);
  if (!found) {
    m_observer.Busy(false);
    return Finish(Outcome::kFailed, kLostAfterRestartLine, Beep::kAlert);
  }
  m_result.addressed = *found;
  m_observer.Addressed(*found);
  // Its loader may share its serial with another: a block sent now
  // would be written into both.
  if (found->twins >= 2) {
    m_observer.Busy(false);
    return Finish(
        Outcome::kRefused,
        TwinRefusalLine(*found) + " Nothing was written; the device is left in its bootloader.",
        Beep::kAlert);
  }
  return Write(*found, true);
}

CommandResult CUpdate::Write(const DeviceRecord& target, bool restarted) {
  const FirmwareLoad load = WalkFirmwareBytes(m_input.file, target, m_input.image);
  if (const auto* walked = std::get_if<FirmwareVerdict>(&load)) {
    const FirmwareVerdict verdict =
        m_input.verdictByModel ? ModelVerdict(m_input.file, target, *walked) : *walked;
    m_result.update->refusedFile = verdict;
    m_observer.Busy(false);
    return Refuse(FirmwareVerdictLine(verdict),
                  restarted ? std::optional<DeviceRecord>(target) : std::nullopt);
  }
  const FirmwareSection section = std::get<FirmwareSection>(load);
  m_result.update->section = section.index;
  m_result.update->bytes = section.dataLength;
  if (section.dataLength == 0) m_result.warning = kEmptySectionWarning;

  if (const auto refusal = BlockSizeRefusal(target)) {
    m_observer.Busy(false);
    return Refuse(*refusal, restarted ? std::optional<DeviceRecord>(target) : std::nullopt);
  }

  // A device already in its loader changes with the first block: its
  // intent is recorded before it.
  if (!restarted && !m_observer.Starting(m_result)) {
    m_observer.Busy(false);
    return Finish(Outcome::kRefused, kStartNotRecordedLine, Beep::kAlert);
  }
  if (const ReplyOutcome written = WriteSection(target, section); !written.acknowledged) {
    char line[64];
    std::snprintf(line, sizeof line, "Timeout on write data! [%.4x]", written.status);
    m_observer.Busy(false);
    return Finish(Outcome::kFailed, line, Beep::kAlert);
  }

  const uint32_t blockSize = target.blockSize;
  const bool canVerify = LoaderVerifies(target);
  if (canVerify) {
    const uint16_t crc =
        ComputeImageCrcPadded(m_input.image, size_t{m_result.update->blocks} * blockSize);
    m_result.update->crc = crc;
    uint16_t value = 0, status = 0;
    const bool answered = m_network.RequestVerify(target, value, status);
    if (!answered && m_clock.Interrupted()) throw CCommandCancelled{};
    if (!answered || value != crc || status != 0) {
      m_observer.Busy(false);
      return Finish(Outcome::kFailed, "Firmware verification failed!", Beep::kAlert);
    }
    m_result.update->verified = true;
    if (m_input.ctrlHeld) m_observer.Inform("Firmware verification OK");
  } else if (m_input.ctrlHeld) {
    m_observer.Inform("NO firmware verification available!");
  }
  m_observer.Status(CompletionLine(canVerify, m_input.path, section.index), Beep::kNone);

  m_network.RequestRunApplication(target);
  // Also after an empty section, where it is the only frame the device got.
  m_result.frameSent = m_result.runRequestSent = true;
  // Decided, but complete only with what the next search tells of the
  // device: the caller hands it out then.
  m_result.outcome = Outcome::kOk;
  m_result.statusLine = m_result.reason = "RUN application.";
  CommandResult done = m_result;
  m_observer.Status("RUN application.", Beep::kNone);
  return done;
}

CommandResult CUpdate::Refuse(const std::string& line,
                              const std::optional<DeviceRecord>& restarted) {
  if (restarted) m_result.runRequestSent = true;
  CommandResult result = Finish(Outcome::kRefused, line, Beep::kAlert);
  if (restarted) m_network.RequestRunApplication(*restarted);
  return result;
}

ReplyOutcome CUpdate::WriteSection(const DeviceRecord& device, const FirmwareSection& section) {
  const uint32_t blockSize = device.blockSize;
  const uint32_t length = section.dataLength;
  m_observer.ProgressStart(static_cast<int>(length / blockSize));
  // The last block may reach past the image buffer; it is sent from a copy
  // padded with 0xFF instead of reading past the buffer.
  std::array<uint8_t, kMaxRequestLength> tail;
  const std::span<const uint8_t> image = m_input.image;
  for (uint32_t offset = 0; offset < length; offset += blockSize) {
    m_observer.ProgressStep();
    std::span<const uint8_t> block;
    if (size_t{offset} + blockSize <= image.size()) {
      block = image.subspan(offset, blockSize);
    } else {
      tail.fill(0xFF);
      std::copy(image.begin() + offset, image.end(), tail.begin());
      block = std::span<const uint8_t>(tail).first(blockSize);
    }
    m_result.frameSent = true;
    m_result.update->blockUnanswered = true;
    const ReplyOutcome reply = m_network.RequestWriteBlock(device, offset, block, length,
                                                           section.sectionParam, kWriteTries);
    if (!reply.acknowledged) {
      // A wait cut short by the program's end is no time-out of the device.
      if (m_clock.Interrupted()) throw CCommandCancelled{};
      return reply;
    }
    m_result.update->blockUnanswered = false;
    ++m_result.update->blocks;
    m_observer.BlockWritten(m_result.update->blocks, BlockCount(length, device.blockSize));
  }
  return {true, 0};
}

}  // namespace

CommandResult BeginUpdateResult(const DeviceRecord& device, const std::string& path) {
  CommandResult result = BeginResult(CommandKind::kUpdate, device);
  result.update.emplace();
  result.update->path = AbsolutePath(path);
  return result;
}

namespace {

template <typename Stage>
CommandResult RunToAResult(CUpdate& update, ICommandObserver& observer, Stage stage) {
  try {
    return stage();
  } catch (const CCommandCancelled&) {
    CommandResult result = InterruptedResult(std::move(update.result()));
    RecordResult(result, observer);
    return result;
  }
}

}  // namespace

CommandResult UpdateDevice(const DeviceRecord& device, const UpdateInput& input, INetwork& network,
                           IClock& clock, ICommandObserver& observer) {
  CUpdate update(device, input, network, clock, observer);
  return RunToAResult(update, observer, [&] { return update.Run(); });
}

CommandResult UpdateRestartedDevice(const DeviceRecord& device,
                                    const std::optional<DeviceRecord>& found,
                                    const UpdateInput& input, INetwork& network, IClock& clock,
                                    ICommandObserver& observer) {
  CUpdate update(device, input, network, clock, observer);
  return RunToAResult(update, observer, [&] { return update.RunRestarted(found); });
}

void AwaitRunning(INetwork& network, IClock& clock, ICommandObserver& observer, bool bootOnly,
                  std::span<const CommandResult* const> started) {
  network.Devices().EmptyTable();
  const std::vector<Ipv4Address> cards =
      CardsOf(started, [](const CommandResult* r) { return r->device.card; });
  PollUntil(network, clock, observer, kRunningReadyLimit, bootOnly, cards, [&] {
    return std::all_of(started.begin(), started.end(), [&](const CommandResult* r) {
      CommandResult probe = *r;
      ConfirmUpdate(network.Devices(), probe);
      return probe.confirmed == Confirmation::kRunning;
    });
  });
}

void UpdateAndConfirm(const DeviceRecord& device, const UpdateInput& input, INetwork& network,
                      IClock& clock, ICommandObserver& observer,
                      const std::function<void(const CommandResult&)>& handOut,
                      const std::function<void()>& started) {
  CommandResult result = UpdateDevice(device, input, network, clock, observer);
  if (result.outcome != Outcome::kOk || !result.runRequestSent) {
    handOut(result);
    if (result.outcome == Outcome::kInterrupted) throw CCommandCancelled{};
    clock.SleepFor(kAfterUpdateWait);
    SearchAgain(network, clock, observer);
    return;
  }
  try {
    if (input.waits && input.waits->ready) {
      if (started) started();
      const bool bootOnly = observer.SearchStarting();
      const CommandResult* started[] = {&result};
      AwaitRunning(network, clock, observer, bootOnly, started);
    } else {
      clock.SleepFor(kAfterRunWait);
      if (started) started();
      clock.SleepFor(kAfterUpdateWait);
      const bool bootOnly = observer.SearchStarting();
      SearchDevices(network, clock, observer, bootOnly);
    }
  } catch (const CCommandCancelled&) {
    // The device was started; only the search that would confirm it is
    // missing.
    RecordResult(result, observer);
    handOut(result);
    throw;
  }
  ConfirmUpdate(network.Devices(), result);
  RecordResult(result, observer);
  handOut(result);
  observer.SearchEnded();
}

}  // namespace quorvik
