// `history`: the journal, oldest first, for one device or all, as text,
// JSON lines or CSV.

#include <ctime>
#include <iostream>

#include "base/text.h"
#include "devices/device_identity.h"
#include "records/journal.h"
#include "tools/cli/cli_commands.h"

namespace quorvik {

namespace {

// The canonical time text of a date ("2026-12-01", midnight UTC) or an
// RFC 3339 time in UTC, so that it compares with the journal's times.
std::optional<std::string> SinceTime(const std::string& text) {
  std::tm tm{};
  int used = 0;
  if (std::sscanf(text.c_str(), "%4d-%2d-%2d%n", &tm.tm_year, &tm.tm_mon, &tm.tm_mday, &used) != 3)
    return std::nullopt;
  if (static_cast<size_t>(used) != text.size()) {
    int more = 0;
    if (std::sscanf(text.c_str() + used, "T%2d:%2d:%2d%n", &tm.tm_hour, &tm.tm_min, &tm.tm_sec,
                    &more) != 3)
      return std::nullopt;
    const std::string rest = text.substr(static_cast<size_t>(used + more));
    if (rest != "Z" && rest != "" && rest != "+00:00") return std::nullopt;
  }
  tm.tm_year -= 1900;
  tm.tm_mon -= 1;
  std::tm normal = tm;
  const std::time_t seconds = ::timegm(&normal);
  // timegm moves a 2026-02-30 or a 25:99 on to a time that exists: a text
  // that does not come back as it was names no time.
  if (seconds == static_cast<std::time_t>(-1) || normal.tm_year != tm.tm_year ||
      normal.tm_mon != tm.tm_mon || normal.tm_mday != tm.tm_mday || normal.tm_hour != tm.tm_hour ||
      normal.tm_min != tm.tm_min || normal.tm_sec != tm.tm_sec)
    return std::nullopt;
  return FormatUtcTime(std::chrono::system_clock::from_time_t(seconds));
}

std::string EntryText(const FlatRecord& r) {
  const auto cell = [&](const char* name) {
    const std::string value = TextOf(r, name);
    return value.empty() ? std::string("-") : Printable(value);
  };
  const auto quoted = [&](const char* name) {
    const std::string value = TextOf(r, name);
    return Quoted(value.empty() ? std::string("-") : value);
  };
  std::string line = cell("time") + "  " + cell("command") + " " + cell("outcome") + "  " +
                     quoted("device") + " serial=" + cell("serial") + " mac=" + cell("mac") +
                     " version=" + cell("version");
  if (const std::string confirmed = TextOf(r, "confirmed"); !confirmed.empty())
    line += " confirmed=" + confirmed;
  if (FieldOf(r, "file") != nullptr) line += " file=" + cell("file") + " sha256=" + cell("sha256");
  return line + " reason=" + quoted("reason");
}

}  // namespace

int RunHistory(const HistoryOptions& options, CEventWriter& writer) {
  std::optional<std::vector<uint8_t>> serial;
  if (!options.serial.empty()) serial = ParseSerial(options.serial);
  std::optional<std::array<uint8_t, 6>> mac;
  if (!options.mac.empty()) mac = ParseMac(options.mac);
  std::optional<std::string> since;
  if (!options.since.empty()) {
    since = SinceTime(options.since);
    if (!since)
      return Refuse(writer, "history",
                    "--since takes a date (2026-12-01) or a time (2026-12-01T18:30:00Z), in UTC");
  }
  const std::string path = JournalPath(options.journal);
  const JournalRead read = ReadJournal(path);
  if (read.problem) return Refuse(writer, "history", "journal: " + read.problem->message);
  if (read.missing && !options.journal.empty())
    return Refuse(writer, "history", "journal: no file at " + path);

  std::vector<FlatRecord> entries;
  // Starts are paired with their ends over the whole journal, before any
  // filter: an end before --since still closes its start.
  for (const FlatRecord& r : HistoryEntries(read.records)) {
    if (serial) {
      const auto bytes = ParseSerial(TextOf(r, "serial"));
      if (!bytes || !SameSerial(*bytes, *serial)) continue;
    }
    if (!options.mac.empty()) {
      const auto listed = ParseMac(TextOf(r, "mac"));
      if (!mac || !listed || *mac != *listed) continue;
    }
    if (since && TextOf(r, "time") < *since) continue;
    entries.push_back(r);
  }
  if (read.skipped > 0)
    writer.Warning(std::to_string(read.skipped) + " line(s) of " + path +
                   " are no journal entries (a torn last line, say) and were skipped");

  if (options.csv) {
    std::cout << JournalCsv(entries) << std::flush;
    return 0;
  }
  for (const FlatRecord& r : entries) {
    nlohmann::json event = ToJson(r);
    event["event"] = "entry";
    writer.Event(event, EntryText(r));
  }
  nlohmann::json result = ResultEvent("history", Outcome::kOk);
  result["count"] = entries.size();
  result["skipped"] = read.skipped;
  if (writer.format() == OutputFormat::kJson) writer.Event(result, "");
  return 0;
}

}  // namespace quorvik
