#include "app/settings_file.h"

#include "app/settings_location.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <strings.h>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <optional>
#include <sstream>
#include <vector>

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
  bool existed = false;
};

Contents Load(const std::string& path) {
  Contents c;
  std::ifstream in(path, std::ios::binary);
  if (!in) return c;
  c.existed = true;
  std::string line;
  bool first = true;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') {
      line.pop_back();
      if (first) c.newline = "\r\n";
    }
    first = false;
    c.lines.push_back(std::move(line));
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

// Empty on success, else why the file was not replaced.
std::string WriteAtomically(const std::string& path, const std::string& text) {
  const std::string temp = path + ".tmp-XXXXXX";
  std::vector<char> name(temp.begin(), temp.end());
  name.push_back('\0');
  const int fd = ::mkstemp(name.data());
  if (fd < 0) return "cannot write " + path + ": " + std::strerror(errno);
  size_t done = 0;
  errno = 0;
  while (done < text.size()) {
    ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  // mkstemp creates the file private to its owner; a settings file is
  // readable like any other the user creates.
  const mode_t mask = ::umask(0);
  ::umask(mask);
  ::fchmod(fd, 0666 & ~mask);
  bool ok = done == text.size() && ::fsync(fd) == 0;
  int error = ok ? 0 : (errno != 0 ? errno : EIO);
  if (::close(fd) != 0 && ok) {
    ok = false;
    error = errno;
  }
  if (ok && ::rename(name.data(), path.c_str()) != 0) {
    ok = false;
    error = errno;
  }
  if (!ok) {
    ::unlink(name.data());
    return "cannot write " + path + ": " + std::strerror(error);
  }
  return {};
}

}  // namespace

std::string CSettingsFile::Read(const std::string& section, const std::string& key) const {
  const Contents c = Load(m_path);
  const Position p = Locate(c.lines, section, key);
  if (!p.keyLine) return {};
  const std::string& line = c.lines[*p.keyLine];
  return Trim(line.substr(line.find('=') + 1));
}

bool CSettingsFile::Write(const std::string& section, const std::string& key,
                          const std::string& value) const {
  Contents c = Load(m_path);
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
  const auto slash = m_path.find_last_of('/');
  m_lastError = slash == std::string::npos || slash == 0 ? std::string()
                                                         : CreateFolders(m_path.substr(0, slash));
  if (m_lastError.empty()) m_lastError = WriteAtomically(m_path, text);
  return m_lastError.empty();
}
