#include "tools/cli/cli_commands.h"

#include <algorithm>
#include <cstdio>
#include <mutex>
#include <set>
#include <sstream>
#include <thread>

#include "app/quorvik_dlg.h"
#include "app/settings_file.h"
#include "devices/device_types.h"
#include "net/reply_processing.h"
#include "tools/cli/firmware_inspect.h"

std::atomic<bool> g_interrupted{false};

void CCliClock::SleepFor(std::chrono::milliseconds duration) {
  m_view.Flush();
  const auto end =
      std::chrono::steady_clock::now() +
      std::chrono::duration_cast<std::chrono::steady_clock::duration>(duration * m_scale);
  // In slices, so that Ctrl-C ends a six-second wait at once.
  constexpr auto kSlice = std::chrono::milliseconds(20);
  for (;;) {
    if (g_interrupted) throw CCommandCancelled{};
    const auto now = std::chrono::steady_clock::now();
    if (now >= end) return;
    std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(end - now, kSlice));
  }
}

std::optional<int> ChooseInterfaceIndex(const InterfaceList& interfaces, const std::string& stored,
                                        const std::string& requested) {
  if (!requested.empty()) return InterfaceIndexOf(interfaces, requested);
  if (interfaces.count == 0) return std::nullopt;
  return StoredInterfaceIndex(interfaces, stored);
}

namespace {

// The window's settings file, found by the window's rule.
CSettingsFile UserSettings() {
  return CSettingsFile(SettingsFilePath(CurrentWorkingDirectory()));
}

nlohmann::json ResultEvent(const char* command, Outcome outcome) {
  return {{"event", "result"},
          {"command", command},
          {"outcome", OutcomeName(outcome)},
          {"exit", static_cast<int>(outcome)}};
}

// Start-up as the window does it, up to the open network: the black-list
// and the interface from the settings file. Only the
// interface may differ (--iface), and nothing is written back. Returns the
// exit code when the network cannot be used.
std::optional<int> OpenNetworkAsTheWindow(const CliOptions& options, const char* command,
                                          CEventWriter& writer, INetwork& network) {
  const CSettingsFile settings = UserSettings();
  {
    std::lock_guard lock(g_deviceMutex);
    g_blackList = settings.Read(kSettingsSection, kKeyHidden);
  }
  const InterfaceList interfaces = network.EnumerateInterfaces();
  const std::optional<int> index = ChooseInterfaceIndex(
      interfaces, settings.Read(kSettingsSection, kKeySelectedIp), options.iface);
  if (!index) {
    if (!options.iface.empty()) {
      writer.Error("no interface holds the address " + options.iface +
                   " (see quorvik-cli interfaces)");
      writer.Event(ResultEvent(command, Outcome::kRefused), "");
      return kExitUsage;
    }
    writer.Message(kNoInterfaceEntry);
    writer.Event(ResultEvent(command, Outcome::kDeviceFailed), "");
    return static_cast<int>(Outcome::kDeviceFailed);
  }
  if (!network.OpenNetwork(FormatAddress(interfaces.addresses[*index]))) {
    writer.Message(kNetworkFailedMessage);
    writer.Event(ResultEvent(command, Outcome::kDeviceFailed), "");
    return static_cast<int>(Outcome::kDeviceFailed);
  }
  return std::nullopt;
}

const char* CommandName(CommandKind kind) {
  switch (kind) {
    case CommandKind::kUpdate:
      return "update";
    case CommandKind::kReset:
      return "reset";
    case CommandKind::kRun:
      return "run";
    case CommandKind::kReboot:
      return "reboot";
  }
  return "";
}

std::string SelectorText(const DeviceSelector& selector) {
  std::string text;
  char digits[4];
  switch (selector.kind) {
    case DeviceSelector::Kind::kSerial:
      for (uint8_t b : selector.serial) {
        std::snprintf(digits, sizeof digits, "%.2X", b);
        text += digits;
      }
      return "--serial " + text;
    case DeviceSelector::Kind::kMac:
      for (uint8_t b : selector.mac) {
        std::snprintf(digits, sizeof digits, text.empty() ? "%.2X" : "-%.2X", b);
        text += digits;
      }
      return "--mac " + text;
    case DeviceSelector::Kind::kRow:
      return "--row " + std::to_string(selector.row);
  }
  return text;
}

// Whether the window would offer this command for the selected row: a
// button it enables, or an item of the context menu it opens.
std::optional<std::string> NotOffered(CommandKind kind, CQuorvikDlg& dlg, CConsoleView& view) {
  dlg.OnDeviceListClick();
  switch (kind) {
    case CommandKind::kUpdate:
      if (!view.ButtonEnabled(Button::kFirmwareUpdate)) return "Firmware-Update is not offered";
      break;
    case CommandKind::kReset:
      if (!view.ButtonEnabled(Button::kFactoryReset))
        return "Factory reset is not offered for this device: its bootloader cannot reset";
      break;
    case CommandKind::kRun:
      dlg.OnDeviceListRightClick();
      if (view.lastContextMenu() != ContextMenu::kDevice)
        return "Run application is offered only for a device in its bootloader";
      break;
    case CommandKind::kReboot:
      dlg.OnDeviceListRightClick();
      if (view.lastContextMenu() != ContextMenu::kHide)
        return "Activate bootloader is offered only for a device running its application";
      break;
  }
  return std::nullopt;
}

DeviceResult ResultFor(CommandKind kind, const ListedDevice& device) {
  DeviceResult result;
  result.command = CommandName(kind);
  result.device = device.device;
  result.serial = device.serial;
  result.mac = device.mac;
  return result;
}

}  // namespace

