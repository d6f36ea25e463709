#include "records/journal.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>

#include "base/hex_text.h"
#include "base/text.h"
#include "devices/device_identity.h"
#include "devices/device_list.h"
#include "records/settings_location.h"

namespace quorvik {

const std::vector<std::string> kJournalCommonFields = {
    "time",   "host",     "program", "interface", "command",    "outcome", "reason",
    "device", "deviceId", "serial",  "mac",       "loaderType", "version", "confirmed"};
const std::vector<std::string> kJournalUpdateFields = {
    "file", "sha256", "section", "bytes", "blocks", "crc", "verified", "durationMs", "fileBytes"};

namespace {

JsonValue TextOrNull(const std::string& text) {
  return text.empty() ? JsonValue(nullptr) : JsonValue(text);
}

template <typename T>
JsonValue NumberOrNull(const std::optional<T>& value) {
  return value ? JsonValue(static_cast<int64_t>(*value)) : JsonValue(nullptr);
}

std::optional<FileProblem> Failure(const std::string& path, int error, const std::string& what) {
  return FileProblem{FileProblem::Kind::kNotWritten, error,
                     path + ": " + what + std::strerror(error)};
}

// Opens for appending; never blocks on a FIFO and never appends to
// anything but a regular file.
int OpenForAppend(const std::string& path, std::optional<FileProblem>& problem) {
  // Missing folders are made private to the user, as a desktop's state
  // folder is.
  if (const std::string why = CreateFolders(FolderOf(path)); !why.empty()) {
    problem = FileProblem{FileProblem::Kind::kNotWritten, 0, path + ": " + why};
    return -1;
  }
  // A device is not even opened: opening one can act on it.
  if (auto other = RegularFileProblem(path);
      other && other->kind == FileProblem::Kind::kNotRegular) {
    problem = std::move(other);
    return -1;
  }
  const int fd =
      ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK | O_NOCTTY, 0600);
  if (fd < 0) {
    problem = Failure(path, errno, "cannot be opened for appending: ");
    return -1;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    problem = FileProblem{FileProblem::Kind::kNotRegular, 0, path + ": is not a regular file"};
    return -1;
  }
  return fd;
}

// 0 when kJournalHeadroom more bytes of lines fit, else why they do not.
// The room is reserved past the end of the file, which keeps its size and
// every byte: no probe line is ever left in the operator's journal.
int NoRoomError(int fd) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) return errno;
  int reserved;
  do {
    reserved = ::fallocate(fd, FALLOC_FL_KEEP_SIZE, st.st_size, kJournalHeadroom);
  } while (reserved != 0 && errno == EINTR);
  if (reserved == 0) return 0;
  const int error = errno;
  if (error == ENOSPC || error == EDQUOT || error == EFBIG) return error;
  // A file system that cannot reserve tells what it has free instead.
  struct statvfs fs {};
  if (::fstatvfs(fd, &fs) != 0) return 0;
  return static_cast<unsigned long long>(fs.f_bavail) * fs.f_frsize <
                 static_cast<unsigned long long>(kJournalHeadroom)
             ? ENOSPC
             : 0;
}

}  // namespace

std::string FormatUtcTime(std::chrono::system_clock::time_point time) {
  const auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch()).count();
  const std::time_t seconds = static_cast<std::time_t>(ms / 1000);
  std::tm utc{};
  ::gmtime_r(&seconds, &utc);
  char text[96];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900,
                utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                static_cast<int>(ms % 1000));
  return text;
}

std::optional<std::chrono::system_clock::time_point> ParseUtcTime(std::string_view text) {
  const std::string copy(text);
  std::tm utc{};
  int ms = 0;
  if (std::sscanf(copy.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d.%3dZ", &utc.tm_year, &utc.tm_mon,
                  &utc.tm_mday, &utc.tm_hour, &utc.tm_min, &utc.tm_sec, &ms) != 7)
    return std::nullopt;
  utc.tm_year -= 1900;
  utc.tm_mon -= 1;
  const std::time_t seconds = ::timegm(&utc);
  if (seconds == static_cast<std::time_t>(-1)) return std::nullopt;
  const auto time = std::chrono::system_clock::from_time_t(seconds) + std::chrono::milliseconds(ms);
  // Back to the same text, or the text named no time: sscanf lets signs,
  // spaces and a 2026-02-30 through, and ignores whatever follows the Z.
  if (FormatUtcTime(time) != text) return std::nullopt;
  return time;
}

