// `station`: searches every two seconds and updates each unit put on the
// bench that fits the file, once a stay, telling test equipment one line
// per event.

#include "tools/cli/station_command.h"

#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <map>
#include <memory>
#include <sstream>

#include "base/hex_text.h"
#include "base/text.h"
#include "commands/firmware_file.h"
#include "commands/sha256.h"
#include "commands/station.h"
#include "devices/device_list.h"
#include "records/journal.h"
#include "tools/cli/cli_common.h"
#include "tools/cli/cli_observer.h"
#include "tools/cli/cli_session.h"

namespace quorvik {

namespace {

std::string ModelText(const std::optional<uint16_t>& model) {
  if (!model) return "unknown";
  return HexWord(*model, true);
}

std::string VersionText(const CommandResult& result) {
  const std::string version = result.runningVersion ? FormatVersion(*result.runningVersion) : "";
  return version.empty() ? "unknown" : version;
}

// One event, three ways: a JSON event, or the line for test equipment,
// which is also what a person reads in text.
class CStationConsole : public IStationObserver {
 public:
  CStationConsole(CEventWriter& writer, CResultPrinter& printer, CCliObserver& observer,
                  bool porcelain)
      : m_writer(writer), m_printer(printer), m_observer(observer), m_porcelain(porcelain) {}

  // Unless --again: what the journal and this run say of each unit.
  std::map<std::string, bool>* doneOk = nullptr;
  std::string sha256;

  void OnReady() override { Tell({{"event", "ready"}}, "READY"); }
  void OnFound(const StationUnit& unit) override {
    Tell({{"event", "found"},
          {"serial", unit.serial},
          {"model", unit.model ? nlohmann::json(ModelText(unit.model)) : nlohmann::json()},
          {"device", ToUtf8(unit.name)}},
         "FOUND " + unit.serial + " " + ModelText(unit.model));
  }
  void OnWriting(const StationUnit& unit, uint32_t done, uint32_t total) override {
    Tell({{"event", "writing"}, {"serial", unit.serial}, {"done", done}, {"total", total}},
         "WRITING " + unit.serial + " " + std::to_string(done) + "/" + std::to_string(total));
  }
  void OnDone(const StationUnit& unit, const CommandResult& result) override {
    m_observer.Flush();
    // Its result as every update's is printed (on stderr with
    // --porcelain); test equipment reads the one line.
    m_printer.OnResult(result);
    if (doneOk != nullptr)
      (*doneOk)[RecordDeviceKey(result.device)] = result.outcome == Outcome::kOk;
    if (result.outcome == Outcome::kOk) {
      Tell({{"event", "ok"}, {"serial", unit.serial}, {"version", VersionText(result)}},
           "OK " + unit.serial + " " + VersionText(result));
      return;
    }
    const std::string reason = result.reason.empty() ? OutcomeName(result.outcome) : result.reason;
    Tell({{"event", "fail"}, {"serial", unit.serial}, {"reason", ToUtf8(reason)}},
         "FAIL " + unit.serial + " " + Printable(reason));
  }
  void OnIgnored(const StationUnit& unit, const std::string& why) override {
    Tell({{"event", "ignored"}, {"serial", unit.serial}, {"why", ToUtf8(why)}},
         "IGNORED " + unit.serial + " " + Printable(why));
  }
  void OnGone(const StationUnit& unit) override {
    // Not a line for test equipment: a person sees the bench emptied.
    if (!m_porcelain)
      m_writer.Event({{"event", "gone"}, {"serial", unit.serial}}, "gone " + unit.serial);
  }
  void Summary(const StationTally& tally) {
    Tell({{"event", "summary"},
          {"ok", tally.ok},
          {"fail", tally.failed},
          {"ignored", tally.ignored},
          {"perHour", tally.PerHour()}},
         "SUMMARY ok=" + std::to_string(tally.ok) + " fail=" + std::to_string(tally.failed) +
             " ignored=" + std::to_string(tally.ignored) +
             " per-hour=" + std::to_string(tally.PerHour()));
  }

 private:
  void Tell(const nlohmann::json& event, const std::string& line) {
    if (m_porcelain) {
      // Flushed at once: test equipment acts on each line as it comes.
      std::cout << line << std::endl;
      return;
    }
    m_observer.Flush();
    m_writer.Event(event, line);
  }