int RunInterfaces(CEventWriter& writer, INetwork& network) {
  const InterfaceList interfaces = network.EnumerateInterfaces();
  if (interfaces.count == 0) {
    writer.Message(kNoInterfaceEntry);
    writer.Event(ResultEvent("interfaces", Outcome::kDeviceFailed), "");
    return static_cast<int>(Outcome::kDeviceFailed);
  }
  const CSettingsFile settings = UserSettings();
  const int selected =
      ChooseInterfaceIndex(interfaces, settings.Read(kSettingsSection, kKeySelectedIp), "")
          .value_or(0);
  for (int i = 0; i < interfaces.count; ++i) {
    const std::string address = FormatAddress(interfaces.addresses[i]);
    writer.Event(
        {{"event", "interface"}, {"index", i}, {"address", address}, {"selected", i == selected}},
        (i == selected ? "* " : "  ") + address);
  }
  nlohmann::json result = ResultEvent("interfaces", Outcome::kSuccess);
  result["count"] = interfaces.count;
  if (writer.format() == OutputFormat::kJson) writer.Event(result, "");
  return 0;
}

int RunList(const CliOptions& options, CEventWriter& writer, INetwork& network) {
  if (const auto failed = OpenNetworkAsTheWindow(options, "list", writer, network)) return *failed;
  std::istringstream noAnswers;
  CConsoleView view(writer, noAnswers);
  view.SetPrintTable(true);
  CCliClock clock(view, options.timeScale);
  CQuorvikDlg dlg(view, network, clock);
  dlg.FindDevices();
  view.Flush();
  nlohmann::json result = ResultEvent("list", Outcome::kSuccess);
  result["count"] = view.devices().size();
  if (writer.format() == OutputFormat::kJson) writer.Event(result, "");
  return 0;
}

