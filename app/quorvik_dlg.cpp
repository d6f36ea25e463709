#include "app/quorvik_dlg.h"

#include <vector>

#include "devices/device_identity.h"
#include "devices/device_list.h"
#include "devices/serial_export.h"
#include "net/reply_processing.h"

namespace quorvik {

CQuorvikDlg::CQuorvikDlg(IMainView& view, INetwork& network, IClock& clock)
    : m_view(view), m_network(network), m_clock(clock) {}

void CQuorvikDlg::OnInitDialog() {
  m_workDir = CurrentWorkingDirectory();
  m_iniPath = SettingsFilePath(m_workDir);
  m_settings.emplace(m_iniPath);
  m_serialMode = false;
  m_lastFirmwarePath.clear();
  m_serialText.clear();

  const std::string hidden = m_settings->Read(kSettingsSection, kKeyHidden);
  // A file that could not be read reads as empty; a long black-list is
  // not loaded a second time just to learn that it could be.
  if (hidden.empty())
    if (const auto problem = m_settings->ReadProblem()) SayOnceAboutSettings(*problem);
  {
    DeviceSession& devices = m_network.Devices();
    std::lock_guard lock(devices.deviceMutex);
    devices.blackList = hidden;
  }

  m_interfaces = m_network.EnumerateInterfaces();
  if (m_interfaces.count > 0) {
    for (int i = 0; i < m_interfaces.count; ++i)
      m_view.AddNetworkEntry(FormatAddress(m_interfaces.addresses[i]));
    m_view.AddNetworkEntry(kAllNetworksEntry);
    const int selected =
        StoredNetworkEntry(m_interfaces, m_settings->Read(kSettingsSection, kKeySelectedIp));
    m_view.SelectNetworkEntry(selected);
    if (OpenNetworkOn(NetworkEntryAddress(m_interfaces, selected), true)) {
      m_network.RequestBootSearch();
      m_network.RequestAppSearch();
      m_clock.SleepFor(kStartupSearchWait);
    }
  } else {
    m_view.AddNetworkEntry(kNoInterfaceEntry);
    m_view.SelectNetworkEntry(0);
  }

  ShowColumns();
  RefreshDeviceList();
}

void CQuorvikDlg::ShowColumns() {
  std::vector<ListColumn> columns(kDeviceListColumns.begin(), kDeviceListColumns.end());
  // Which card a row came from matters only where there is more than one.
  if (m_openAddress == kAllNetworks) columns.push_back(kNetworkColumn);
  if (columns.size() == m_shownColumns) return;
  m_shownColumns = columns.size();
  m_view.SetColumns(columns);
}

void CQuorvikDlg::AddStatusLine(std::string text, Beep beep) {
  const std::chrono::milliseconds tone = ShowStatusLine(std::move(text), beep);
  if (tone.count() > 0) m_clock.SleepFor(tone);
}

std::chrono::milliseconds CQuorvikDlg::ShowStatusLine(std::string text, Beep beep) {
  m_statusLog.Add(std::move(text));
  m_view.ShowStatusLines(m_statusLog.Lines());
  if (beep != Beep::kAlert) return std::chrono::milliseconds{0};
  m_view.PlayTone(kBeepFrequencyHz, static_cast<int>(kBeepLength.count()));
  return kBeepLength;
}

void CQuorvikDlg::RefreshDeviceList() {
  std::vector<DeviceRow> rows;
  std::optional<DeviceRecord> first;
  int hidden = 0, dropped = 0;
  ListedDevices listed;
  {
    DeviceSession& devices = m_network.Devices();
    std::lock_guard lock(devices.deviceMutex);
    rows = BuildDeviceRows(devices.deviceTable);
    if (!rows.empty()) first = devices.deviceTable[0];
    hidden = devices.hiddenCount;
    dropped = devices.droppedCount;
    if (m_listObserver) {
      listed.records.assign(devices.deviceTable.begin(), devices.deviceTable.begin() + rows.size());
      listed.blackList = devices.blackList;
    }
  }
  m_rowCount = static_cast<int>(rows.size());
  m_view.ShowDroppedAnswers(dropped);
  m_view.ShowDeviceRows(rows);

  // In serial mode the first device, when it answered from its bootloader,
  // is collected.
  char line[96];
  if (m_serialMode && first && first->loaderType != 0) {
    if (CollectSerialLine(*first))
      std::snprintf(line, sizeof line, "%d Interfaces found (Copy serial to Clipboard - %d)",
                    m_rowCount, CountSerialLines(m_serialText));
    else
      std::snprintf(line, sizeof line, "%d Interfaces found (Serial present in Clipboard)",
                    m_rowCount);
  } else {
    std::snprintf(line, sizeof line, "%s", FoundLine(m_rowCount, hidden).c_str());
  }
  AddStatusLine(line, Beep::kNone);

  m_view.SelectRow(first ? 0 : -1);
  SetDeviceButtons(first);
  if (m_listObserver) m_listObserver->OnDevicesListed(listed);
}

void CQuorvikDlg::SetDeviceButtons(const std::optional<DeviceRecord>& record) {
  m_view.EnableButton(Button::kFirmwareUpdate,
                      record && CommandOffered(CommandKind::kUpdate, *record));
  m_view.EnableButton(Button::kFactoryReset,
                      record && CommandOffered(CommandKind::kReset, *record));
}

void CQuorvikDlg::ReadCheckBoxes() {
  m_useLastFile = m_view.IsChecked(CheckBox::kUseLastFile);
  m_andMakeUpdate = m_view.IsChecked(CheckBox::kAndMakeUpdate);
}

bool CQuorvikDlg::OpenNetworkOn(const std::string& address, bool tell) {
  m_openAddress = address;
  const bool opened = m_network.OpenNetwork(address);
  const std::vector<PortProblem> problems = m_network.PortProblems();
  m_networkIncomplete = !opened || !problems.empty();
  std::vector<std::string> texts;
  std::string detail;
  for (const PortProblem& p : problems) {
    texts.push_back(PortProblemText(p));
    detail += (detail.empty() ? "" : "\n") + texts.back();
  }
  m_view.ShowPortProblems(texts);
  if (!tell) return opened;
  if (!opened && detail.empty())
    m_view.ShowMessage(kNetworkFailedMessage);
  else if (!opened)
    m_view.ShowDetailedMessage(kNetworkFailedMessage, detail);
  else if (!problems.empty())
    m_view.ShowDetailedMessage(kPortsIncompleteMessage, detail);
  return opened;
}

void CQuorvikDlg::SayOnceAboutSettings(const std::string& problem) {
  if (m_settingsProblemSaid) return;
  m_settingsProblemSaid = true;
  m_view.ShowDetailedMessage("The settings file cannot be used; no setting is saved in it.",
                             problem);
}

void CQuorvikDlg::WriteSetting(const char* key, const std::string& value) {
  if (!m_settings) return;
  const FileWrite written = m_settings->Write(kSettingsSection, key, value);
  if (!written) SayOnceAboutSettings(written.problem.message);
}

std::optional<DeviceRecord> CQuorvikDlg::RecordAt(int index) const {
  if (index < 0 || index >= kDeviceTableCapacity) return std::nullopt;
  const DeviceSession& devices = m_network.Devices();
  std::lock_guard lock(devices.deviceMutex);
  if (devices.deviceTable[index].IsFree()) return std::nullopt;
  return devices.deviceTable[index];
}

void CQuorvikDlg::SoundTone(int frequencyHz) {
  m_view.PlayTone(frequencyHz, static_cast<int>(kBeepLength.count()));
  m_clock.SleepFor(kBeepLength);
}

bool CQuorvikDlg::CollectSerialLine(const DeviceRecord& device) {
  // A device without an 11- or 16-byte serial has no line: the empty text
  // counts as present, so nothing else of its row ends up collected.
  const std::string line = BuildSerialLine(device);
  if (m_serialText.find(line) != std::string::npos) return false;
  m_serialText += line;
  m_view.SetClipboardText(m_serialText);
  return true;
}

}  // namespace quorvik
