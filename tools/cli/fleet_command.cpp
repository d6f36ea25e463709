// `update --all`: one search, a plan, then every planned device updated in
// turn, each found again by what tells it apart, and a tally at the end.

#include "tools/cli/fleet_command.h"

#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <memory>
#include <optional>
#include <sstream>

#include "base/text.h"
#include "commands/device_commands.h"
#include "commands/firmware_file.h"
#include "commands/fleet.h"
#include "commands/fleet_run.h"
#include "commands/sha256.h"
#include "devices/device_identity.h"
#include "devices/device_list.h"
#include "net/reply_processing.h"
#include "records/journal.h"
#include "tools/cli/cli_common.h"
#include "tools/cli/cli_observer.h"
#include "tools/cli/cli_session.h"

namespace quorvik {

namespace {

nlohmann::json Nullable(const std::optional<uint32_t>& value) {
  return value ? nlohmann::json(*value) : nlohmann::json();
}

nlohmann::json PlanEntryJson(const FleetDevice& d) {
  const std::string mac = HasRealMac(d.record) ? FormatMac(d.record) : "";
  const std::string serial = FormatSerial(d.record);
  nlohmann::json entry = {
      {"device", ToUtf8(d.name)},
      {"serial", serial.empty() ? nlohmann::json() : nlohmann::json(serial)},
      {"mac", mac.empty() ? nlohmann::json() : nlohmann::json(mac)},
      {"mode", ModeName(d.record)},
      {"version", FormatVersion(d.record.version)},
      {"section", d.section ? nlohmann::json(*d.section) : nlohmann::json()},
      {"bytes", Nullable(d.bytes)},
      {"blocks", Nullable(d.blocks)},
      {"estimateMs", d.reason.empty() ? nlohmann::json(d.estimateMs) : nlohmann::json()}};
  if (!d.reason.empty()) entry["reason"] = d.reason;
  return entry;
}

std::string PlanText(const FleetPlan& plan) {
  std::string text = "Plan: " + std::to_string(plan.planned.size()) + " device(s) to update, " +
                     std::to_string(plan.skipped.size()) + " skipped\n";
  const auto cell = [](const std::optional<uint32_t>& v) {
    return v ? std::to_string(*v) : std::string("?");
  };
  int64_t total = 0;
  for (const FleetDevice& d : plan.planned) {
    total += d.estimateMs;
    char line[512];
    std::snprintf(line, sizeof line,
                  "  update  %-26s %-33s %-17s %-4s %-5s section %s  %s bytes  %s blocks  ~%llds\n",
                  Printable(d.name).c_str(), FormatSerial(d.record).c_str(),
                  FormatMac(d.record).c_str(), ModeName(d.record),
                  FormatVersion(d.record.version).c_str(),
                  d.section ? std::to_string(*d.section).c_str() : "?", cell(d.bytes).c_str(),
                  cell(d.blocks).c_str(), static_cast<long long>((d.estimateMs + 999) / 1000));
    text += line;
  }
  for (const FleetDevice& d : plan.skipped)
    text += "  skip    " + Printable(d.name) + " " + FormatSerial(d.record) + " " +
            FormatMac(d.record) + ": " + Printable(d.reason) + "\n";
  text += "Estimated time: about " + std::to_string((total + 59999) / 60000) + " min";
  return text;
}

// A status line without a tone is held until the next thing shown; the
// run's own lines come after the lines before them, and a result printed
// as the update hands it out comes before a held line, as it always has.
class CConsoleFleet : public IFleetObserver {
 public:
  CConsoleFleet(CCliObserver& observer, CEventWriter& writer, CResultPrinter& printer,
                const FleetPlan& plan)
      : m_observer(observer), m_writer(writer), m_printer(printer), m_plan(plan) {}
  void OnDeviceStarted(size_t device, int) override {
    m_observer.Flush();
    m_tenths.resize(m_plan.planned.size(), -1);
    m_tenths[device] = -1;
  }
  // Devices written side by side share no progress bar: each says how far
  // it is, every tenth of its blocks.
  void OnBlocksWritten(size_t device, uint32_t done, uint32_t total) override {
    if (total == 0 || device >= m_tenths.size()) return;
    const int tenth = static_cast<int>(uint64_t{done} * 10 / total);
    if (tenth == m_tenths[device]) return;
    m_tenths[device] = tenth;
    const FleetDevice& d = m_plan.planned[device];
    m_writer.Event({{"event", "device_progress"},
                    {"device", ToUtf8(d.name)},
                    {"serial", FormatSerial(d.record)},
                    {"blocks", done},
                    {"of", total}},
                   "writing " + Printable(d.name) + " " + FormatSerial(d.record) + ": " +
                       std::to_string(done) + "/" + std::to_string(total) + " blocks");
  }
  void OnAttemptResult(size_t, const CommandResult& result) override { m_printer.OnResult(result); }
  void OnDeviceFinished(size_t, const CommandResult&, bool) override { m_observer.Flush(); }
  void OnDeviceNotReached(size_t, const CommandResult& result) override {
    m_observer.Flush();
    m_printer.OnResult(result);
  }
  void OnStoppedBeforeTurn(size_t device) override {
    const FleetDevice& d = m_plan.planned[device];
    m_writer.Event({{"event", "skipped"},
                    {"device", ToUtf8(d.name)},
                    {"serial", FormatSerial(d.record)},
                    {"reason", "stopped before its turn"}},
                   "skipped " + Printable(d.name) + ": stopped before its turn");
  }