int RunDeviceCommand(CommandKind kind, const CliOptions& options, CEventWriter& writer,
                     INetwork& network, std::istream& answers) {
  const char* command = CommandName(kind);
  if (const auto failed = OpenNetworkAsTheWindow(options, command, writer, network)) return *failed;
  CConsoleView view(writer, answers);
  view.SetChosenFile(options.file);
  view.SetAssumeYes(options.yes);
  CCliClock clock(view, options.timeScale);
  CQuorvikDlg dlg(view, network, clock);
  dlg.FindDevices();
  view.Flush();

  const std::vector<int> rows = MatchingRows(view.records(), options.selector);
  if (rows.size() != 1) {
    writer.Error(rows.empty() ? "no device answered to " + SelectorText(options.selector)
                              : std::to_string(rows.size()) + " devices answer to " +
                                    SelectorText(options.selector) + "; name one with --row");
    writer.Event(ResultEvent(command, Outcome::kNoDevice), "");
    return static_cast<int>(Outcome::kNoDevice);
  }
  view.SelectRow(rows[0]);
  if (const auto why = NotOffered(kind, dlg, view)) {
    writer.Error(*why);
    writer.Event(ResultEvent(command, Outcome::kRefused), "");
    return kExitUsage;
  }

  std::vector<DeviceResult> results;
  std::set<std::string> done;
  std::string stopReason;
  for (int row = rows[0];;) {
    DeviceResult result = ResultFor(kind, view.devices()[static_cast<size_t>(row)]);
    done.insert(PhysicalDeviceKey(view.records()[static_cast<size_t>(row)]));
    COutcomeTracker tracker(kind);
    auto report = [&] {
      result.outcome = tracker.Finish();
      result.reason = tracker.reason();
      writer.DeviceResultLine(result);
    };
    // The result is printed the moment the log settles it, before the
    // pause and Find that follow an update: a production line can swap the
    // device while they run.
    view.onStatus = [&](const std::string& line, bool) {
      if (tracker.Feed(line)) report();
    };
    switch (kind) {
      case CommandKind::kUpdate:
        // The chain is run here, not by the "... and make Update" box: the
        // box is read before the Find that would show whom it continues
        // with. Each turn is the box's turn: the update, then the Find.
        dlg.OnFirmwareUpdate();
        break;
      case CommandKind::kReset:
        dlg.OnFactoryReset();
        break;
      case CommandKind::kRun:
        dlg.OnRunApplication();
        break;
      case CommandKind::kReboot:
        dlg.OnActivateBootloader();
        break;
    }
    view.Flush();
    view.onStatus = nullptr;
    if (!tracker.settled()) report();
    results.push_back(result);

    if (kind != CommandKind::kUpdate || !options.chain) break;
    // The window's rule first: the chain goes on only when the Find lists
    // exactly one device. A device updated in this run that answers again
    // was not swapped, and updating it again is what the window would do
    // until the operator unticks the box: here the chain ends instead.
    const auto& records = view.records();
    if (records.size() != 1) {
      stopReason = std::to_string(records.size()) + " devices answered the Find";
      break;
    }
    if (done.count(PhysicalDeviceKey(records[0])) != 0) {
      stopReason = "the same device answered again";
      break;
    }
    if (options.maxDevices > 0 && static_cast<int>(results.size()) >= options.maxDevices) {
      stopReason = "--max-devices reached";
      break;
    }
    row = 0;
  }

  const auto failed = std::find_if(results.begin(), results.end(), [](const DeviceResult& r) {
    return r.outcome != Outcome::kSuccess;
  });
  const Outcome outcome = failed == results.end() ? Outcome::kSuccess : failed->outcome;
  const auto succeeded = std::count_if(results.begin(), results.end(), [](const DeviceResult& r) {
    return r.outcome == Outcome::kSuccess;
  });
  nlohmann::json event = ResultEvent(command, outcome);
  event["devices"] = results.size();
  event["succeeded"] = succeeded;
  std::string text;
  if (options.chain && kind == CommandKind::kUpdate) {
    event["stopped"] = stopReason;
    text = "Chain ended after " + std::to_string(results.size()) + " device(s), " +
           std::to_string(succeeded) + " ok: " + stopReason;
  }
  if (writer.format() == OutputFormat::kJson || !text.empty()) writer.Event(event, text);
  return static_cast<int>(outcome);
}

int RunInspect(const std::string& path, CEventWriter& writer) {
  const FirmwareReport report = InspectFirmwareFile(path);
  for (const auto& s : report.sections) {
    const FirmwareSection& f = s.section;
    char mcu[8] = "-";
    if (report.formatVersion >= 2) std::snprintf(mcu, sizeof mcu, "0x%.4X", f.mcuCode);
    char text[160];
    std::snprintf(text, sizeof text,
                  "section %u: format %u  mcu %s  device 0x%.4X  param 0x%.4X  length %u  "
                  "crc 0x%.4X  ",
                  f.index, report.formatVersion, mcu, f.deviceType, f.sectionParam, f.dataLength,
                  s.crc);
    const std::string type = DeviceTypeName(f.deviceType, 0);
    writer.Event({{"event", "section"},
                  {"index", f.index},
                  {"format", report.formatVersion},
                  {"mcu", report.formatVersion >= 2 ? nlohmann::json(f.mcuCode) : nlohmann::json()},
                  {"device", f.deviceType},
                  {"deviceName", ToUtf8(type)},
                  {"param", f.sectionParam},
                  {"length", f.dataLength},
                  {"crc", s.crc}},
                 text + Printable(type));
  }
  Outcome outcome = Outcome::kSuccess;
  std::string summary = std::to_string(report.sections.size()) + " section(s)";
  if (report.defect) {
    outcome = Outcome::kRefused;
    const std::string line = FirmwareVerdictLine(*report.defect);
    writer.Event({{"event", "defect"}, {"text", line}}, "Refused: " + line);
  }
  nlohmann::json result = ResultEvent("inspect", outcome);
  result["sections"] = report.sections.size();
  result["declared"] = report.declaredSections;
  if (writer.format() == OutputFormat::kJson)
    writer.Event(result, "");
  else
    writer.Event({}, summary + " of " + std::to_string(report.declaredSections) + " declared");
  return static_cast<int>(outcome);
}
