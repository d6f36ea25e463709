#include "tools/cli/rig_commands.h"

#include <sstream>

#include "base/text.h"
#include "commands/device_commands.h"
#include "records/rig.h"
#include "records/roll_call.h"
#include "tools/cli/cli_session.h"
#include "tools/cli/desired_state.h"

namespace quorvik {

namespace {

nlohmann::json StateJson(const std::optional<RollCallState>& state) {
  if (!state) return nullptr;
  return {{"version", state->version}, {"mode", state->mode}};
}

nlohmann::json TextOrNull(const std::string& text) {
  return text.empty() ? nlohmann::json() : nlohmann::json(ToUtf8(text));
}

std::string StateText(const std::optional<RollCallState>& state) {
  return state ? "version=" + state->version + " mode=" + state->mode : std::string();
}

std::string LineText(const RollCallLine& line) {
  std::string status = RollCallStatusName(line.status);
  status.resize(std::max<size_t>(status.size(), 10), ' ');
  std::string text = status + " label=" + Quoted(line.label) + " device=" + Quoted(line.device) +
                     " serial=" + line.serial + " mac=" + line.mac + " ";
  text += line.status == RollCallStatus::kChanged
              ? StateText(line.old) + " -> " + StateText(line.now)
              : StateText(line.now ? line.now : line.old);
  if (line.twins >= 2) text += " twins=" + std::to_string(line.twins);
  if (!line.interface.empty()) text += " interface=" + line.interface;
  if (line.networks >= 2) text += " networks=" + std::to_string(line.networks);
  return text;
}

nlohmann::json LineJson(const RollCallLine& line) {
  nlohmann::json event = {
      {"event", "rollcall"},
      {"status", RollCallStatusName(line.status)},
      {"device", ToUtf8(line.device)},
      {"serial", line.serial},
      {"mac", line.mac},
      {"label", line.entry ? nlohmann::json(ToUtf8(line.label)) : nlohmann::json()},
      {"location", TextOrNull(line.location)},
      {"row", line.row >= 0 ? nlohmann::json(line.row) : nlohmann::json()},
      {"old", StateJson(line.old)},
      {"new", StateJson(line.now)}};
  if (line.twins >= 2) event["twins"] = line.twins;
  if (!line.interface.empty()) event["interface"] = line.interface;
  if (line.networks >= 2) event["networks"] = line.networks;
  return event;
}

}  // namespace

std::optional<int> RefuseUnsavableRig(const std::string& path, const std::string& command,
                                      CEventWriter& writer) {
  const RigRead read = ReadRigFile(path);
  if (read.rig || read.missing) return std::nullopt;
  return Refuse(writer, command, read.problem + "; it is left as it is");
}

std::optional<int> ReadRigOrRefuse(const std::string& command, const std::string& path,
                                   CEventWriter& writer, Rig& rig) {
  RigRead read = ReadRigFile(path);
  if (read.missing)
    return Refuse(writer, command,
                  "no rig file at " + path + " (save one with quorvik-cli list --save-rig FILE)");
  if (!read.rig) return Refuse(writer, command, read.problem);
  rig = std::move(*read.rig);
  return std::nullopt;
}

int SaveListedRig(const std::string& path, const ListedDevices& listed, CEventWriter& writer) {
  const RigSave save = SaveRig(path, listed.records);
  if (!save.problem.empty()) {
    writer.Error("the rig is not saved: " + save.problem);
    return kExitUsage;
  }
  const RigMerge& m = save.merge;
  writer.Event({{"event", "rig"},
                {"path", ToUtf8(path)},
                {"devices", m.rig.devices.size()},
                {"new", m.added},
                {"updated", m.updated},
                {"kept", m.kept},
                {"leftOut", m.leftOut}},
               "Rig saved to " + Printable(path) + ": " + RigSaveSummary(m));
  return 0;
}

int RunRollCall(const CliOptions& options, const std::string& rigPath,
                const std::string& metricsPath, CEventWriter& writer, INetwork& network,
                const CInterrupts& interrupts) {
  Rig rig;
  if (const auto refused = ReadRigOrRefuse("rollcall", rigPath, writer, rig)) return *refused;
  // A search, which no journal records.
  CCliSession session(options, "rollcall", writer, interrupts, std::nullopt);
  if (const auto failed = session.OpenNetwork(network)) return *failed;
  CCliObserver& observer = session.observer();
  SearchAgain(network, observer.clock(), observer);
  observer.Flush();

  const ListedDevices& listed = observer.listed();
  const RollCall call = CallRoll(rig, listed.records, listed.blackList);
  for (const RollCallLine& line : call.lines) writer.Event(LineJson(line), LineText(line));
  nlohmann::json summary = {{"event", "summary"}};
  for (const RollCallStatus status : kRollCallStatuses)
    summary[RollCallStatusName(status)] = call.Count(status);
  writer.Event(summary, "Roll-call: " + RollCallSummary(call));
  if (const auto failed = WriteMetricsFile(metricsPath, MetricsOf(rigPath, call), writer))
    return *failed;
  const int code = call.Passed() ? 0 : kExitRollCallDiffers;
  if (writer.format() == OutputFormat::kJson)
    writer.Event({{"event", "result"},
                  {"command", "rollcall"},
                  {"outcome", call.Passed() ? "ok" : "differs"},
                  {"exit", code}},
                 "");
  return code;
}

}  // namespace quorvik