  CEventWriter& m_writer;
  CResultPrinter& m_printer;
  CCliObserver& m_observer;
  bool m_porcelain;
};

// Whether each unit's last journal line shows this file's SHA-256 with
// the outcome ok, by device.
std::map<std::string, bool> DoneInJournal(const JournalRead& read, const std::string& sha256) {
  std::map<std::string, bool> done;
  for (const FlatRecord& line : read.records)
    if (const std::string key = JournalDeviceKey(line); !key.empty())
      done[key] = !IsStartLine(line) && TextOf(line, "sha256") == sha256 &&
                  TextOf(line, "outcome") == OutcomeName(Outcome::kOk);
  return done;
}

}  // namespace

int RunStationCommand(const CliOptions& options, CEventWriter& stdoutWriter, INetwork& network,
                      const CInterrupts& interrupts) {
  const std::string command = "station";
  // With --porcelain stdout carries the station's lines alone; everything
  // else a person may want goes to stderr.
  CEventWriter porcelainLog(OutputFormat::kText, std::cerr, std::cerr,
                            ::isatty(STDERR_FILENO) == 1);
  CEventWriter& writer = options.porcelain ? porcelainLog : stdoutWriter;
  if (options.skipDone && options.noJournal)
    return Refuse(writer, command, "--skip-done reads the journal: give no --no-journal");
  if (options.skipDone && options.again)
    return Refuse(writer, command, "--skip-done and --again contradict each other: give one");
  FirmwareFileRead file = ReadFirmwareFile(options.file);
  if (file.verdict)
    return Refuse(writer, command,
                  std::string(FirmwareVerdictLine(*file.verdict)) + " (" + file.detail + ")");
  const std::string sha256 = Sha256Hex(file.bytes);
  CCliSession session(options, command, writer, interrupts, kStationProgram);
  if (const auto refused = session.OpenJournal()) return *refused;
  const std::optional<CJournal>& journal = session.journal();
  // Units done with this file before are left alone unless --again; the
  // journal says which, where there is one.
  std::map<std::string, bool> doneOk;
  const bool skipDone = !options.again && journal.has_value();
  if (skipDone) {
    const JournalRead read = ReadJournal(journal->path());
    if (read.problem)
      return Refuse(writer, command,
                    "journal: " + read.problem->message +
                        " (it says which units are done with this file; --again flashes them "
                        "anyway)");
    doneOk = DoneInJournal(read, sha256);
  }
  if (const auto failed = session.OpenNetwork(network)) return *failed;
  CCliObserver& observer = session.observer();
  CResultPrinter printer(writer);
  CStationConsole console(writer, printer, observer, options.porcelain);
  if (skipDone) console.doneOk = &doneOk;
  nlohmann::json models = nlohmann::json::array();
  std::string modelsText;
  for (uint16_t model : options.models) {
    models.push_back(ModelText(model));
    modelsText += " " + ModelText(model);
  }
  writer.Event({{"event", "station"},
                {"file", ToUtf8(options.file)},
                {"sha256", sha256},
                {"models", models}},
               "station: " + Printable(options.file) + ", SHA-256 " + sha256.substr(0, 12) +
                   ", models:" + (modelsText.empty() ? " any the file fits" : modelsText));

  StationOptions station;
  station.path = options.file;
  station.bytes = std::make_shared<const std::vector<uint8_t>>(std::move(file.bytes));
  station.models = options.models;
  station.parallel = options.parallel;
  station.once = options.once;
  station.again = options.again;
  station.waits = WaitsOf(options);
  // A unit whose update cannot be recorded is not started.
  station.stop = [&interrupts, &session] {
    return interrupts.StopAfterDevice() || interrupts.Interrupted() || session.journalFailed();
  };
  if (skipDone)
    station.doneBefore = [&doneOk](const DeviceRecord& record) {
      const auto it = doneOk.find(RecordDeviceKey(record));
      return it != doneOk.end() && it->second;
    };
  // The bench is heard while units are written, on another thread: the
  // station's waits must not write the held status line behind the lock
  // that keeps the two apart.
  CCliClock clock(options.timeScale, interrupts);
  const StationEnd end = RunStation(station, network, clock, observer, console);
  observer.Flush();
  if (session.journalFailed() && !interrupts.StopAfterDevice() && !interrupts.Interrupted())
    writer.Error("the journal cannot be written: the station took no further unit");
  console.Summary(end.tally);
  const Outcome outcome = end.interrupted         ? Outcome::kInterrupted
                          : end.tally.failed == 0 ? Outcome::kOk
                                                  : Outcome::kFailed;
  return session.EndOfRun(outcome);
}

}  // namespace quorvik
