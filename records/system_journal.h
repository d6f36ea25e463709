#pragma once
// Each result also goes to the system journal, where administrators read
// what programs did (journalctl) and collect it with the tools they already
// run. The entry carries the update journal's fields as QUORVIK_* fields,
// so that a query by serial or file finds the same results there. Where no
// system journal runs, nothing is said and nothing fails: the update
// journal remains the record.

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "commands/command_result.h"
#include "records/journal.h"

namespace quorvik {

// One field per pair: the name (A-Z, 0-9, _) and its value, which may hold
// any byte, line ends included.
using SystemJournalEntry = std::vector<std::pair<std::string, std::string>>;

// The MESSAGE_ID of each command kind, fixed for good: queries and alerts
// of administrators name them (journalctl MESSAGE_ID=...).
const char* SystemJournalMessageId(CommandKind kind);
// syslog levels: 6 (info) for ok, 4 (warning) for refused, no device,
// interrupted or a device that said nothing after its update, 3 (err) for
// failed or still in its bootloader.
int SystemJournalPriority(const CommandResult& result);
// "update ok: Pixel Controller 0011223344 4.21 -> 4.22", one printable line.
std::string SystemJournalMessage(const CommandResult& result);
// "deviceId" -> "QUORVIK_DEVICE_ID".
std::string SystemJournalFieldName(std::string_view journalField);
// MESSAGE, MESSAGE_ID, PRIORITY and SYSLOG_IDENTIFIER, then the update
// journal's fields except time and host (the system journal records its
// own), without those that are null; then QUORVIK_RUNNING_VERSION where the
// device reported one after an update.
SystemJournalEntry SystemJournalEntryOf(const CommandResult& result, const JournalContext& context);

// Sends the results that reached a device, as the update journal records
// them.
class CSystemJournalSink : public IResultSink {
 public:
  explicit CSystemJournalSink(JournalContext context) : m_context(std::move(context)) {}
  void SetInterface(std::string address) { m_context.interface = std::move(address); }
  void SetProgram(std::string program) { m_context.program = std::move(program); }
  void OnResult(const CommandResult& result) override;

 private:
  JournalContext m_context;
};

}  // namespace quorvik
