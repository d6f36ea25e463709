#pragma once
// The main window's logic: start-up, the status log, the device list and
// the commands. It never touches a widget; it talks to an IMainView, and to
// a clock for every wait, so that it runs and is tested without a window
// system.

#include <chrono>
#include <optional>
#include <string>
#include <utility>

#include "app/main_view.h"
#include "app/status_log.h"
#include "commands/clock.h"
#include "commands/command_observer.h"
#include "commands/command_result.h"
#include "commands/device_commands.h"
#include "commands/firmware_file.h"
#include "commands/fleet_run.h"
#include "commands/network.h"
#include "commands/station.h"
#include "net/interfaces.h"
#include "records/listed_devices.h"
#include "records/settings_file.h"
#include "records/settings_location.h"

namespace quorvik {

constexpr const char* kCaption = "Belmarr Quorvik V1.41";
constexpr std::chrono::milliseconds kStartupSearchWait{5000};
constexpr int kBeepFrequencyHz = 100;
constexpr int kSerialToneHz = 1000;
constexpr const char* kWebAddress = "https://www.belmarr.example/";
constexpr const char* kPortsIncompleteMessage =
    "Not every port could be opened: some devices will not be listed.";

// The window's runs that go on without the operator, each remembering in
// the settings file what it was last run with.
enum class UnattendedRun { kFleet, kStation, kRecovery };

class CQuorvikDlg {
 public:
  CQuorvikDlg(IMainView& view, INetwork& network, IClock& clock);

  // Receive the result of every device command once it is final: the
  // journal before the status line that ends the command is logged, the
  // result sink after it.
  void SetJournal(IResultSink* journal) { m_journal = journal; }
  void SetResultSink(IResultSink* sink) { m_results = sink; }
  // Told what every refresh of the list showed: the user's Find, a
  // command's, start-up's.
  void SetListObserver(IListObserver* observer) { m_listObserver = observer; }
  // The address of the interface the commands use, or empty.
  const std::string& openAddress() const { return m_openAddress; }

  // Loads the settings, lists the interfaces, opens the stored one, searches
  // and fills the list.
  void OnInitDialog();
  // Button "Find": a new search and list.
  void OnFind();
  // The operator picked another entry of the network combo.
  void OnNetworkSelChange();
  // Button "Firmware-Update": the selected device gets the chosen (or last)
  // image, then a Find follows, which may chain into the next update.
  void OnFirmwareUpdate();
  // Button "Factory reset", after a Yes/No question.
  void OnFactoryReset();
  // Menu "Run application": the bootloader starts the application.
  void OnRunApplication();
  // The recover dialog's "Write the same file again": the device of `row`
  // (left half-written by its update) gets `path` (checked by the caller)
  // as quorvik-cli recover --yes writes it, with `waits` (remembered for
  // the next recovery), then the search that tells whether it runs, which
  // never chains. Recovery is not a one-device update: "Use last file
  // again", the last file and the selected device stay as they were.
  // `checked` is the file as the journal's start line recorded it, read
  // and checked once: those bytes are written, not the path read again.
  void WriteSameFileAgain(int row, const std::string& path, const FirmwareFileRead& checked,
                          const Waits& waits);
  // The recover dialog's "Start its application", for the device of `row`,
  // leaving check boxes and selection as they were.
  void StartHalfUpdated(int row);
  // Menu "Activate bootloader": restart through the bootloader.
  void OnActivateBootloader();
  // Menu "Add to Black-List": hide the selected device from now on.
  void OnAddToBlackList();
  // Menu "Show Black-List": the dialog; its deletions are saved on OK.
  void OnShowBlackList();
  // Double click on the list: the device's serial number to the clipboard.
  void OnDeviceListDblClick();
  // Click on the list: the device buttons follow the selected row.
  void OnDeviceListClick();
  // Right click on the list: the context menu for the selected row's mode.
  void OnDeviceListRightClick();
  void OnWebLink();
  // The hidden "Test" button does nothing.
  void OnTest() {}

