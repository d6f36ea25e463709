#pragma once
// The update journal: one JSON line per device command that sent a frame,
// from the window and from quorvik-cli alike, so that a production line can
// show per unit what was flashed from which file, and a technician can ask
// what is on a node and since when. Lines are appended with one write each
// (O_APPEND), so that two programs never interleave them, and flushed to
// disk before the command's last status line.

#include <array>
#include <chrono>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "commands/command_result.h"
#include "files/operator_files.h"
#include "records/flat_json.h"

namespace quorvik {

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
// The time a text names when it is one FormatUtcTime writes; nothing for
// any other text, which a journal line may hold as well as any.
std::optional<std::chrono::system_clock::time_point> ParseUtcTime(std::string_view text);
// A line's fields (without "time", "host", "program" and "interface" when
// `context` is not given): what quorvik-cli prints as a device result too.
FlatRecord ResultFields(const CommandResult& result);
FlatRecord JournalRecord(const CommandResult& result, const JournalContext& context);

// An update's intent, written before the first frame that changes its
// device: the fields of the line that will end it, as far as they are
// known, with the outcome "started" and the time it is written. The line
// that ends the update follows as an extra line; a start whose device has
// no later line never ended (a killed program, a dead battery).
constexpr const char* kStartedOutcome = "started";
constexpr const char* kStartedReason = "Update started";
// How history shows a start that no line ended.
constexpr const char* kUnfinishedOutcome = "unfinished";
constexpr const char* kUnfinishedReason = "The update never ended";
FlatRecord JournalStartRecord(const CommandResult& result, const JournalContext& context);
bool IsStartLine(const FlatRecord& record);
// A text equal for lines of one device: its serial without the zero bytes
// a loader pads with, and only the first 11 bytes where it has more (a
// running device reports 11 of its loader's 16); the MAC where a line has
// no serial; empty for a line that names no device.
std::string JournalDeviceKey(const FlatRecord& record);
// The same text for a device as a search lists it.
std::string RecordDeviceKey(const DeviceRecord& record);
std::string DeviceKeyText(std::span<const uint8_t> serial,
                          const std::optional<std::array<uint8_t, 6>>& mac);

// Whether `line`, the next line of a start's device, is the one that ends
// that start: no start itself, of the same command, file and checksum.
bool EndsStart(const FlatRecord& start, const FlatRecord& line);

// The lines as history shows them, oldest first: a start closed by the
// device's next line (the one that ends it) is left out; a start that the
// device's next line does not end (there is none, another start, another
// command) is shown with the outcome "unfinished", and after it that line.
std::vector<FlatRecord> HistoryEntries(const std::vector<FlatRecord>& records);

// QUORVIK_JOURNAL when set, else `requested` when not empty, else
// $XDG_STATE_HOME/quorvik/journal.jsonl (~/.local/state/quorvik/...).
std::string JournalPath(const std::string& requested = {});

// The room a journal must have before a command that journals begins:
// the lines of a long fleet run, so that a full disk stops the run before
// its first search rather than device by device.
constexpr long kJournalHeadroom = 64 * 1024;

class CJournal {
 public:
  explicit CJournal(std::string path) : m_path(std::move(path)) {}
  const std::string& path() const { return m_path; }

  // Whether lines could be appended now: the folder is made where missing,
  // the file opened for appending (and created), and room for
  // kJournalHeadroom bytes of lines found on its disk. Nothing is written.
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
  void SetProgram(std::string program) { m_context.program = std::move(program); }
  void OnResult(const CommandResult& result) override;
  // Appends the update's start line; false (and onProblem told) when it
  // did not reach the disk.
  bool OnStarted(const CommandResult& result) override;
  // Told of every line that could not be appended.
  std::function<void(const FileProblem&)> onProblem;

 private:
  CJournal m_journal;
  JournalContext m_context;
};

}  // namespace quorvik
