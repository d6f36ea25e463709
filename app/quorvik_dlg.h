#pragma once
// The main window's logic: start-up, the status log, the device list and
// the commands. It never touches a widget; it talks to an IMainView, and to
// a clock for every wait, so that it runs and is tested without a window
// system.

#include <chrono>
#include <optional>
#include <string>

#include "app/clock.h"
#include "app/main_view.h"
#include "app/network.h"
#include "app/settings_file.h"
#include "app/settings_location.h"
#include "app/status_log.h"
#include "commands/firmware_file.h"
#include "net/interfaces.h"

constexpr const char* kCaption = "Belmarr Quorvik V1.41";
constexpr const char* kNoInterfaceEntry = "No Ethernet connection !";
constexpr const char* kNetworkFailedMessage = "Connection to Network failed !";
constexpr std::chrono::milliseconds kStartupSearchWait{5000};
constexpr std::chrono::milliseconds kSearchStepWait{20};
constexpr int kSearchSteps = 100;
constexpr int kBeepFrequencyHz = 100;
constexpr std::chrono::milliseconds kBeepLength{100};
constexpr std::chrono::milliseconds kEnterBootloaderWait{6000};
constexpr std::chrono::milliseconds kAfterUpdateWait{3000};
constexpr std::chrono::milliseconds kAfterRunWait{100};
constexpr int kWriteTries = 500;
constexpr std::chrono::milliseconds kRebootStepWait{60};
constexpr int kSerialToneHz = 1000;
constexpr const char* kWebAddress = "https://www.belmarr.example/";

class CQuorvikDlg {
 public:
  CQuorvikDlg(IMainView& view, INetwork& network, IClock& clock);

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

  // Appends a line to the status log; beep 1 also sounds the alert tone and
  // waits for it to end.
  void AddStatusLine(std::string text, int beep);
  // Rebuilds the list from the device table, logs the count line, selects
  // row 0 and sets the device buttons.
  void RefreshDeviceList();
  // Steps 1 to 9 of Find. True when the search found exactly one device and
  // "... and make Update" is set, i.e. when an update should follow.
  bool FindDevices();
  // The file dialog; the confirmed path becomes m_lastFirmwarePath.
  std::optional<std::string> SelectFirmwareFile();
  // Loads the section of `path` that fits `device` into m_firmwareImage, or
  // logs why the file is refused.
  std::optional<FirmwareSection> LoadFirmwareSection(const std::string& path,
                                                     const DeviceRecord& device);
  // The update of the selected row with m_lastFirmwarePath; every outcome
  // goes to the status log.
  void RunFirmwareUpdate();

  const std::string& workDir() const { return m_workDir; }
  const std::string& iniPath() const { return m_iniPath; }
  const InterfaceList& interfaces() const { return m_interfaces; }
  const std::vector<std::string>& statusLines() const { return m_statusLog.Lines(); }
  int rowCount() const { return m_rowCount; }
  int useLastFile() const { return m_useLastFile; }
  int andMakeUpdate() const { return m_andMakeUpdate; }
  const std::string& lastFirmwarePath() const { return m_lastFirmwarePath; }
  const std::vector<uint8_t>& firmwareImage() const { return m_firmwareImage; }
  bool serialMode() const { return m_serialMode; }
  const std::string& serialText() const { return m_serialText; }

 private:
  // The check boxes into their members.
  void ReadCheckBoxes();
  // 100 steps of `step` on the progress bar while the receivers collect.
  void RunProgress(std::chrono::milliseconds step);
  void SetDeviceButtons(const std::optional<DeviceRecord>& firstRecord);
  // Beeps at `frequencyHz` for the alert length and waits for it.
  void Beep(int frequencyHz);
  // The device's serial line, collected unless already present; shared by
  // the double click and the refresh. True when the line was added.
  bool CollectSerialLine(const DeviceRecord& device);
  // The highest bootloader-mode record with this hardware address.
  std::optional<DeviceRecord> BootRecordWithMac(const std::array<uint8_t, 6>& mac) const;
  void SaveBlackList();
  // Saves one setting; a failure is shown, and the value still holds for
  // this run.
  void StoreSetting(const char* key, const std::string& value);
  // The Firmware-Update command up to the Find that follows it: true when
  // an update ran (or was refused) and the Find is due.
  bool UpdateBeforeFind();
  std::optional<DeviceRecord> RecordAt(int index) const;
  // Writes the section block by block; false after a logged failure.
  bool WriteSection(const DeviceRecord& device, const FirmwareSection& section,
                    uint32_t& blocksWritten);

  IMainView& m_view;
  INetwork& m_network;
  IClock& m_clock;
  CStatusLog m_statusLog;
  int m_useLastFile = 0;
  int m_andMakeUpdate = 0;
  InterfaceList m_interfaces;
  bool m_serialMode = false;
  std::string m_workDir;
  std::string m_lastFirmwarePath;
  std::string m_serialText;
  std::string m_iniPath;
  std::optional<CSettingsFile> m_settings;
  // Allocated once with the window; a run allocates nothing for the image.
  std::vector<uint8_t> m_firmwareImage = std::vector<uint8_t>(kFirmwareImageSize, 0xFF);
  int m_rowCount = 0;
};

// The whole current working directory, however long.
std::string CurrentWorkingDirectory();
// The entry whose address reads exactly `dotted`.
std::optional<int> InterfaceIndexOf(const InterfaceList& interfaces, const std::string& dotted);
// The interface opened at start-up: the stored one, else the first.
int StoredInterfaceIndex(const InterfaceList& interfaces, const std::string& stored);
