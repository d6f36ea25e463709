#include "tools/cli/cli_commands.h"

#include <algorithm>
#include <cstdio>
#include <set>
#include <sstream>

#include "base/text.h"
#include "commands/device_commands.h"
#include "devices/device_identity.h"
#include "devices/device_types.h"
#include "net/reply_processing.h"
#include "records/settings_file.h"
#include "tools/cli/cli_observer.h"
#include "tools/cli/cli_session.h"
#include "tools/cli/firmware_inspect.h"
#include "tools/cli/fleet_command.h"
#include "tools/cli/rig_commands.h"

namespace quorvik {

namespace {

// Why the window would not offer this command for the device, or nothing
// when it would.
std::optional<std::string> NotOffered(CommandKind kind, const DeviceRecord& device) {
  if (CommandOffered(kind, device)) return std::nullopt;
  switch (kind) {
    case CommandKind::kUpdate:
      return "Firmware-Update is not offered";
    case CommandKind::kReset:
      return "Factory reset is not offered for this device: its bootloader cannot reset";
    case CommandKind::kRun:
      return "Run application is offered only for a device in its bootloader";
    case CommandKind::kReboot:
      return "Activate bootloader is offered only for a device running its application";
  }
  return std::nullopt;
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

// One turn of Firmware-Update as the window's button runs it, without its
// chain. A refused twin gets no search, as in the window, where the
// refusal comes before the file is chosen.
void UpdateTurn(const DeviceRecord& device, const std::string& path, INetwork& network,
                CCliObserver& observer, CResultPrinter& printer, std::span<uint8_t> image) {
  if (const auto refused = RefuseTwin(CommandKind::kUpdate, device, observer)) {
    printer.OnResult(*refused);
    return;
  }
  // Read whole and checked before anything reaches a running device.
  const FirmwareFileRead read = ReadFirmwareFile(path);
  const UpdateInput input = InputFromFile(path, read, image);
  UpdateAndConfirm(device, input, network, observer.clock(), observer,
                   [&printer](const CommandResult& result) { printer.OnResult(result); });
}

}  // namespace

int RunInterfaces(CEventWriter& writer, INetwork& network) {
  const InterfaceList interfaces = network.EnumerateInterfaces();
  if (interfaces.count == 0) {
    writer.Message(kNoInterfaceEntry);
    writer.Event(ResultEvent("interfaces", Outcome::kFailed), "");
    return ExitCodeOf(Outcome::kFailed);
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
  writer.Event({{"event", "interface"},
                {"index", interfaces.count},
                {"address", kAllNetworks},
                {"selected", selected == interfaces.count}},
               std::string(selected == interfaces.count ? "* " : "  ") + kAllNetworks +
                   " (every card at once)");
  nlohmann::json result = ResultEvent("interfaces", Outcome::kOk);
  result["count"] = interfaces.count;
  if (writer.format() == OutputFormat::kJson) writer.Event(result, "");
  return 0;
}

int RunList(const CliOptions& options, CEventWriter& writer, INetwork& network,
            const CInterrupts& interrupts) {
  if (!options.saveRig.empty())
    if (const auto refused = RefuseUnsavableRig(options.saveRig, "list", writer)) return *refused;
  // A search, which no journal records.
  CCliSession session(options, "list", writer, interrupts, std::nullopt);
  if (const auto failed = session.OpenNetwork(network)) return *failed;
  CCliObserver& observer = session.observer();
  observer.SetPrintTable(true);
  SearchAgain(network, observer.clock(), observer);
  observer.Flush();
  const int code =
      options.saveRig.empty() ? 0 : SaveListedRig(options.saveRig, observer.listed(), writer);
  nlohmann::json result = ResultEvent("list", code == 0 ? Outcome::kOk : Outcome::kRefused);
  result["count"] = observer.listed().records.size();
  if (writer.format() == OutputFormat::kJson) writer.Event(result, "");
  return code;
}

int RunDeviceCommand(CommandKind kind, const CliOptions& options, CEventWriter& writer,
                     INetwork& network, std::istream& answers, const CInterrupts& interrupts) {
  if (kind == CommandKind::kUpdate && options.all)
    return RunFleet(options, writer, network, interrupts);
  const std::string command = CommandName(kind);
  CCliSession session(options, command, writer, interrupts);
  if (const auto refused = session.OpenJournal()) return *refused;
  if (const auto failed = session.OpenNetwork(network, answers)) return *failed;
  CCliObserver& observer = session.observer();
  observer.SetAssumeYes(options.yes);
  IClock& clock = observer.clock();
  CResultPrinter printer(writer);
  SearchAgain(network, clock, observer);
  observer.Flush();

  const std::vector<int> rows = MatchingRows(observer.listed().records, options.selector);
  if (rows.size() != 1)
    return Refuse(writer, command,
                  rows.empty() ? "no device answered to " + SelectorText(options.selector)
                               : std::to_string(rows.size()) + " devices answer to " +
                                     SelectorText(options.selector) + "; name one with --row",
                  Outcome::kNoDevice);
  // As the window acts on the selected row: its record as the table holds
  // it now, answers that came after the list included.
  const auto recordAt = [&network](int row) {
    return network.Devices().Listed().at(static_cast<size_t>(row));
  };
  if (const auto why = NotOffered(kind, recordAt(rows[0]))) return Refuse(writer, command, *why);

  // Allocated once; an update allocates nothing for its image.
  std::vector<uint8_t> image(kFirmwareImageSize, 0xFF);
  std::set<std::string> done;
  std::string stopReason;
  try {
    for (int row = rows[0];;) {
      done.insert(PhysicalDeviceKey(observer.listed().records[static_cast<size_t>(row)]));
      const DeviceRecord device = recordAt(row);
      switch (kind) {
        case CommandKind::kUpdate:
          // The chain is run here, not by the window's "... and make Update"
          // box: the box is read before the Find that would show whom it
          // continues with. Each turn is the box's turn: the update, then
          // the Find.
          UpdateTurn(device, options.file, network, observer, printer, image);
          break;
        case CommandKind::kReset:
          printer.OnResult(FactoryResetDevice(device, network, observer));
          break;
        case CommandKind::kRun: {
          const CommandResult result = RunApplication(device, network, observer);
          printer.OnResult(result);
          if (result.outcome == Outcome::kOk) clock.SleepFor(kAfterRunWait);
          break;
        }
        case CommandKind::kReboot: {
          const CommandResult result = RebootDevice(device, network, clock, observer);
          printer.OnResult(result);
          if (result.outcome == Outcome::kInterrupted) throw CCommandCancelled{};
          break;
        }
      }
      observer.Flush();

      if (kind != CommandKind::kUpdate || !options.chain) break;
      // The result of an update comes with the search after it, which shows
      // whether the device runs; only then may the technician swap it. A
      // device just updated that answers that search alone gets the pause
      // once more, and a new search, before the chain decides.
      const auto& listed = observer.listed().records;
      if (listed.size() == 1 && done.count(PhysicalDeviceKey(listed[0])) != 0) {
        clock.SleepFor(kAfterUpdateWait);
        SearchAgain(network, clock, observer);
        observer.Flush();
      }
      // The window's rule first: the chain goes on only when the Find lists
      // exactly one device. A device updated in this run that answers again
      // was not swapped, and updating it again is what the window would do
      // until the operator unticks the box: here the chain ends instead.
      const auto& records = observer.listed().records;
      if (!ChainGoesOn(true, records.size())) {
        stopReason = std::to_string(records.size()) + " devices answered the Find";
        break;
      }
      if (done.count(PhysicalDeviceKey(records[0])) != 0) {
        stopReason = "the same device answered again";
        break;
      }
      if (options.maxDevices > 0 && static_cast<int>(done.size()) >= options.maxDevices) {
        stopReason = "--max-devices reached";
        break;
      }
      row = 0;
    }
  } catch (const CCommandCancelled&) {
    observer.Flush();
    stopReason = "interrupted";
    writer.Error("interrupted");
  }
  const auto& results = printer.results;
  const bool interrupted = stopReason == "interrupted";
  const auto failed = std::find_if(results.begin(), results.end(), [](const CommandResult& r) {
    return r.outcome != Outcome::kOk;
  });
  Outcome outcome = failed == results.end() ? Outcome::kOk : failed->outcome;
  if (interrupted) outcome = Outcome::kInterrupted;
  const auto succeeded = std::count_if(results.begin(), results.end(), [](const CommandResult& r) {
    return r.outcome == Outcome::kOk;
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
  const bool journalFailed = session.journalFailed();
  if (journalFailed) event["journal"] = "incomplete";
  if (writer.format() == OutputFormat::kJson || !text.empty()) writer.Event(event, text);
  return JournalAwareExitCode(outcome, journalFailed);
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
    nlohmann::json event = {
        {"event", "section"},
        {"index", f.index},
        {"format", report.formatVersion},
        {"mcu", report.formatVersion >= 2 ? nlohmann::json(f.mcuCode) : nlohmann::json()},
        {"device", f.deviceType},
        {"deviceName", ToUtf8(type)},
        {"param", f.sectionParam},
        {"length", f.dataLength},
        {"crc", s.crc}};
    // Nothing to write: an update would report success and change nothing.
    if (f.dataLength == 0) event["empty"] = true;
    writer.Event(event, text + Printable(type) + (f.dataLength == 0 ? "  (empty)" : ""));
  }
  Outcome outcome = Outcome::kOk;
  std::string summary = std::to_string(report.sections.size()) + " section(s)";
  if (report.defect) {
    outcome = Outcome::kRefused;
    const std::string line = FirmwareVerdictLine(*report.defect);
    writer.Event({{"event", "defect"}, {"text", line}, {"detail", ToUtf8(report.detail)}},
                 "Refused: " + line + (report.detail.empty() ? "" : " (" + report.detail + ")"));
  }
  nlohmann::json result = ResultEvent("inspect", outcome);
  result["sections"] = report.sections.size();
  result["declared"] = report.declaredSections;
  if (writer.format() == OutputFormat::kJson)
    writer.Event(result, "");
  else
    writer.Event({}, summary + " of " + std::to_string(report.declaredSections) + " declared");
  return ExitCodeOf(outcome);
}

}  // namespace quorvik
