#pragma once
// One function per device command: it takes what it acts on (the record as
// listed) and what it acts with (the network, the clock, an observer), and
// returns its result on every path. The window, quorvik-cli and the fleet
// call these alike.
//
// A result whose outcome is kInterrupted means the clock was told to stop in
// the middle; the caller ends what it was doing.

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "commands/clock.h"
#include "commands/command_observer.h"
#include "commands/command_result.h"
#include "commands/firmware_file.h"
#include "commands/network.h"
#include "commands/readiness.h"
#include "net/device_record.h"

namespace quorvik {

constexpr std::chrono::milliseconds kSearchStepWait{20};
constexpr int kSearchSteps = 100;
constexpr std::chrono::milliseconds kEnterBootloaderWait{6000};
constexpr std::chrono::milliseconds kAfterRunWait{100};
// After an update, before the search that tells whether the device runs:
// the time its new image takes to start and answer.
constexpr std::chrono::milliseconds kAfterUpdateWait{3000};
constexpr std::chrono::milliseconds kRebootStepWait{60};
constexpr int kWriteTries = 500;
constexpr const char* kLostAfterRestartLine = "Device not found again after restart!";
constexpr const char* kStillInLoaderReason = "Device still in its bootloader after RUN application";
constexpr const char* kStartNotRecordedLine =
    "The journal cannot record the start of this update: nothing was sent.";
constexpr const char* kEmptySectionWarning =
    "The file holds no data for this device: nothing was written.";

// The search: both boot searches and, unless `bootOnly`, the application
// search, then 100 steps of 20 ms on the observer's progress while the
// receivers fill the table. The table is emptied first.
void SearchDevices(INetwork& network, IClock& clock, ICommandObserver& observer, bool bootOnly);

// The network searched again as the front end searches it: SearchDevices
// between the observer's SearchStarting and SearchEnded. The commands read
// the table after it.
void SearchAgain(INetwork& network, IClock& clock, ICommandObserver& observer);

// A progress run of 100 steps of `step`, as the searches and the restart
// through the bootloader show it.
void RunProgress(IClock& clock, ICommandObserver& observer, std::chrono::milliseconds step);

struct UpdateInput {
  std::string path;  // as the operator chose it; the result records it absolute
  // The whole file, read and checked by the caller; none when it could not
  // be read, with the verdict that says why.
  std::span<const uint8_t> file;
  std::optional<FirmwareVerdict> unreadable;
  bool ctrlHeld = false;  // sampled when the command began
  // A refusal names what the device's own model lacks (a fleet's, a
  // station's); the one-device update names the file's last section.
  bool verdictByModel = false;
  // Where the image is laid out (kFirmwareImageSize bytes), owned by the
  // caller so that a run allocates nothing for it.
  std::span<uint8_t> image;
  // The waits of an unattended run, named in its journal lines; none for
  // the one-device update, which makes the fixed pauses.
  std::optional<Waits> waits;
};

// The chain of updates ("... and make Update"): after each search, the next
// update starts only while exactly one device answers.
inline bool ChainGoesOn(bool andMakeUpdate, size_t listedDevices) {
  return andMakeUpdate && listedDevices == 1;
}

// The input of an update from a file read whole (`read` must outlive it):
// its bytes, or the verdict that refuses it.
UpdateInput InputFromFile(const std::string& path, const FirmwareFileRead& read,
                          std::span<uint8_t> image);
// A read that ends with the statement would leave the input on freed bytes.
UpdateInput InputFromFile(const std::string& path, FirmwareFileRead&& read,
                          std::span<uint8_t> image) = delete;

// The firmware update of `device`: a running device is restarted into its
// loader and found again by its hardware address (the restart stage), then
// the fitting section is written block by block, verified where the loader
// can, and the application started. An ok result has sent the run request
// and awaits the search that tells whether the device runs
// (result.runRequestSent); the caller pauses kAfterRunWait, then searches.
// Every other outcome is final.
CommandResult UpdateDevice(const DeviceRecord& device, const UpdateInput& input, INetwork& network,
                           IClock& clock, ICommandObserver& observer);

// UpdateDevice of a running device whose restart request the caller sent
// and whose loader it looked for with a search of its own (`found`, nothing
// when that search did not find it): a fleet restarts a group of devices
// and finds them all with one search. Each device gets the frames that
// UpdateDevice sends it.
CommandResult UpdateRestartedDevice(const DeviceRecord& device,
                                    const std::optional<DeviceRecord>& found,
                                    const UpdateInput& input, INetwork& network, IClock& clock,
                                    ICommandObserver& observer);

// Firmware-Update to its end, as the window's button runs it without its
// chain: UpdateDevice, then the pause after the run request, the pause for
// the device to start and a search as the front end searches, also after
// a failure, so that the list shows what the device does now. `handOut`
// gets the result once final: at once for one that UpdateDevice decided;
// for one that started its device, confirmed by that search and recorded,
// before the front end lists the search. `started` is told when the pause
// after the run request is over. An interruption hands out what the
// update reached and passes on.
void UpdateAndConfirm(const DeviceRecord& device, const UpdateInput& input, INetwork& network,
                      IClock& clock, ICommandObserver& observer,
                      const std::function<void(const CommandResult&)>& handOut,
                      const std::function<void()>& started = {});

// The factory reset, after the observer's Yes.
CommandResult FactoryResetDevice(const DeviceRecord& device, INetwork& network,
                                 ICommandObserver& observer);
// The loader starts the application. The caller pauses kAfterRunWait
// after it, as after an update's run request.
CommandResult RunApplication(const DeviceRecord& device, INetwork& network,
                             ICommandObserver& observer);
// The restart through the bootloader, and the application started again.
CommandResult RebootDevice(const DeviceRecord& device, INetwork& network, IClock& clock,
                           ICommandObserver& observer);

// Whether the command is offered for a listed record, as the window offers
// it: Firmware-Update for every device, Factory reset where CanFactoryReset
// says, Run application for a device in its loader, and the restart through
// the bootloader for one running its application.
bool CommandOffered(CommandKind kind, const DeviceRecord& record);

// Why no command goes to a record that several devices answer as: the
// refusal, or nothing when one device answers as it.
std::optional<CommandResult> RefuseTwin(CommandKind kind, const DeviceRecord& device,
                                        ICommandObserver& observer);

// Completes an update that sent its run request with what the search that
// followed it found in the table: the device running its application, back
// in its loader (the new image did not start: a failure), or not heard.
void ConfirmUpdate(const DeviceSession& devices, CommandResult& result);

// With waits until ready, after the run requests of `started`: the table
// emptied, so that the devices' rows from before their updates confirm
// nothing, then the searches on their cards every kReadyPoll until each
// answers from its application, or kRunningReadyLimit has passed. Their
// results are confirmed by the caller, from the table as it then is.
void AwaitRunning(INetwork& network, IClock& clock, ICommandObserver& observer, bool bootOnly,
                  std::span<const CommandResult* const> started);

// A result completed after its command returned: an update confirmed by
// the search after it, or one whose search was interrupted. Its duration
// runs to now, and the observer records it.
void RecordResult(CommandResult& result, ICommandObserver& observer);

// The highest bootloader-mode record with this hardware address on `card`
// (see DeviceRecord::card): a device found again after its restart, on the
// network it was restarted through. With `heardSince`, only a record that
// answered in that listening round or later: a row left from before could
// be the loader of a restart that has not happened.
std::optional<DeviceRecord> BootRecordWithMac(const DeviceSession& devices,
                                              const std::array<uint8_t, 6>& mac,
                                              const Ipv4Address& card = {},
                                              uint32_t heardSince = 0);

// A result begun for `device`, as the list showed it.
CommandResult BeginResult(CommandKind kind, const DeviceRecord& device);
// An update's result begun, with the file's absolute path.
CommandResult BeginUpdateResult(const DeviceRecord& device, const std::string& path);
// What a command did before it was told to stop, as its result.
CommandResult InterruptedResult(CommandResult running);
// Hands the outcome to the observer, then shows the line that decided it.
CommandResult Decide(CommandResult result, Outcome outcome, const std::string& line, Beep beep,
                     ICommandObserver& observer, std::string reason = {});

}  // namespace quorvik
