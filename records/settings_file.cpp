#include "records/settings_file.h"

#include "records/settings_location.h"

#include <strings.h>

#include <algorithm>
#include <optional>
#include <vector>

namespace quorvik {

namespace {

struct Line {
  std::string text;  // without its line ending
};

std::string Trim(const std::string& s) {
  const auto first = s.find_first_not_of(" \t");
  if (first == std::string::npos) return {};
  const auto last = s.find_last_not_of(" \t");
  return s.substr(first, last - first + 1);
}

bool SameName(const std::string& a, const std::string& b) {
  return a.size() == b.size() && ::strncasecmp(a.data(), b.data(), a.size()) == 0;
}

// The section name of a "[name]" line.
std::optional<std::string> SectionOf(const std::string& line) {
  const std::string t = Trim(line);
  if (t.size() < 2 || t.front() != '[') return std::nullopt;
  const auto close = t.find(']');
  if (close == std::string::npos) return std::nullopt;
  return Trim(t.substr(1, close - 1));
}

bool IsComment(const std::string& line) {
  const std::string t = Trim(line);
  return !t.empty() && (t.front() == ';' || t.front() == '#');
}

// The key of a "key=value" line, or nothing.
std::optional<std::string> KeyOf(const std::string& line) {
  if (IsComment(line)) return std::nullopt;
  const auto eq = line.find('=');
  if (eq == std::string::npos) return std::nullopt;
  return Trim(line.substr(0, eq));
}

struct Contents {
  std::vector<std::string> lines;
  std::string newline = "\n";
  // Set when the file exists but could not be read whole.
  std::optional<FileProblem> problem;
};

Contents Load(const std::string& path) {
  Contents c;
  FileRead read = ReadWholeFile(path, kMaxSettingsFileBytes);
  if (!read.bytes) {
    if (read.problem.kind != FileProblem::Kind::kMissing) c.problem = std::move(read.problem);
    return c;
  }
  const std::string& text = *read.bytes;
  size_t at = 0;
  bool first = true;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(at, end - at);
    if (!line.empty() && line.back() == '\r') {
      line.pop_back();
      if (first) c.newline = "\r\n";
    }
    first = false;
    c.lines.push_back(std::move(line));
    at = end + 1;
  }
  return c;
}

// Where the key's line is, and where the section ends, in the lines.
struct Position {
  std::optional<size_t> sectionLine;
  std::optional<size_t> keyLine;
  size_t sectionEnd = 0;  // index after the section's last key line
};

Position Locate(const std::vector<std::string>& lines, const std::string& section,
                const std::string& key) {
  Position p;
  bool inSection = false;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (auto name = SectionOf(lines[i])) {
      if (inSection) break;  // a repeated section is not merged
      inSection = SameName(*name, section);
      if (inSection) p.sectionLine = p.sectionEnd = i;
      continue;
    }
    if (!inSection) continue;
    if (!Trim(lines[i]).empty()) p.sectionEnd = i;
    auto k = KeyOf(lines[i]);
    if (k && !p.keyLine && SameName(*k, key)) p.keyLine = i;
  }
  return p;
}

// A value spans one line: a line break inside it would end the value early
// and could start a new key or section.
std::string OneLine(std::string value) {
  std::replace_if(
      value.begin(), value.end(), [](char c) { return c == '\n' || c == '\r' || c == '\0'; }, ' ');
  return value;
}

}  // namespace

std::string CSettingsFile::Read(const std::string& section, const std::string& key) const {
  const Contents c = Load(m_path);
  const Position p = Locate(c.lines, section, key);
  if (!p.keyLine) return {};
  const std::string& line = c.lines[*p.keyLine];
  return Trim(line.substr(line.find('=') + 1));
}

std::optional<std::string> CSettingsFile::ReadProblem() const {
  Contents c = Load(m_path);
  if (!c.problem) return std::nullopt;
  return c.problem->message;
}

FileWrite CSettingsFile::Write(const std::string& section, const std::string& key,
                               const std::string& value) const {
  Contents c = Load(m_path);
  if (c.problem) {
    FileWrite refused;
    refused.problem = *c.problem;
    refused.problem.message += "; it is left as it is and nothing is saved in it";
    return refused;
  }
  const Position p = Locate(c.lines, section, key);
  const std::string entry = key + "=" + OneLine(value);
  if (p.keyLine) {
    c.lines[*p.keyLine] = entry;
  } else if (p.sectionLine) {
    c.lines.insert(c.lines.begin() + static_cast<long>(p.sectionEnd) + 1, entry);
  } else {
    c.lines.push_back("[" + section + "]");
    c.lines.push_back(entry);
  }
  std::string text;
  for (const std::string& line : c.lines) text += line + c.newline;
  // The configuration folder of a new user does not exist until the first
  // setting is saved.
  if (const std::string problem = CreateFolders(FolderOf(m_path)); !problem.empty()) {
    FileWrite failed;
    failed.problem = {FileProblem::Kind::kNotWritten, 0, problem};
    return failed;
  }
  return WriteFileAtomically(m_path, text);
}

}  // namespace quorvik
