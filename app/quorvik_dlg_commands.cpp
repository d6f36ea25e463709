// The window's device commands: the selected row, the check boxes and the
// file dialog turned into the inputs of the command functions, and their
// runs shown in the status log, tones and progress bar.

#include <sys/stat.h>

#include <charconv>
#include <mutex>
#include <string>

#include "app/quorvik_dlg.h"
#include "devices/device_identity.h"
#include "net/reply_processing.h"

namespace quorvik {

class CQuorvikDlg::CDlgObserver : public ICommandObserver {
 public:
  explicit CDlgObserver(CQuorvikDlg& dlg) : m_dlg(dlg) {}
  void Status(const std::string& line, Beep beep) override { m_dlg.AddStatusLine(line, beep); }
  std::chrono::milliseconds ShowStatus(const std::string& line, Beep beep) override {
    return m_dlg.ShowStatusLine(line, beep);
  }
  void Decided(const CommandResult& result) override {
    // On disk before the operator reads the line that ends the command.
    if (m_dlg.m_journal != nullptr) m_dlg.m_journal->OnResult(result);
  }
  bool Starting(const CommandResult& result) override {
    return m_dlg.m_journal == nullptr || m_dlg.m_journal->OnStarted(result);
  }
  void Busy(bool busy) override { m_dlg.m_view.SetWaitCursor(busy); }
  void ProgressStart(int steps) override {
    m_dlg.m_view.SetProgressRange(0, steps);
    m_dlg.m_view.SetProgressStep(1);
    m_dlg.m_view.SetProgressPos(0);
  }
  void ProgressStep() override { m_dlg.m_view.StepProgress(); }
  void BlockWritten(uint32_t, uint32_t) override {}
  void Inform(const std::string& text) override { m_dlg.m_view.ShowMessage(text); }
  bool AskYesNo(const std::string& text) override { return m_dlg.m_view.AskYesNo(text); }
  bool SearchStarting() override { return m_dlg.BeginSearch(); }
  void SearchEnded() override { m_dlg.EndSearch(); }
  void Addressed(const DeviceRecord& record) override { m_dlg.m_workedOn = record; }

 private:
  CQuorvikDlg& m_dlg;
};

// A fleet's run in the window: its updates show as Firmware-Update's do,
// with the device's row selected, and its events go on to the dialog.
class CQuorvikDlg::CFleetObserver : public CDlgObserver, public IFleetObserver {
 public:
  CFleetObserver(CQuorvikDlg& dlg, IFleetObserver& dialog)
      : CDlgObserver(dlg), m_dlg(dlg), m_dialog(dialog) {}

  void OnDeviceStarted(size_t device, int attempt) override {
    // The search that may find it again selects no row of the device before.
    m_dlg.m_workedOn.reset();
    m_dialog.OnDeviceStarted(device, attempt);
  }
  void OnDeviceFound(size_t device, int row) override {
    m_dlg.m_view.SelectRow(row);
    m_dlg.m_view.SetWaitCursor(true);
    m_dlg.m_workedOn = m_dlg.RecordAt(row);
    m_dialog.OnDeviceFound(device, row);
  }
  void OnBlocksWritten(size_t device, uint32_t done, uint32_t total) override {
    m_dialog.OnBlocksWritten(device, done, total);
  }
  void OnRunRequested(size_t device) override {
    // The arrow is back while the device starts; "Use last file again"
    // belongs to the one-device update and stays as the operator left it.
    m_dlg.m_view.SetWaitCursor(false);
    m_dialog.OnRunRequested(device);
  }
  void OnAttemptResult(size_t device, const CommandResult& result) override {
    m_dlg.HandOut(result);
    m_dialog.OnAttemptResult(device, result);
  }
  void OnDeviceFinished(size_t device, const CommandResult& result, bool updated) override {
    m_dialog.OnDeviceFinished(device, result, updated);
  }
  void OnDeviceNotReached(size_t device, const CommandResult& result) override {
    m_dialog.OnDeviceNotReached(device, result);
  }
  void OnStoppedBeforeTurn(size_t device) override { m_dialog.OnStoppedBeforeTurn(device); }

