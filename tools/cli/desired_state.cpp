#include "tools/cli/desired_state.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <set>

#include "base/hex_text.h"
#include "base/text.h"
#include "commands/device_commands.h"
#include "commands/firmware_file.h"
#include "commands/sha256.h"
#include "records/journal.h"
#include "records/rig.h"
#include "records/rig_metrics.h"
#include "records/rig_plan.h"
#include "tools/cli/cli_session.h"
#include "tools/cli/fleet_command.h"
#include "tools/cli/rig_commands.h"

namespace quorvik {

namespace {

nlohmann::json TextOrNull(const std::string& text) {
  return text.empty() ? nlohmann::json() : nlohmann::json(ToUtf8(text));
}

nlohmann::json VersionOrNull(const std::optional<uint16_t>& version) {
  return version ? nlohmann::json(VersionText(*version)) : nlohmann::json();
}

std::string LineText(const RigPlanLine& line) {
  std::string action = RigActionName(line.action);
  action.resize(std::max<size_t>(action.size(), 17), ' ');
  return action + " label=" + Quoted(line.call.label) + " device=" + Quoted(line.call.device) +
         " serial=" + line.call.serial + " mac=" + line.call.mac + ": " + Printable(line.reason);
}

nlohmann::json LineJson(const RigPlanLine& line) {
  return {{"event", "plan_device"},
          {"action", RigActionName(line.action)},
          {"reason", ToUtf8(line.reason)},
          {"device", ToUtf8(line.call.device)},
          {"serial", line.call.serial},
          {"mac", line.call.mac},
          {"label", line.call.entry ? nlohmann::json(ToUtf8(line.call.label)) : nlohmann::json()},
          {"location", TextOrNull(line.call.location)},
          {"row", line.call.row >= 0 ? nlohmann::json(line.call.row) : nlohmann::json()},
          {"running", VersionOrNull(line.running)},
          {"declared", VersionOrNull(line.declared)},
          {"file", TextOrNull(line.file)}};
}

std::string SummaryText(const RigPlan& plan) {
  std::string text;
  for (const RigAction action : kRigActions)
    if (const int n = plan.Count(action); n > 0)
      text += (text.empty() ? "" : ", ") + std::to_string(n) + " " + RigActionName(action);
  return "Plan: " + (text.empty() ? std::string("no device") : text);
}

nlohmann::json SummaryJson(const RigPlan& plan) {
  nlohmann::json summary = {{"event", "summary"}};
  for (const RigAction action : kRigActions) summary[RigActionName(action)] = plan.Count(action);
  return summary;
}

std::string MetricState(RigAction action) {
  if (action == RigAction::kUpdate) return "out_of_date";
  std::string name = RigActionName(action);
  std::replace(name.begin(), name.end(), '-', '_');
  return name;
}

std::string RigName(const std::string& path) {
  return std::filesystem::path(path).filename().string();
}

RigPlan ShowPlan(const DesiredStateOptions& state, const Rig& rig, const ListedDevices& listed,
                 CEventWriter& writer) {
  RigPlanOptions options;
  options.rigPath = state.rigPath;
  options.allowDowngrade = state.allowDowngrade;
  RigPlan plan = PlanRig(rig, listed.records, listed.blackList, options);
  for (const RigPlanLine& line : plan.lines) writer.Event(LineJson(line), LineText(line));
  writer.Event(SummaryJson(plan), SummaryText(plan));
  return plan;
}

}  // namespace

RigMetrics MetricsOf(const std::string& rigPath, const RollCall& call) {
  RigMetrics metrics;
  metrics.rig = RigName(rigPath);
  metrics.checked = std::chrono::system_clock::now();
  for (const RollCallLine& line : call.lines)
    ++metrics.devices[{line.device, RollCallStatusName(line.status)}];
  return metrics;
}

std::optional<int> WriteMetricsFile(const std::string& path, const RigMetrics& metrics,
                                    CEventWriter& writer) {
  if (path.empty()) return std::nullopt;
  if (const std::string problem = WriteRigMetrics(path, metrics); !problem.empty()) {
    writer.Error("the metrics are not written: " + problem);
    return kExitUsage;
  }
  return std::nullopt;
}

int RunDeclare(const CliOptions& options, const DesiredStateOptions& state, CEventWriter& writer) {
  const std::string command = "declare";
  Rig rig;
  if (const auto refused = ReadRigOrRefuse(command, state.rigPath, writer, rig)) return *refused;
  const auto version = ParseVersionText(state.version);
  if (!version)
    return Refuse(writer, command,
                  "the version \"" + state.version + "\" is not a version like 3.04 (as listed)");
  const FirmwareFileRead file = ReadFirmwareFile(options.file);
  if (file.verdict)
    return Refuse(writer, command,
                  std::string(FirmwareVerdictLine(*file.verdict)) + " (" + file.detail + ")");
  // Without --model: every model the file has a section for.
  std::set<uint16_t> inFile;
  std::set<std::pair<uint16_t, uint16_t>> withMcu;
  for (const FirmwareSection& s : ListSections(file.bytes)) {
    inFile.insert(s.deviceType);
    withMcu.insert({s.deviceType, s.mcuCode});
  }
  std::vector<uint16_t> models = options.models;
  if (models.empty()) models.assign(inFile.begin(), inFile.end());
  for (const uint16_t model : models) {
    if (inFile.count(model) == 0)
      return Refuse(writer, command,
                    options.file + " has no section for model " + Hex16(model) + " (it has " +
                        std::to_string(inFile.size()) +
                        " model(s); quorvik-cli inspect lists them)");
    if (state.mcu && withMcu.count({model, *state.mcu}) == 0)
      return Refuse(writer, command,
                    options.file + " has no section for model " + Hex16(model) + " with MCU " +
                        Hex16(*state.mcu));
  }
  DeclaredFirmware declared;
  declared.mcu = state.mcu;
  declared.file = FirmwareNameFor(state.rigPath, options.file);
  declared.sha256 = Sha256Hex(file.bytes);
  declared.version = *version;
  for (const uint16_t model : models) {
    declared.model = model;
    DeclareFirmware(rig, declared);
  }
  const FileWrite written = WriteFileAtomically(
      state.rigPath, EncodeRig(rig, FormatUtcTime(std::chrono::system_clock::now())));
  if (!written) {
    writer.Error("the rig is not saved: " + written.problem.message);
    return kExitUsage;
  }
  for (const uint16_t model : models)
    writer.Event({{"event", "declared"},
                  {"rig", ToUtf8(state.rigPath)},
                  {"model", Hex16(model)},
                  {"mcu", state.mcu ? nlohmann::json(Hex16(*state.mcu)) : nlohmann::json()},
                  {"file", ToUtf8(declared.file)},
                  {"sha256", declared.sha256},
                  {"version", VersionText(declared.version)}},
                 "Declared for model " + Hex16(model) +
                     (state.mcu ? " MCU " + Hex16(*state.mcu) : std::string()) + ": " +
                     Printable(declared.file) + " installs " + VersionText(declared.version) +
                     " (SHA-256 " + declared.sha256 + ")");
  if (writer.format() == OutputFormat::kJson)
    writer.Event({{"event", "result"}, {"command", command}, {"outcome", "ok"}, {"exit", 0}}, "");
  return 0;
}

int RunPlan(const CliOptions& options, const DesiredStateOptions& state, CEventWriter& writer,
            INetwork& network, const CInterrupts& interrupts) {
  const std::string command = "plan";
  Rig rig;
  if (const auto refused = ReadRigOrRefuse(command, state.rigPath, writer, rig)) return *refused;
  CCliSession session(options, command, writer, interrupts, std::nullopt);
  if (const auto failed = session.OpenNetwork(network)) return *failed;
  CCliObserver& observer = session.observer();
  SearchAgain(network, observer.clock(), observer);
  observer.Flush();
  const ListedDevices& listed = observer.listed();
  const RigPlan plan = ShowPlan(state, rig, listed, writer);

  RigMetrics metrics = MetricsOf(state.rigPath, plan.Call());
  for (const RigPlanLine& line : plan.lines)
    ++metrics.firmware[{line.call.device, MetricState(line.action)}];
  if (const auto failed = WriteMetricsFile(state.metrics, metrics, writer)) return *failed;
  const int code = plan.Converged() ? 0 : kExitRollCallDiffers;
  if (writer.format() == OutputFormat::kJson)
    writer.Event({{"event", "result"},
                  {"command", command},
                  {"outcome", code == 0 ? "ok" : "differs"},
                  {"exit", code}},
                 "");
  return code;
}

int RunApply(const CliOptions& options, const DesiredStateOptions& state, CEventWriter& writer,
             INetwork& network, const CInterrupts& interrupts) {
  const std::string command = "apply";
  Rig rig;
  if (const auto refused = ReadRigOrRefuse(command, state.rigPath, writer, rig)) return *refused;
  CCliSession session(options, command, writer, interrupts);
  if (const auto refused = session.OpenJournal()) return *refused;
  if (const auto failed = session.OpenNetwork(network)) return *failed;
  CCliObserver& observer = session.observer();
  SearchAgain(network, observer.clock(), observer);
  observer.Flush();
  const RigPlan plan = ShowPlan(state, rig, observer.listed(), writer);
  // What an apply cannot change (a device missing, held back, a file that
  // is not the declared one) still makes the rig differ after it.
  const bool differs = plan.DiffersBeyondUpdates();
  if (plan.fleet.planned.empty()) {
    FleetTally tally;
    tally.skipped = static_cast<int>(plan.fleet.skipped.size());
    return FinishFleet(session, writer, tally, Outcome::kOk, differs);
  }
  std::set<std::string> files;
  for (const FleetDevice& d : plan.fleet.planned) files.insert(d.path);
  return RunFleetPlan({options, session, writer, interrupts, network}, plan.fleet, {},
                      "Update " + std::to_string(plan.fleet.planned.size()) +
                          " device(s) to the firmware the rig declares (" +
                          std::to_string(files.size()) + " file(s))?",
                      differs);
}

}  // namespace quorvik