  // Appends a line to the status log; Beep::kAlert also sounds the alert
  // tone and waits for it to end.
  void AddStatusLine(std::string text, Beep beep);
  // The line shown and its tone started; how long the tone sounds.
  std::chrono::milliseconds ShowStatusLine(std::string text, Beep beep);
  // Rebuilds the list from the device table, logs the count line, selects
  // row 0 and sets the device buttons.
  void RefreshDeviceList();
  // Steps 1 to 9 of Find. True when the search found exactly one device and
  // "... and make Update" is set, i.e. when an update should follow.
  bool FindDevices();
  // The file dialog; the confirmed path becomes m_lastFirmwarePath.
  std::optional<std::string> SelectFirmwareFile();
  // "Update all...": the firmware file dialog (where the Firmware-Update
  // dialog opens), the file read whole, a search, and the plan. Nothing
  // when the operator chose no file; a file that cannot be used is said in
  // the status log, as Firmware-Update says it, and gives nothing.
  std::optional<FleetPreparation> PrepareFleet();
  // The fleet run in this window: each update shows as Firmware-Update
  // shows it, its device's row selected, and its results reach the journal
  // and the result sink as Firmware-Update's do; `fleet` (the fleet
  // dialog) gets the run's events. Like the plan and the station, it
  // leaves the check boxes, the last file and the selected device as it
  // found them: only the one-device update and its chain set them.
  FleetRunEnd RunFleet(const FleetPlan& plan, const FleetRunOptions& options,
                       IFleetObserver& fleet);
  // How many devices the last such run wrote at once, or `fallback` when
  // none is stored or what is stored lies outside 1 to `most`.
  int StoredAtOnce(UnattendedRun run, int fallback, int most) const;
  // How the last such run waited around each transfer; for the devices'
  // answers until told otherwise.
  Waits StoredWaits(UnattendedRun run) const;
  // The station, its updates shown in the log as Firmware-Update's are.
  StationEnd RunStation(const StationOptions& options, IStationObserver& station);

  const std::string& workDir() const { return m_workDir; }
  const std::string& iniPath() const { return m_iniPath; }
  const InterfaceList& interfaces() const { return m_interfaces; }
  const std::vector<std::string>& statusLines() const { return m_statusLog.Lines(); }
  int rowCount() const { return m_rowCount; }
  bool useLastFile() const { return m_useLastFile; }
  bool andMakeUpdate() const { return m_andMakeUpdate; }
  const std::string& lastFirmwarePath() const { return m_lastFirmwarePath; }
  const std::vector<uint8_t>& firmwareImage() const { return m_firmwareImage; }
  bool serialMode() const { return m_serialMode; }
  const std::string& serialText() const { return m_serialText; }

 private:
  // How the commands' runs show in the window, and a fleet's.
  class CDlgObserver;
  class CFleetObserver;
  // Selects again, when it goes, the device that was selected when it was
  // made (none when that device is no longer listed).
  class CSelectionKept;

