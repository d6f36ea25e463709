#pragma once
// The settings file: an INI file of sections and key=value lines. Section
// and key names match without regard to case; a missing file, section or
// key reads as empty. A write changes one value and keeps every other line
// (other sections, keys, comments, order) as it was.

#include <optional>
#include <string>

#include "files/operator_files.h"

namespace quorvik {

// A settings file is a few lines; a black-list of a few hundred thousand
// hidden devices still fits. Anything larger is not a settings file.
constexpr size_t kMaxSettingsFileBytes = 64 * 1024 * 1024;

class CSettingsFile {
 public:
  explicit CSettingsFile(std::string path) : m_path(std::move(path)) {}

  const std::string& path() const { return m_path; }
  // Empty when the file cannot be read, as when it is missing.
  std::string Read(const std::string& section, const std::string& key) const;
  // Why the file exists but cannot be read, or nothing.
  std::optional<std::string> ReadProblem() const;
  // Replaces the file through a temporary file in its target's folder (see
  // WriteFileAtomically). A file that exists but cannot be read is never
  // written: its other sections and comments would be lost.
  FileWrite Write(const std::string& section, const std::string& key,
                  const std::string& value) const;

 private:
  std::string m_path;
};

constexpr const char* kSettingsSection = "APP";
constexpr const char* kKeySelectedIp = "SELECTED_IP";
constexpr const char* kKeyHidden = "HIDDEN";
// The folder of the firmware file chosen last: the file dialog opens there.
constexpr const char* kKeyFirmwareFolder = "FIRMWARE_FOLDER";

}  // namespace quorvik