std::string JournalVersionText(uint16_t version) {
  // Every version, also one the list leaves blank: the journal is a record.
  char text[16];
  std::snprintf(text, sizeof text, "%d.%02d", version >> 8, version & 0xFF);
  return text;
}

FlatRecord ResultFields(const CommandResult& r) {
  const DeviceRecord& device = r.device;
  // A running device reports no model code; its loader, when the command
  // reached it, does.
  const DeviceRecord& loader = r.addressed;
  std::string mac;
  if (HasRealMac(device))
    mac = MacText(device.mac);
  else if (HasRealMac(loader))
    mac = MacText(loader.mac);
  const char* confirmed = ConfirmationName(r.confirmed);
  FlatRecord record = {
      {"command", std::string(CommandName(r.command))},
      {"outcome", std::string(OutcomeName(r.outcome))},
      {"reason", r.reason},
      {"device", r.deviceName},
      {"deviceId", loader.loaderType != 0 ? JsonValue(Hex16(loader.deviceId)) : nullptr},
      {"serial", TextOrNull(FormatSerial(device))},
      {"mac", TextOrNull(mac)},
      {"loaderType", Hex16(loader.loaderType)},
      {"version", JournalVersionText(device.version)},
      {"confirmed", confirmed ? JsonValue(std::string(confirmed)) : nullptr},
  };
  if (r.update) {
    const UpdateFacts& u = *r.update;
    record.push_back({"file", u.path});
    record.push_back({"sha256", TextOrNull(u.sha256)});
    record.push_back({"section", NumberOrNull(u.section)});
    record.push_back({"bytes", NumberOrNull(u.bytes)});
    record.push_back({"blocks", static_cast<int64_t>(u.blocks)});
    record.push_back({"crc", u.crc ? JsonValue(Hex16(*u.crc)) : nullptr});
    record.push_back({"verified", u.verified});
    record.push_back({"durationMs", static_cast<int64_t>(r.duration.count())});
    record.push_back({"fileBytes", NumberOrNull(u.fileBytes)});
    if (!u.waits.empty()) record.push_back({"waits", u.waits});
    if (u.installs) record.push_back({"installs", FormatVersion(*u.installs)});
  }
  return record;
}

// With every network open the run's interface is "all"; the device's own
// card is the one its frames went through.
static std::string InterfaceOf(const CommandResult& result, const JournalContext& context) {
  const std::string card = NetworkText(result.device);
  return card.empty() ? context.interface : card;
}

FlatRecord JournalRecord(const CommandResult& result, const JournalContext& context) {
  FlatRecord record = {{"time", FormatUtcTime(result.started + result.duration)},
                       {"host", context.host},
                       {"program", context.program},
                       {"interface", TextOrNull(InterfaceOf(result, context))}};
  for (JsonField& field : ResultFields(result)) record.push_back(std::move(field));
  return record;
}

FlatRecord JournalStartRecord(const CommandResult& result, const JournalContext& context) {
  CommandResult start = result;
  start.duration = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::system_clock::now() - start.started);
  start.confirmed = Confirmation::kNone;
  FlatRecord record = JournalRecord(start, context);
  for (JsonField& field : record) {
    if (field.name == "outcome") field.value = std::string(kStartedOutcome);
    if (field.name == "reason") field.value = std::string(kStartedReason);
  }
  return record;
}

bool IsStartLine(const FlatRecord& record) {
  return TextOf(record, "outcome") == kStartedOutcome;
}

std::string DeviceKeyText(std::span<const uint8_t> serial,
                          const std::optional<std::array<uint8_t, 6>>& mac) {
  size_t length = serial.size();
  while (length > 0 && serial[length - 1] == 0) --length;
  if (length > 0) {
    std::string key = "serial:";
    char digits[4];
    for (size_t i = 0; i < std::min<size_t>(length, 11); ++i) {
      std::snprintf(digits, sizeof digits, "%.2x", serial[i]);
      key += digits;
    }
    return key;
  }
  if (mac) return "mac:" + MacText(*mac);
  return {};
}