  // A search's two halves around SearchDevices, as Find makes them and as
  // a command's search shows: the check boxes read, the wait cursor, ports
  // that were busy tried again, and whether only bootloaders are searched;
  // then the list refreshed, the worked-on row selected again, the progress
  // bar emptied.
  bool BeginSearch();
  void EndSearch();
  // The check boxes into their members.
  void ReadCheckBoxes();
  void SetDeviceButtons(const std::optional<DeviceRecord>& firstRecord);
  // A tone at `frequencyHz` for the alert's length, waited for.
  void SoundTone(int frequencyHz);
  // The device's serial line, collected unless already present; shared by
  // the double click and the refresh. True when the line was added.
  bool CollectSerialLine(const DeviceRecord& device);
  void SaveBlackList();
  // A setting read as a whole number from `least` to `most`; none when it
  // is missing or anything else.
  std::optional<int> StoredWholeNumber(const char* key, int least, int most) const;
  // Writes a setting unless the file holds that value already.
  void WriteChangedSetting(const char* key, const std::string& value);
  // What a run goes with, remembered as it begins; `atOnce` only where the
  // run writes several devices at once.
  void RememberChoices(UnattendedRun run, std::optional<int> atOnce, const Waits& waits);
  // Writes a setting; a file that cannot be read or written is reported
  // once per run, and left as it is.
  void WriteSetting(const char* key, const std::string& value);
  void SayOnceAboutSettings(const std::string& problem);
  // The Firmware-Update command up to the Find that follows it: true when
  // an update ran (or was refused) and the Find is due.
  bool UpdateBeforeFind();
  // The selected device when an update may go to it; otherwise the reason
  // is logged and handed out, and nothing is returned.
  std::optional<DeviceRecord> SelectedToUpdate();
  // The one-device update of the selected row with the file at `path`: a
  // refused file is forgotten, and "Use last file again" ticked once the
  // device is started.
  void UpdateSelected(const std::string& path);
  // The file dialog alone: the confirmed path, stored nowhere.
  std::optional<std::string> ChooseFirmwareFile();
  // Run application for the selected row: true when the request went out.
  bool RunSelectedApplication();
  // The row of `device` in the list now, with its record as listed there.
  std::optional<std::pair<int, DeviceRecord>> ListedRowOf(const DeviceRecord& device) const;
  // Selects the row of `device` in the list now, or none.
  void SelectDevice(const std::optional<DeviceRecord>& device);
  std::optional<DeviceRecord> RecordAt(int index) const;
  // Opens the network on `address` and shows which ports could not be
  // bound; `tell` also shows a message box about them.
  bool OpenNetworkOn(const std::string& address, bool tell);
  // The list's columns for the open network: "Network" only with every
  // network open. Tells the view only when they change.
  void ShowColumns();
  // After a search that a command made, the row of the device it works on
  // is selected again (row 0 when it is not listed).
  void SelectWorkedOnRow();

  // Results. The command functions decide them and record them in the
  // journal (through the observer) before their deciding line shows; the
  // window then hands them to the result sink.
  void HandOut(const CommandResult& result);
  // Journal and sink at once, for results the window itself completes.
  void RecordAndHandOut(CommandResult result);
  // The result of a command that the window ran: handed out, and an
  // interruption passed on to whatever the window was doing.
  void Finish(const CommandResult& result);
  // An update started its device: "Use last file again" is ticked, and the
  // arrow is back while the device starts.
  void MarkStarted();
  // A file that is wrong for the device is forgotten so that "Use last file
  // again" asks anew; an unserved bootloader says nothing of the file.
  void ForgetRefusedFile(const CommandResult& result);
  // The search after an update tells whether the device came back running.
  void ConfirmPendingUpdate();
  // A command was told to stop: an update that only awaited its closing
  // search is handed out as it stands.
  void ReportInterruption();
  // Runs a command's body; an interruption is reported, then passed on.
  template <typename Body>
  void Guarded(Body body);
  // A result for a command that found no device to act on.
  void NoDeviceResult(CommandKind kind, const std::string& line);

  IMainView& m_view;
  INetwork& m_network;
  IClock& m_clock;
  CStatusLog m_statusLog;
  bool m_useLastFile = false;
  bool m_andMakeUpdate = false;
  InterfaceList m_interfaces;
  bool m_serialMode = false;
  std::string m_workDir;
  std::string m_lastFirmwarePath;
  std::string m_serialText;
  std::string m_iniPath;
  std::optional<CSettingsFile> m_settings;
  bool m_settingsProblemSaid = false;
  // The address of the last opening, and whether any port stayed closed:
  // the next Find then tries again.
  std::string m_openAddress;
  bool m_networkIncomplete = false;
  // The device a command works on, found again after each search it makes.
  std::optional<DeviceRecord> m_workedOn;
  IResultSink* m_journal = nullptr;
  IResultSink* m_results = nullptr;
  IListObserver* m_listObserver = nullptr;
  // An update that sent its run request waits for the search after it.
  std::optional<CommandResult> m_pendingUpdate;
  // Allocated once with the window; a run allocates nothing for the image.
  std::vector<uint8_t> m_firmwareImage = std::vector<uint8_t>(kFirmwareImageSize, 0xFF);
  int m_rowCount = 0;
  size_t m_shownColumns = 0;
};

}  // namespace quorvik
