#include "records/system_journal.h"

#include <sys/uio.h>
#include <systemd/sd-journal.h>

#include <cctype>

#include "base/text.h"
#include "devices/device_list.h"
#include "records/flat_json.h"

namespace quorvik {

const char* SystemJournalMessageId(CommandKind kind) {
  switch (kind) {
    case CommandKind::kUpdate:
      return "a2a8959bb9644e3b875ae5b3b0b88079";
    case CommandKind::kReset:
      return "41932892657d48809738de32015182a5";
    case CommandKind::kRun:
      return "cb7c9ccc01fd4d148a21e95a2ddc2129";
    case CommandKind::kReboot:
      return "4dd7364cb04a47a89b5864f40537f7a9";
  }
  return "";
}

int SystemJournalPriority(const CommandResult& result) {
  constexpr int kErr = 3, kWarning = 4, kInfo = 6;
  if (result.outcome == Outcome::kFailed || result.confirmed == Confirmation::kInLoader)
    return kErr;
  if (result.outcome != Outcome::kOk || result.confirmed == Confirmation::kSilent) return kWarning;
  return kInfo;
}

std::string SystemJournalMessage(const CommandResult& result) {
  std::string message = std::string(CommandName(result.command)) + " " +
                        OutcomeName(result.outcome) + ": " + Printable(result.deviceName);
  if (const std::string serial = FormatSerial(result.device); !serial.empty())
    message += " " + serial;
  message += " " + JournalVersionText(result.device.version);
  if (result.runningVersion) message += " -> " + JournalVersionText(*result.runningVersion);
  if (result.outcome != Outcome::kOk && !result.reason.empty())
    message += " (" + Printable(result.reason) + ")";
  else if (result.confirmed == Confirmation::kSilent)
    message += " (no answer after the restart: not confirmed running)";
  return message;
}

std::string SystemJournalFieldName(std::string_view journalField) {
  std::string name = "QUORVIK_";
  for (const char c : journalField) {
    if (std::isupper(static_cast<unsigned char>(c))) name += '_';
    name += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  }
  return name;
}

SystemJournalEntry SystemJournalEntryOf(const CommandResult& result,
                                        const JournalContext& context) {
  SystemJournalEntry entry = {
      {"MESSAGE", SystemJournalMessage(result)},
      {"MESSAGE_ID", SystemJournalMessageId(result.command)},
      {"PRIORITY", std::to_string(SystemJournalPriority(result))},
      {"SYSLOG_IDENTIFIER", context.program},
  };
  for (const JsonField& field : JournalRecord(result, context)) {
    if (field.name == "time" || field.name == "host") continue;
    std::string value;
    if (std::holds_alternative<std::nullptr_t>(field.value))
      continue;
    else if (const bool* b = std::get_if<bool>(&field.value))
      value = *b ? "true" : "false";
    else if (const int64_t* n = std::get_if<int64_t>(&field.value))
      value = std::to_string(*n);
    else
      // Valid UTF-8, so that journalctl shows a device's name as text, not
      // as a blob; a line end in it travels in the protocol's length form.
      value = ToUtf8(std::get<std::string>(field.value));
    entry.emplace_back(SystemJournalFieldName(field.name), std::move(value));
  }
  if (result.runningVersion)
    entry.emplace_back("QUORVIK_RUNNING_VERSION", JournalVersionText(*result.runningVersion));
  return entry;
}

void CSystemJournalSink::OnResult(const CommandResult& result) {
  // What the update journal leaves out (nothing reached a device) stays
  // out here too, so that both tell the same story.
  if (!result.frameSent) return;
  const SystemJournalEntry entry = SystemJournalEntryOf(result, m_context);
  std::vector<std::string> lines;
  lines.reserve(entry.size());
  for (const auto& [name, value] : entry) lines.push_back(name + "=" + value);
  std::vector<iovec> fields;
  fields.reserve(lines.size());
  for (std::string& line : lines) fields.push_back({line.data(), line.size()});
  // Fails where no journal listens (a container, a system without
  // systemd): the update journal is the record, so there is nothing to say.
  (void)sd_journal_sendv(fields.data(), static_cast<int>(fields.size()));
}

}  // namespace quorvik