 private:
  CCliObserver& m_observer;
  CEventWriter& m_writer;
  CResultPrinter& m_printer;
  const FleetPlan& m_plan;
  std::vector<int> m_tenths;  // by device: the last tenth of its blocks told
};

}  // namespace

int RunFleet(const CliOptions& options, CEventWriter& writer, INetwork& network,
             const CInterrupts& interrupts) {
  const std::string command = "update";
  // Read once: every device gets these bytes, and the journal their hash,
  // whatever happens to the file on disk during the run.
  FirmwareFileRead file = ReadFirmwareFile(options.file);
  if (file.verdict)
    return Refuse(writer, command,
                  std::string(FirmwareVerdictLine(*file.verdict)) + " (" + file.detail + ")");
  CCliSession session(options, command, writer, interrupts);
  // A dry run sends nothing but a search, which no journal records.
  if (!options.dryRun)
    if (const auto refused = session.OpenJournal()) return *refused;
  if (const auto failed = session.OpenNetwork(network)) return *failed;
  CCliObserver& observer = session.observer();
  SearchAgain(network, observer.clock(), observer);
  observer.Flush();

  FleetFilter filter;
  filter.models = options.models;
  // Its estimates for the waits the run makes.
  const FleetPlan plan = PlanFleet(observer.listed().records, file.bytes, filter, WaitsOf(options));
  nlohmann::json planEvent = {{"event", "plan"},
                              {"file", ToUtf8(options.file)},
                              {"sha256", Sha256Hex(file.bytes)},
                              {"devices", nlohmann::json::array()},
                              {"skipped", nlohmann::json::array()}};
  for (const FleetDevice& d : plan.planned) planEvent["devices"].push_back(PlanEntryJson(d));
  for (const FleetDevice& d : plan.skipped) planEvent["skipped"].push_back(PlanEntryJson(d));
  writer.Event(planEvent, PlanText(plan));

  FleetRunOptions run;
  run.path = options.file;
  run.bytes = std::make_shared<const std::vector<uint8_t>>(std::move(file.bytes));
  return RunFleetPlan(
      {options, session, writer, interrupts, network}, plan, std::move(run),
      "Update " + std::to_string(plan.planned.size()) + " device(s) with " + options.file + "?");
}

int FinishFleet(CCliSession& session, CEventWriter& writer, const FleetTally& tally,
                Outcome outcome, bool differs) {
  writer.Event({{"event", "summary"},
                {"planned", tally.planned},
                {"updated", tally.updated},
                {"failed", tally.failed},
                {"skipped", tally.skipped},
                {"notStarted", tally.notStarted},
                {"running", tally.running}},
               FleetTallyText(tally));
  return session.EndOfRun(outcome, differs);
}

int RunFleetPlan(const FleetCommandContext& c, const FleetPlan& plan, FleetRunOptions run,
                 const std::string& question, bool differs) {
  const CliOptions& options = c.options;
  CEventWriter& writer = c.writer;
  CCliSession& session = c.session;
  const CInterrupts& interrupts = c.interrupts;
  const std::string command = c.session.command();
  CResultPrinter printer(writer);
  CCliObserver& observer = session.observer();
  FleetTally tally;
  tally.planned = static_cast<int>(plan.planned.size());
  tally.skipped = static_cast<int>(plan.skipped.size());
  const auto finish = [&](Outcome outcome) {
    return FinishFleet(session, writer, tally, outcome, differs);
  };
  if (plan.planned.empty()) return finish(differs ? Outcome::kOk : Outcome::kNoDevice);
  if (options.dryRun) return finish(Outcome::kOk);
  if (!options.yes) {
    // No terminal means no answer, so no consent.
    if (::isatty(STDIN_FILENO) != 1)
      return Refuse(writer, command,
                    "no terminal to ask whether to update " + std::to_string(plan.planned.size()) +
                        " device(s); give --yes");
    // Asked as every question of quorvik-cli is; a Ctrl-C ends it, the
    // first one too, since no device is being written.
    bool consent = false;
    try {
      consent = AskOnConsole(writer, std::cin, question, false, [&] {
        return interrupts.Interrupted() || interrupts.StopAfterDevice();
      });
    } catch (const CCommandCancelled&) {
      writer.Error("interrupted: no device was updated");
      tally.notStarted = tally.planned;
      return finish(Outcome::kInterrupted);
    }
    if (!consent) return Refuse(writer, command, "the update of the devices was declined");
  }

  CConsoleFleet console(observer, writer, printer, plan);

  for (size_t i = 0; i < plan.planned.size(); ++i) run.chosen.push_back(i);
  run.retries = options.retries;
  run.parallel = options.parallel;
  run.canary = options.canary;
  run.waits = WaitsOf(options);
  // Devices whose updates cannot be recorded are not started.
  run.stopAfterDevice = [&] { return interrupts.StopAfterDevice() || session.journalFailed(); };
  const FleetRunEnd end = RunFleetUpdate(plan, run, c.network, observer.clock(), observer, console);
  tally = end.tally;
  if (session.journalFailed() && end.stopped && !end.interrupted && !interrupts.StopAfterDevice()) {
    writer.Error("the journal cannot be written: stopped after " +
                 std::to_string(tally.planned - tally.notStarted) + " of " +
                 std::to_string(plan.planned.size()) + " device(s)");
    return finish(Outcome::kFailed);
  }
  if (!end.interrupted && !end.canaryFailed.empty()) {
    writer.Error("the first " + std::to_string(options.canary) +
                 " device(s) did not all come back running (" + end.canaryFailed +
                 "): the rest were left out");
    return finish(Outcome::kFailed);
  }
  if (end.interrupted || end.stopped) {
    writer.Error("interrupted: stopped after " + std::to_string(tally.planned - tally.notStarted) +
                 " of " + std::to_string(plan.planned.size()) + " device(s)");
    return finish(Outcome::kInterrupted);
  }
  return finish(tally.failed == 0 ? Outcome::kOk : Outcome::kFailed);
}

}  // namespace quorvik
