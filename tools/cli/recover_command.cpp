#include "tools/cli/recover_command.h"

#include <sstream>

#include "base/text.h"
#include "commands/device_commands.h"
#include "devices/device_list.h"
#include "records/recovery.h"
#include "tools/cli/cli_session.h"

namespace quorvik {

namespace {

nlohmann::json FoundEvent(const char* kind, const UnfinishedUpdate& u) {
  nlohmann::json event = {{"event", kind},
                          {"row", u.row},
                          {"device", ToUtf8(TextOf(u.start, "device"))},
                          {"model", ToUtf8(ListName(u.record))},
                          {"serial", FormatSerial(u.record)},
                          {"mac", FormatMac(u.record)},
                          {"file", ToUtf8(u.file)},
                          {"sha256", ToUtf8(u.sha256)},
                          {"since", u.when.empty() ? nlohmann::json() : nlohmann::json(u.when)}};
  if (!u.fileProblem.empty()) event["fileProblem"] = ToUtf8(u.fileProblem);
  return event;
}

std::string FoundText(const UnfinishedUpdate& u) {
  return Quoted(ListName(u.record)) + " serial=" + FormatSerial(u.record) +
         " mac=" + FormatMac(u.record) + " file=" + Printable(u.file) + " since " +
         (u.when.empty() ? std::string(kUnreadableTime) : u.when);
}

}  // namespace

int RunRecover(const CliOptions& options, CEventWriter& writer, INetwork& network,
               const CInterrupts& interrupts) {
  // The journal is what remembers the devices: without it there is nothing
  // to find, and with --yes every write must be recorded as any other.
  CCliSession session(options, "recover", writer, interrupts);
  if (const auto refused = session.OpenJournal()) return *refused;
  const CJournal& journal = *session.journal();
  const JournalRead read = ReadJournal(journal.path());
  if (read.problem) return Refuse(writer, "recover", "journal: " + read.problem->message);
  if (read.skipped > 0)
    writer.Warning(std::to_string(read.skipped) + " line(s) of " + journal.path() +
                   " are no journal entries (a torn last line, say) and were skipped");

  if (const auto failed = session.OpenNetwork(network)) return *failed;
  CCliObserver& observer = session.observer();
  observer.SetAssumeYes(options.yes);
  SearchAgain(network, observer.clock(), observer);
  observer.Flush();

  const UnfinishedUpdates found = FindUnfinishedUpdates(read.records, observer.listed().records);
  for (const UnfinishedUpdate& u : found.halfUpdated) {
    writer.Event(FoundEvent("half_updated", u), "Half-updated: " + FoundText(u));
    if (!u.fileProblem.empty()) writer.Warning(u.fileProblem + "; it is not written again");
  }
  for (const UnfinishedUpdate& u : found.running)
    writer.Event(FoundEvent("unfinished_running", u),
                 "Unfinished, running: " + FoundText(u) +
                     " (its update never ended; it runs its application now)");

  int recovered = 0, left = 0, closed = 0;
  bool interrupted = false;
  if (!options.yes) {
    left = static_cast<int>(found.halfUpdated.size());
  } else {
    for (const UnfinishedUpdate& u : found.running) {
      // With every network open, the card the device answered on.
      const std::string card = NetworkText(u.record);
      const JournalContext context{HostName(), "quorvik-cli",
                                   card.empty() ? session.address() : card};
      if (const auto problem = journal.Append(RunningEndLine(u.start, context))) {
        session.SetJournalFailed();
        writer.Error("journal: " + problem->message + "; the unfinished update stays open");
      } else {
        ++closed;
      }
    }
    CResultPrinter printer(writer);
    std::vector<uint8_t> image(kFirmwareImageSize, 0xFF);
    bool listedSinceARecovery = false;
    try {
      for (const UnfinishedUpdate& u : found.halfUpdated) {
        std::string problem;
        // Read again now: checked moments ago, but the bytes written are
        // the ones this read holds.
        const FirmwareFileRead file = ReadRecordedFile(u, problem);
        if (!problem.empty()) {
          ++left;
          continue;
        }
        // An earlier recovery's search may have moved its row, and one that
        // ended at its device's first answer may not have heard this one:
        // it is looked for once more before it is given up.
        std::vector<DeviceRecord> listed = network.Devices().Listed();
        int row = ListedLoaderRow(listed, u.record);
        if (row < 0 && listedSinceARecovery) {
          SearchAgain(network, observer.clock(), observer);
          listedSinceARecovery = false;
          listed = network.Devices().Listed();
          row = ListedLoaderRow(listed, u.record);
        }
        if (row < 0) {
          ++left;
          writer.Warning(FoundText(u) + ": no longer answers in its loader; not written");
          continue;
        }
        UpdateInput input = InputFromFile(u.file, file, image);
        input.waits = WaitsOf(options);
        bool ok = false;
        UpdateAndConfirm(listed[static_cast<size_t>(row)], input, network, observer.clock(),
                         observer, [&](const CommandResult& result) {
                           printer.OnResult(result);
                           ok = result.outcome == Outcome::kOk;
                         });
        listedSinceARecovery = true;
        observer.Flush();
        ok ? ++recovered : ++left;
      }
    } catch (const CCommandCancelled&) {
      observer.Flush();
      interrupted = true;
      writer.Error("interrupted");
    }
  }

  const int halfUpdated = static_cast<int>(found.halfUpdated.size());
  Outcome outcome = Outcome::kOk;
  int code = 0;
  if (interrupted) {
    outcome = Outcome::kInterrupted;
    code = ExitCodeOf(outcome);
  } else if (left > 0) {
    outcome = Outcome::kFailed;
    code = kExitLeftHalfUpdated;
  }
  const bool journalFailed = session.journalFailed();
  if (journalFailed && code == 0) code = kExitUsage;
  nlohmann::json event = ResultEvent("recover", outcome);
  event["exit"] = code;
  event["halfUpdated"] = halfUpdated;
  event["recovered"] = recovered;
  event["left"] = interrupted ? halfUpdated - recovered : left;
  event["runningClosed"] = closed;
  if (journalFailed) event["journal"] = "incomplete";
  std::string text;
  if (halfUpdated == 0)
    text = "No device was left half-updated";
  else if (!options.yes)
    text = std::to_string(halfUpdated) +
           " device(s) were left half-updated: quorvik-cli recover --yes writes the same file "
           "again";
  else
    text = std::to_string(recovered) + " of " + std::to_string(halfUpdated) +
           " half-updated device(s) recovered";
  writer.Event(event, text);
  return code;
}

}  // namespace quorvik
