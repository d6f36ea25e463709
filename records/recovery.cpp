#include "records/recovery.h"

#include <map>

#include "commands/sha256.h"

UnfinishedUpdates FindUnfinishedUpdates(const std::vector<FlatRecord>& journal,
                                        std::span<const DeviceRecord> listed) {
  std::map<std::string, const FlatRecord*> last;
  for (const FlatRecord& line : journal)
    if (const std::string key = JournalDeviceKey(line); !key.empty()) last[key] = &line;
  UnfinishedUpdates found;
  std::map<std::string, bool> seen;
  for (size_t row = 0; row < listed.size(); ++row) {
    const DeviceRecord& record = listed[row];
    const std::string key = RecordDeviceKey(record);
    if (key.empty() || seen[key]) continue;
    const auto it = last.find(key);
    if (it == last.end() || !IsStartLine(*it->second)) continue;
    seen[key] = true;
    UnfinishedUpdate u;
    u.record = record;
    u.row = static_cast<int>(row);
    u.start = *it->second;
    u.file = TextOf(u.start, "file");
    u.sha256 = TextOf(u.start, "sha256");
    u.when = TextOf(u.start, "time");
    if (record.loaderType != 0) {
      ReadRecordedFile(u.file, u.sha256, u.fileProblem);
      found.halfUpdated.push_back(std::move(u));
    } else {
      found.running.push_back(std::move(u));
    }
  }
  return found;
}

int ListedLoaderRow(std::span<const DeviceRecord> listed, const DeviceRecord& device) {
  const std::string key = RecordDeviceKey(device);
  for (size_t row = 0; row < listed.size(); ++row)
    if (listed[row].loaderType != 0 && RecordDeviceKey(listed[row]) == key)
      return static_cast<int>(row);
  return -1;
}

FirmwareFileRead ReadRecordedFile(const std::string& path, const std::string& sha256,
                                  std::string& problem) {
  problem.clear();
  FirmwareFileRead read;
  if (path.empty() || sha256.empty()) {
    problem = "the journal names no file for it";
    return read;
  }
  read = ReadFirmwareFile(path);
  if (read.verdict) {
    problem = path + " cannot be used any more: " + FirmwareVerdictLine(*read.verdict) +
              (read.detail.empty() ? "" : " (" + read.detail + ")");
  } else if (Sha256Hex(read.bytes) != sha256) {
    problem = path + " has changed since (its SHA-256 is no longer " + sha256 + ")";
  }
  return read;
}

FlatRecord RunningEndLine(const FlatRecord& start, const JournalContext& context) {
  FlatRecord line = start;
  for (JsonField& field : line) {
    if (field.name == "time") field.value = FormatUtcTime(std::chrono::system_clock::now());
    if (field.name == "host") field.value = context.host;
    if (field.name == "program") field.value = context.program;
    if (field.name == "interface")
      field.value = context.interface.empty() ? JsonValue(nullptr) : JsonValue(context.interface);
    if (field.name == "outcome") field.value = std::string(OutcomeName(Outcome::kInterrupted));
    if (field.name == "reason") field.value = std::string(kFoundRunningReason);
    if (field.name == "confirmed") field.value = std::string("running");
  }
  return line;
}
