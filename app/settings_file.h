#pragma once
// The settings file: an INI file of sections and key=value lines. Section
// and key names match without regard to case; a missing file, section or
// key reads as empty. A write changes one value and keeps every other line
// (other sections, keys, comments, order) as it was.

#include <string>

class CSettingsFile {
 public:
  explicit CSettingsFile(std::string path) : m_path(std::move(path)) {}

  const std::string& path() const { return m_path; }
  std::string Read(const std::string& section, const std::string& key) const;
  // Replaces the file through a temporary file in the same folder, so that a
  // crash or power cut leaves either the old file or the new one, never a
  // truncated one. False when the file could not be written.
  bool Write(const std::string& section, const std::string& key, const std::string& value) const;

 private:
  std::string m_path;
};

constexpr const char* kSettingsSection = "APP";
constexpr const char* kKeySelectedIp = "SELECTED_IP";
constexpr const char* kKeyHidden = "HIDDEN";