 private:
  CQuorvikDlg& m_dlg;
  IFleetObserver& m_dialog;
};

class CQuorvikDlg::CSelectionKept {
 public:
  explicit CSelectionKept(CQuorvikDlg& dlg)
      : m_dlg(dlg), m_selected(dlg.RecordAt(dlg.m_view.SelectedRow())) {}
  ~CSelectionKept() { m_dlg.SelectDevice(m_selected); }
  CSelectionKept(const CSelectionKept&) = delete;
  CSelectionKept& operator=(const CSelectionKept&) = delete;

 private:
  CQuorvikDlg& m_dlg;
  const std::optional<DeviceRecord> m_selected;
};

namespace {

bool IsFolder(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

}  // namespace

template <typename Body>
void CQuorvikDlg::Guarded(Body body) {
  try {
    body();
  } catch (const CCommandCancelled&) {
    ReportInterruption();
    throw;
  }
}

void CQuorvikDlg::HandOut(const CommandResult& result) {
  if (m_results != nullptr) m_results->OnResult(result);
}

void CQuorvikDlg::RecordAndHandOut(CommandResult result) {
  CDlgObserver observer(*this);
  RecordResult(result, observer);
  HandOut(result);
}

void CQuorvikDlg::Finish(const CommandResult& result) {
  HandOut(result);
  if (result.outcome == Outcome::kInterrupted) throw CCommandCancelled{};
}

void CQuorvikDlg::NoDeviceResult(CommandKind kind, const std::string& line) {
  CommandResult result;
  result.command = kind;
  result.outcome = Outcome::kNoDevice;
  result.statusLine = line;
  result.reason = line.empty() ? "No device selected" : line;
  result.started = std::chrono::system_clock::now();
  RecordAndHandOut(std::move(result));
}

void CQuorvikDlg::ConfirmPendingUpdate() {
  CommandResult result = std::move(*m_pendingUpdate);
  m_pendingUpdate.reset();
  ConfirmUpdate(m_network.Devices(), result);
  RecordAndHandOut(std::move(result));
}

void CQuorvikDlg::ReportInterruption() {
  m_workedOn.reset();
  // An update that had started the device is complete; only the search
  // that would have confirmed it is missing.
  if (!m_pendingUpdate) return;
  CommandResult done = std::move(*m_pendingUpdate);
  m_pendingUpdate.reset();
  RecordAndHandOut(std::move(done));
}

void CQuorvikDlg::OnNetworkSelChange() {
  const int index = m_view.SelectedNetworkEntry();
  // The only entry without an interface is "No Ethernet connection !":
  // there is nothing to store or open.
  if (m_interfaces.count == 0 || index < 0 || index > m_interfaces.count) return;
  const std::string address = NetworkEntryAddress(m_interfaces, index);
  WriteSetting(kKeySelectedIp, address);
  const bool opened = OpenNetworkOn(address, true);
  // The last card's rows go with the list's columns: the new ones come
  // with the search below.
  ShowColumns();
  if (!opened) return;
  m_network.RequestBootSearch();
  m_network.RequestAppSearch();
  CDlgObserver observer(*this);
  RunProgress(m_clock, observer, kSearchStepWait);
  RefreshDeviceList();
  m_view.SetProgressPos(0);
}

// The Find command: empty the table, search, wait while the receivers
// collect, and show what answered.
bool CQuorvikDlg::FindDevices() {
  const bool bootOnly = BeginSearch();
  CDlgObserver observer(*this);
  SearchDevices(m_network, m_clock, observer, bootOnly);
  if (m_pendingUpdate) ConfirmPendingUpdate();
  EndSearch();
  return ChainGoesOn(m_andMakeUpdate, static_cast<size_t>(m_rowCount));
}

bool CQuorvikDlg::BeginSearch() {
  ReadCheckBoxes();
  m_view.SetWaitCursor(true);
  // A port that another program held may be free by now.
  if (m_networkIncomplete && !m_openAddress.empty()) OpenNetworkOn(m_openAddress, false);
  // While serial numbers are collected only bootloaders are searched.
  return m_serialMode;
}

void CQuorvikDlg::EndSearch() {
  RefreshDeviceList();
  if (m_workedOn) SelectWorkedOnRow();
  m_view.SetProgressPos(0);
  m_view.SetWaitCursor(false);
}

std::optional<std::pair<int, DeviceRecord>> CQuorvikDlg::ListedRowOf(
    const DeviceRecord& device) const {
  const DeviceSession& devices = m_network.Devices();
  std::lock_guard lock(devices.deviceMutex);
  for (int row = 0, used = CountUsedRecords(devices.deviceTable); row < used; ++row)
    if (SameDevice(devices.deviceTable[row], device))
      return std::pair{row, devices.deviceTable[row]};
  return std::nullopt;
}

void CQuorvikDlg::SelectDevice(const std::optional<DeviceRecord>& device) {
  const auto listed = device ? ListedRowOf(*device) : std::nullopt;
  m_view.SelectRow(listed ? listed->first : -1);
  SetDeviceButtons(listed ? std::optional(listed->second) : std::nullopt);
}

void CQuorvikDlg::SelectWorkedOnRow() {
  const auto listed = ListedRowOf(*m_workedOn);
  // Row 0 is already selected by the refresh.
  if (!listed || listed->first == 0) return;
  m_view.SelectRow(listed->first);
  SetDeviceButtons(listed->second);
}

void CQuorvikDlg::OnFind() {
  // Find and the update call each other for as long as one device answers
  // with "... and make Update" set; a loop keeps the stack flat however long
  // the chain runs.
  Guarded([this] {
    while (FindDevices() && UpdateBeforeFind()) {
    }
  });
  m_workedOn.reset();
}

std::optional<std::string> CQuorvikDlg::ChooseFirmwareFile() {
  // Firmware files rarely sit where the program was started (the home
  // folder, from the desktop menu): the dialog opens where the last one was.
  std::string folder = m_settings ? m_settings->Read(kSettingsSection, kKeyFirmwareFolder) : "";
  if (folder.empty() || !IsFolder(folder)) folder = m_workDir;
  auto path =
      m_view.ChooseFile({folder + "/firmware.bin", ".bin", "Firmware File (*.bin)", "*.bin"});
  if (!path) return std::nullopt;
  m_view.SetWaitCursor(true);
  if (path->find('/') != std::string::npos && FolderOf(*path) != folder)
    WriteSetting(kKeyFirmwareFolder, FolderOf(*path));
  return path;
}

std::optional<std::string> CQuorvikDlg::SelectFirmwareFile() {
  auto path = ChooseFirmwareFile();
  if (path) m_lastFirmwarePath = *path;
  return path;
}

void CQuorvikDlg::OnFirmwareUpdate() {
  Guarded([this] {
    if (UpdateBeforeFind()) OnFind();
  });
  m_workedOn.reset();
}

std::optional<DeviceRecord> CQuorvikDlg::SelectedToUpdate() {
  const std::optional<DeviceRecord> selected = RecordAt(m_view.SelectedRow());
  if (!selected) {
    AddStatusLine("Wrong interface selection !", Beep::kAlert);
    NoDeviceResult(CommandKind::kUpdate, "Wrong interface selection !");
    return std::nullopt;
  }
  CDlgObserver observer(*this);
  if (const auto refused = RefuseTwin(CommandKind::kUpdate, *selected, observer)) {
    HandOut(*refused);
    return std::nullopt;
  }
  return selected;
}

bool CQuorvikDlg::UpdateBeforeFind() {
  ReadCheckBoxes();
  const std::optional<DeviceRecord> selected = SelectedToUpdate();
  if (!selected) return false;
  if (m_useLastFile && !m_lastFirmwarePath.empty()) {
    m_view.SetWaitCursor(true);
  } else if (!SelectFirmwareFile()) {
    CDlgObserver observer(*this);
    HandOut(Decide(BeginResult(CommandKind::kUpdate, *selected), Outcome::kRefused, "", Beep::kNone,
                   observer, "No firmware file chosen"));
    return false;
  }
  // Every outcome goes to the status log and, as a value, to the result
  // sink.
  UpdateSelected(m_lastFirmwarePath);
  m_clock.SleepFor(kAfterUpdateWait);
  return true;
}

void CQuorvikDlg::UpdateSelected(const std::string& path) {
  const bool ctrlHeld = m_view.IsCtrlHeld();
  ReadCheckBoxes();
  const std::optional<DeviceRecord> target = RecordAt(m_view.SelectedRow());
  if (!target) {
    AddStatusLine("Wrong interface selection !", Beep::kAlert);
    NoDeviceResult(CommandKind::kUpdate, "Wrong interface selection !");
    return;
  }
  m_workedOn = *target;
  // The file is read whole and checked before anything reaches a running
  // device; the input holds on to these bytes.
  const FirmwareFileRead read = ReadFirmwareFile(path);
  UpdateInput input = InputFromFile(path, read, m_firmwareImage);
  input.ctrlHeld = ctrlHeld;

  CDlgObserver observer(*this);
  const CommandResult result = UpdateDevice(*target, input, m_network, m_clock, observer);
  ForgetRefusedFile(result);
  if (result.outcome != Outcome::kOk || !result.runRequestSent) {
    Finish(result);
    return;
  }
  // Handed out with what the next search tells of the device.
  m_pendingUpdate = result;
  m_clock.SleepFor(kAfterRunWait);
  MarkStarted();
}

void CQuorvikDlg::MarkStarted() {
  m_useLastFile = true;
  m_view.SetChecked(CheckBox::kUseLastFile, true);
  m_view.SetWaitCursor(false);
}

void CQuorvikDlg::ForgetRefusedFile(const CommandResult& result) {
  if (result.update && result.update->refusedFile &&
      *result.update->refusedFile != FirmwareVerdict::kWrongBootloader)
    m_lastFirmwarePath.clear();
}

std::optional<FleetPreparation> CQuorvikDlg::PrepareFleet() {
  // The fleet's file is not the one "Use last file again" means.
  const std::optional<std::string> path = ChooseFirmwareFile();
  if (!path) return std::nullopt;
  // Read once: the plan and every device's update see the same bytes,
  // whatever happens to the file on disk meanwhile.
  FirmwareFileRead file = ReadFirmwareFile(*path);
  if (file.verdict) {
    m_view.SetWaitCursor(false);
    AddStatusLine(FirmwareVerdictLine(*file.verdict), Beep::kAlert);
    return std::nullopt;
  }
  {
    const CSelectionKept selection(*this);
    FindDevices();
  }
  FleetPreparation prepared;
  prepared.path = *path;
  prepared.plan = PlanFleet(m_network.Devices().Listed(), file.bytes);
  prepared.bytes = std::make_shared<const std::vector<uint8_t>>(std::move(file.bytes));
  return prepared;
}

namespace {

// Where each unattended run keeps what it was last run with: how many
// devices are written at once, and how each transfer is waited around
// ("ready" or "fixed", and the settle time in milliseconds). Recovery
// writes one device already in its loader: only its waits are its own.
struct ChoiceKeys {
  const char* atOnce;
  const char* waits;
  const char* settle;
};

ChoiceKeys KeysOf(UnattendedRun run) {
  switch (run) {
    case UnattendedRun::kFleet:
      return {"FLEET_AT_ONCE", "FLEET_WAITS", "FLEET_SETTLE_MS"};
    case UnattendedRun::kStation:
      return {"STATION_AT_ONCE", "STATION_WAITS", "STATION_SETTLE_MS"};
    case UnattendedRun::kRecovery:
      break;
  }
  return {nullptr, "RECOVER_WAITS", nullptr};
}

}  // namespace

std::optional<int> CQuorvikDlg::StoredWholeNumber(const char* key, int least, int most) const {
  if (!m_settings || key == nullptr) return std::nullopt;
  const std::string stored = m_settings->Read(kSettingsSection, key);
  int value = 0;
  const auto [end, error] = std::from_chars(stored.data(), stored.data() + stored.size(), value);
  if (error != std::errc{} || end != stored.data() + stored.size() || value < least || value > most)
    return std::nullopt;
  return value;
}

void CQuorvikDlg::WriteChangedSetting(const char* key, const std::string& value) {
  if (m_settings && m_settings->Read(kSettingsSection, key) != value) WriteSetting(key, value);
}

int CQuorvikDlg::StoredAtOnce(UnattendedRun run, int fallback, int most) const {
  return StoredWholeNumber(KeysOf(run).atOnce, 1, most).value_or(fallback);
}

Waits CQuorvikDlg::StoredWaits(UnattendedRun run) const {
  const ChoiceKeys keys = KeysOf(run);
  Waits waits{true, kDefaultSettle};
  if (m_settings) waits.ready = m_settings->Read(kSettingsSection, keys.waits) != "fixed";
  if (const auto settle = StoredWholeNumber(keys.settle, 0, static_cast<int>(kMaxSettle.count())))
    waits.settle = std::chrono::milliseconds(*settle);
  return waits;
}

void CQuorvikDlg::RememberChoices(UnattendedRun run, std::optional<int> atOnce,
                                  const Waits& waits) {
  // An unchanged value leaves the file as it is.
  const ChoiceKeys keys = KeysOf(run);
  if (atOnce && keys.atOnce) WriteChangedSetting(keys.atOnce, std::to_string(*atOnce));
  WriteChangedSetting(keys.waits, waits.Name());
  if (keys.settle) WriteChangedSetting(keys.settle, std::to_string(waits.settle.count()));
}

FleetRunEnd CQuorvikDlg::RunFleet(const FleetPlan& plan, const FleetRunOptions& options,
                                  IFleetObserver& fleet) {
  RememberChoices(UnattendedRun::kFleet, options.parallel, options.waits);
  const CSelectionKept selection(*this);
  CFleetObserver observer(*this, fleet);
  const FleetRunEnd end = RunFleetUpdate(plan, options, m_network, m_clock, observer, observer);
  m_workedOn.reset();
  return end;
}

StationEnd CQuorvikDlg::RunStation(const StationOptions& options, IStationObserver& station) {
  RememberChoices(UnattendedRun::kStation, options.parallel, options.waits);
  const CSelectionKept selection(*this);
  CDlgObserver observer(*this);
  const StationEnd end = quorvik::RunStation(options, m_network, m_clock, observer, station);
  m_workedOn.reset();
  return end;
}

// Single-shot commands on the selected device: factory reset, run
// application, and the restart through the bootloader.

void CQuorvikDlg::OnFactoryReset() {
  const std::optional<DeviceRecord> device = RecordAt(m_view.SelectedRow());
  if (!device) {
    NoDeviceResult(CommandKind::kReset, "");
    return;
  }
  CDlgObserver observer(*this);
  HandOut(FactoryResetDevice(*device, m_network, observer));
}

void CQuorvikDlg::WriteSameFileAgain(int row, const std::string& path,
                                     const FirmwareFileRead& checked, const Waits& waits) {
  RememberChoices(UnattendedRun::kRecovery, std::nullopt, waits);
  const CSelectionKept selection(*this);
  m_view.SelectRow(row);
  Guarded([&] {
    const std::optional<DeviceRecord> target = SelectedToUpdate();
    if (!target) return;
    m_view.SetWaitCursor(true);
    m_workedOn = *target;
    UpdateInput input = InputFromFile(path, checked, m_firmwareImage);
    input.ctrlHeld = m_view.IsCtrlHeld();
    input.waits = waits;
    // The search after the update tells whether the device came back; it
    // starts no chain, whatever "... and make Update" says.
    CDlgObserver observer(*this);
    UpdateAndConfirm(
        *target, input, m_network, m_clock, observer,
        [this](const CommandResult& result) { HandOut(result); },
        [this] { m_view.SetWaitCursor(false); });
  });
  m_workedOn.reset();
}

void CQuorvikDlg::StartHalfUpdated(int row) {
  const CSelectionKept selection(*this);
  m_view.SelectRow(row);
  RunSelectedApplication();
}

bool CQuorvikDlg::RunSelectedApplication() {
  const std::optional<DeviceRecord> device = RecordAt(m_view.SelectedRow());
  if (!device) {
    NoDeviceResult(CommandKind::kRun, "");
    return false;
  }
  CDlgObserver observer(*this);
  const CommandResult result = RunApplication(*device, m_network, observer);
  HandOut(result);
  if (result.outcome != Outcome::kOk) return false;
  m_clock.SleepFor(kAfterRunWait);
  return true;
}

void CQuorvikDlg::OnRunApplication() {
  if (!RunSelectedApplication()) return;
  m_useLastFile = true;
  m_view.SetChecked(CheckBox::kUseLastFile, true);
}

void CQuorvikDlg::OnActivateBootloader() {
  const std::optional<DeviceRecord> device = RecordAt(m_view.SelectedRow());
  if (!device) {
    NoDeviceResult(CommandKind::kReboot, "");
    return;
  }
  Guarded([&] {
    m_workedOn = *device;
    CDlgObserver observer(*this);
    Finish(RebootDevice(*device, m_network, m_clock, observer));
  });
  m_workedOn.reset();
}

}  // namespace quorvik