std::string JournalDeviceKey(const FlatRecord& record) {
  const auto serial = ParseHexBytes(TextOf(record, "serial"));
  return DeviceKeyText(serial ? std::span<const uint8_t>(*serial) : std::span<const uint8_t>{},
                       ParseMacText(TextOf(record, "mac")));
}

std::string RecordDeviceKey(const DeviceRecord& record) {
  return DeviceKeyText(SerialBytes(record),
                       HasRealMac(record) ? std::optional(record.mac) : std::nullopt);
}

bool EndsStart(const FlatRecord& start, const FlatRecord& line) {
  return !IsStartLine(line) && TextOf(line, "command") == TextOf(start, "command") &&
         TextOf(line, "file") == TextOf(start, "file") &&
         TextOf(line, "sha256") == TextOf(start, "sha256");
}

std::vector<FlatRecord> HistoryEntries(const std::vector<FlatRecord>& records) {
  std::vector<std::optional<FlatRecord>> shown;
  // Per device, the shown start that its next line may still close.
  std::map<std::string, size_t> open;
  const auto unfinished = [&shown](size_t at) {
    for (JsonField& field : *shown[at]) {
      if (field.name == "outcome") field.value = std::string(kUnfinishedOutcome);
      if (field.name == "reason") field.value = std::string(kUnfinishedReason);
    }
  };
  for (const FlatRecord& record : records) {
    const std::string key = JournalDeviceKey(record);
    const bool start = IsStartLine(record);
    if (!key.empty()) {
      if (const auto it = open.find(key); it != open.end()) {
        if (EndsStart(*shown[it->second], record))
          shown[it->second].reset();  // ended: its end line tells it all
        else
          unfinished(it->second);
        open.erase(it);
      }
    }
    shown.emplace_back(record);
    if (start) {
      if (key.empty())
        unfinished(shown.size() - 1);
      else
        open[key] = shown.size() - 1;
    }
  }
  for (const auto& [key, at] : open) unfinished(at);
  std::vector<FlatRecord> entries;
  for (auto& entry : shown)
    if (entry) entries.push_back(std::move(*entry));
  return entries;
}

std::string JournalPath(const std::string& requested) {
  if (const char* forced = std::getenv("QUORVIK_JOURNAL"); forced != nullptr && *forced != 0)
    return forced;
  if (!requested.empty()) return requested;
  std::string base;
  if (const char* state = std::getenv("XDG_STATE_HOME"); state != nullptr && state[0] == '/')
    base = state;
  else if (const char* home = std::getenv("HOME"); home != nullptr && *home != 0)
    base = std::string(home) + "/.local/state";
  else
    base = "/tmp";
  return base + "/quorvik/journal.jsonl";
}

std::optional<FileProblem> CJournal::CheckWritable() const {
  std::optional<FileProblem> problem;
  const int fd = OpenForAppend(m_path, problem);
  if (fd < 0) return problem;
  const int error = NoRoomError(fd);
  ::close(fd);
  if (error != 0) return Failure(m_path, error, "has no room for its lines: ");
  return std::nullopt;
}

