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
  // truncated one. A missing folder is created first. False when the file
  // could not be written; `lastError()` then says why.
  bool Write(const std::string& section, const std::string& key, const std::string& value) const;
  const std::string& lastError() const { return m_lastError; }

 private:
  std::string m_path;
  mutable std::string m_lastError;
};

constexpr const char* kSettingsSection = "APP";
constexpr const char* kKeySelectedIp = "SELECTED_IP";
constexpr const char* kKeyHidden = "HIDDEN";
// The folder of the firmware file chosen last: the file dialog opens there.
constexpr const char* kKeyFirmwareFolder = "FIRMWARE_FOLDER";
