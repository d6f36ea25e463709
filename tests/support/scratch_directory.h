#pragma once
// Test scaffolding shared by the window-logic tests: a fresh working
// directory (the settings file lives there) and a clean device table,
// hidden count and black-list, both undone afterwards.

#include <filesystem>
#include <optional>
#include <string>

namespace quorvik {

// Makes a temporary folder the working directory for its lifetime, and its
// "config" subfolder the configuration home, so that no test reads or writes
// the settings of the user who runs it.
class CScratchDirectory {
 public:
  CScratchDirectory();
  ~CScratchDirectory();
  CScratchDirectory(const CScratchDirectory&) = delete;
  CScratchDirectory& operator=(const CScratchDirectory&) = delete;

  const std::filesystem::path& path() const { return m_path; }
  // Where the settings file goes when the working directory holds none.
  std::filesystem::path ConfigSettingsPath() const { return m_path / "config/quorvik/Quorvik.ini"; }

 private:
  std::filesystem::path m_path;
  std::filesystem::path m_previous;
  std::optional<std::string> m_previousConfigHome;
};

// A working directory of its own for one test; the device table is the
// test's own network's.
struct CCleanState {
  CScratchDirectory scratch;
};

}  // namespace quorvik