std::optional<FileProblem> CJournal::Append(const FlatRecord& record) const {
  std::optional<FileProblem> problem;
  const int fd = OpenForAppend(m_path, problem);
  if (fd < 0) return problem;
  std::string line = EncodeJsonObject(record) + "\n";
  // A line torn by a power cut has no line end; the next line starts on a
  // line of its own, so that only the torn one is lost.
  struct stat st {};
  char last = '\n';
  if (::fstat(fd, &st) == 0 && st.st_size > 0) {
    const int reader = ::open(m_path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (reader >= 0) {
      if (::pread(reader, &last, 1, st.st_size - 1) != 1) last = '\n';
      ::close(reader);
    }
  }
  if (last != '\n') line.insert(line.begin(), '\n');
  // One write: with O_APPEND the kernel puts the whole line at the end, so
  // that lines of two programs never interleave.
  const ssize_t written = ::write(fd, line.data(), line.size());
  const int writeError = errno;
  if (written != static_cast<ssize_t>(line.size())) {
    ::close(fd);
    return Failure(m_path, written < 0 ? writeError : ENOSPC, "the line was not written: ");
  }
  if (::fdatasync(fd) != 0) {
    const int error = errno;
    ::close(fd);
    return Failure(m_path, error, "the line did not reach the disk: ");
  }
  ::close(fd);
  return std::nullopt;
}

JournalRead ReadJournal(const std::string& path) {
  JournalRead result;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) {
    if (errno != ENOENT)
      result.problem =
          FileProblem{FileProblem::Kind::kUnreadable, errno, path + ": " + std::strerror(errno)};
    result.missing = errno == ENOENT;
    return result;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    result.problem =
        FileProblem{FileProblem::Kind::kNotRegular, 0, path + ": is not a regular file"};
    return result;
  }
  std::string pending;
  char buffer[65536];
  const auto takeLine = [&](std::string_view line) {
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.find_first_not_of(" \t") == std::string_view::npos) return;
    if (auto record = DecodeJsonObject(line))
      result.records.push_back(std::move(*record));
    else
      ++result.skipped;
  };
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      result.problem =
          FileProblem{FileProblem::Kind::kUnreadable, errno, path + ": " + std::strerror(errno)};
      break;
    }
    if (n == 0) break;
    pending.append(buffer, static_cast<size_t>(n));
    size_t start = 0;
    for (size_t end; (end = pending.find('\n', start)) != std::string::npos; start = end + 1)
      takeLine(std::string_view(pending).substr(start, end - start));
    pending.erase(0, start);
  }
  ::close(fd);
  if (!pending.empty()) takeLine(pending);
  return result;
}

void CJournalSink::OnResult(const CommandResult& result) {
  // Only what reached a device is journalled: a refused file or a declined
  // question changed nothing on the network.
  if (!result.frameSent) return;
  if (const auto problem = m_journal.Append(JournalRecord(result, m_context)))
    if (onProblem) onProblem(*problem);
}

bool CJournalSink::OnStarted(const CommandResult& result) {
  if (const auto problem = m_journal.Append(JournalStartRecord(result, m_context))) {
    if (onProblem) onProblem(*problem);
    return false;
  }
  return true;
}

std::string CsvCell(std::string text) {
  if (!text.empty() && std::string_view("=+-@\t\r").find(text.front()) != std::string::npos)
    text.insert(text.begin(), '\'');
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (const char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + "\"";
}

std::string JournalCsv(const std::vector<FlatRecord>& records) {
  const std::vector<std::string>& names = JournalFields();
  std::string csv;
  const auto row = [&csv](const std::vector<std::string>& cells) {
    for (size_t i = 0; i < cells.size(); ++i) csv += (i ? "," : "") + CsvCell(cells[i]);
    csv += "\r\n";
  };
  row(names);
  for (const FlatRecord& record : records) {
    std::vector<std::string> cells;
    for (const std::string& name : names) {
      const JsonValue* value = FieldOf(record, name);
      std::string cell;
      if (value == nullptr || std::holds_alternative<std::nullptr_t>(*value))
        cell.clear();
      else if (const bool* b = std::get_if<bool>(value))
        cell = *b ? "true" : "false";
      else if (const int64_t* n = std::get_if<int64_t>(value))
        cell = std::to_string(*n);
      else
        cell = ToUtf8(std::get<std::string>(*value));
      cells.push_back(std::move(cell));
    }
    row(cells);
  }
  return csv;
}

std::string HostName() {
  char name[256] = {};
  if (::gethostname(name, sizeof name - 1) != 0) return {};
  return name;
}

const std::vector<std::string>& JournalFields() {
  static const std::vector<std::string> fields = [] {
    std::vector<std::string> all = kJournalCommonFields;
    all.insert(all.end(), kJournalUpdateFields.begin(), kJournalUpdateFields.end());
    return all;
  }();
  return fields;
}

}  // namespace quorvik
