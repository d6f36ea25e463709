#include "records/recovery.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <map>

#include "commands/sha256.h"
#include "files/operator_files.h"

namespace quorvik {

namespace {

bool IsSha256Text(const std::string& text) {
  return text.size() == 64 && text.find_first_not_of("0123456789abcdef") == std::string::npos;
}

}  // namespace

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
    const JsonValue* size = FieldOf(u.start, "fileBytes");
    if (const int64_t* n = size ? std::get_if<int64_t>(size) : nullptr; n && *n >= 0)
      u.fileBytes = static_cast<uint64_t>(*n);
    if (const std::string time = TextOf(u.start, "time"); ParseUtcTime(time)) u.when = time;
    if (record.loaderType != 0) {
      ReadRecordedFile(u, u.fileProblem);
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

FirmwareFileRead ReadRecordedFile(const UnfinishedUpdate& u, std::string& problem) {
  problem.clear();
  FirmwareFileRead read;
  const std::string& path = u.file;
  if (path.empty() || u.sha256.empty()) {
    problem = "the journal names no file for it";
    return read;
  }
  // Every start line this program writes has all three; a line without
  // them (an earlier version's, or one written by hand) is not followed.
  if (path.front() != '/' || !IsSha256Text(u.sha256) || !u.fileBytes) {
    problem = "the journal's start line does not record " + path +
              " with its size and SHA-256, so it is not read";
    return read;
  }
  const auto unusable = [&](const std::string& why) {
    problem = path +
              " cannot be used any more: " + FirmwareVerdictLine(FirmwareVerdict::kUnreadable) +
              " (" + why + ")";
  };
  const auto changed = [&](bool size) {
    problem = path + " has changed since (its " +
              (size ? "size is no longer " + std::to_string(*u.fileBytes) + " bytes"
                    : "SHA-256 is no longer " + u.sha256) +
              ")";
  };
  if (const auto other = RegularFileProblem(path)) {
    unusable(other->message);
    return read;
  }
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    unusable(path + ": " + std::strerror(errno));
    return read;
  }
  if (static_cast<uint64_t>(st.st_size) != *u.fileBytes || *u.fileBytes > kMaxFirmwareFileBytes) {
    changed(true);
    return read;
  }
  // One read: the bytes hashed are the bytes handed out, whatever the file
  // on disk becomes after.
  FileRead whole = ReadWholeFile(path, static_cast<size_t>(*u.fileBytes));
  if (!whole.bytes) {
    if (whole.problem.kind == FileProblem::Kind::kTooLarge)
      changed(true);
    else
      unusable(whole.problem.message);
    return read;
  }
  read.bytes.assign(whole.bytes->begin(), whole.bytes->end());
  if (read.bytes.size() != *u.fileBytes || Sha256Hex(read.bytes) != u.sha256) {
    changed(read.bytes.size() != *u.fileBytes);
    read.bytes.clear();
    return read;
  }
  read.verdict = CheckFirmwareStructure(read.bytes);
  if (read.verdict) {
    read.detail = path;
    problem = path + " cannot be used any more: " + FirmwareVerdictLine(*read.verdict) + " (" +
              path + ")";
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

}  // namespace quorvik
