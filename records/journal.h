#pragma once
// The update journal: one JSON line per device command that sent a frame,
// from the window and from quorvik-cli alike, so that a production line can
// show per unit what was flashed from which file, and a technician can ask
// what is on a node and since when. Lines are appended with one write each
// (O_APPEND), so that two programs never interleave them, and flushed to
// disk before the command's last status line.

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "commands/command_result.h"
#include "files/operator_files.h"
#include "records/flat_json.h"

// This machine's name, for the host of the lines it writes; empty when
// the system gives none.
std::string HostName();

// Who wrote a line, besides what the result says.
struct JournalContext {
  std::string host;
  std::string program;    // "quorvik" or "quorvik-cli"
  std::string interface;  // the IPv4 address the command used
};

// The field names, in the order every line carries them; an update line
// adds kJournalUpdateFields.
extern const std::vector<std::string> kJournalCommonFields;
extern const std::vector<std::string> kJournalUpdateFields;
// Every field a line may carry, in that order: the common ones, then an
// update's.
const std::vector<std::string>& JournalFields();

// "4.02": the version as a line carries it.
std::string JournalVersionText(uint16_t version);
// 2026-12-08T04:27:26.123Z
std::string FormatUtcTime(std::chrono::system_clock::time_point time);
// A line's fields (without "time", "host", "program" and "interface" when
// `context` is not given): what quorvik-cli prints as a device result too.
FlatRecord ResultFields(const CommandResult& result);
FlatRecord JournalRecord(const CommandResult& result, const JournalContext& context);

// QUORVIK_JOURNAL when set, else `requested` when not empty, else
// $XDG_STATE_HOME/quorvik/journal.jsonl (~/.local/state/quorvik/...).
std::string JournalPath(const std::string& requested = {});

class CJournal {
 public:
  explicit CJournal(std::string path) : m_path(std::move(path)) {}
  const std::string& path() const { return m_path; }

  // Whether a line could be appended now: the folder is made where missing
  // and the file opened for appending (and created). Nothing is written.
  std::optional<FileProblem> CheckWritable() const;
  // Appends the record as one line and flushes it to disk.
  std::optional<FileProblem> Append(const FlatRecord& record) const;

 private:
  std::string m_path;
};

struct JournalRead {
  std::vector<FlatRecord> records;  // oldest first
  // Lines that are no JSON object: a line torn by a power cut or a killed
  // writer, skipped so that every other line still reads.
  int skipped = 0;
  std::optional<FileProblem> problem;  // the file could not be read at all
  // No file at the path: nothing was journalled there yet, or the path is
  // mistyped, which only the one who named it can tell.
  bool missing = false;
};

// Reads the journal; a missing journal reads as empty.
JournalRead ReadJournal(const std::string& path);

// The journal as CSV (RFC 4180): a header row of the field names in the
// order lines carry them, CRLF line ends, quotes where a cell needs them. A
// cell that a spreadsheet would run as a formula (starting with =, +, -, @,
// tab or CR) is written with a leading '.
std::string JournalCsv(const std::vector<FlatRecord>& records);
std::string CsvCell(std::string text);

// Records the results of one program's device commands.
class CJournalSink : public IResultSink {
 public:
  CJournalSink(CJournal journal, JournalContext context)
      : m_journal(std::move(journal)), m_context(std::move(context)) {}
  void SetInterface(std::string address) { m_context.interface = std::move(address); }
  void OnResult(const CommandResult& result) override;
  // Told of every line that could not be appended.
  std::function<void(const FileProblem&)> onProblem;

 private:
  CJournal m_journal;
  JournalContext m_context;
};
