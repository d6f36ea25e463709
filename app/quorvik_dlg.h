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
#include "app/status_log.h"
#include "net/interfaces.h"

constexpr const char* kCaption = "Belmarr Quorvik V1.41";
constexpr const char* kNoInterfaceEntry = "No Ethernet connection !";
constexpr const char* kNetworkFailedMessage = "Connection to Network failed !";
constexpr const char* kSettingsFileName = "Quorvik.ini";
constexpr std::chrono::milliseconds kStartupSearchWait{5000};
constexpr std::chrono::milliseconds kSearchStepWait{20};
constexpr int kSearchSteps = 100;
constexpr int kBeepFrequencyHz = 100;
constexpr std::chrono::milliseconds kBeepLength{100};

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

  // Appends a line to the status log; beep 1 also sounds the alert tone and
  // waits for it to end.
  void AddStatusLine(std::string text, int beep);
  // Rebuilds the list from the device table, logs the count line, selects
  // row 0 and sets the device buttons.
  void RefreshDeviceList();
  // Steps 1 to 9 of Find. True when the search found exactly one device and
  // "... and make Update" is set, i.e. when an update should follow.
  bool FindDevices();

  const std::string& workDir() const { return m_workDir; }
  const std::string& iniPath() const { return m_iniPath; }
  const InterfaceList& interfaces() const { return m_interfaces; }
  const std::vector<std::string>& statusLines() const { return m_statusLog.Lines(); }
  int rowCount() const { return m_rowCount; }
  int useLastFile() const { return m_useLastFile; }
  int andMakeUpdate() const { return m_andMakeUpdate; }

 private:
  // Check boxes to members (true) or members to check boxes (false).
  void UpdateData(bool fromScreen);
  // 100 steps of 20 ms on the progress bar while the receivers collect.
  void RunSearchProgress();
  void SetDeviceButtons(const std::optional<DeviceRecord>& firstRecord);

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
  int m_rowCount = 0;
};

// The whole current working directory, however long.
std::string CurrentWorkingDirectory();
