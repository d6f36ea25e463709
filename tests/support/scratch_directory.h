#pragma once
// Test scaffolding shared by the window-logic tests: a fresh working
// directory (the settings file lives there) and a clean device table,
// hidden count and black-list, both undone afterwards.

#include <filesystem>

// Makes a temporary folder the working directory for its lifetime.
class CScratchDirectory {
 public:
  CScratchDirectory();
  ~CScratchDirectory();
  CScratchDirectory(const CScratchDirectory&) = delete;
  CScratchDirectory& operator=(const CScratchDirectory&) = delete;

  const std::filesystem::path& path() const { return m_path; }

 private:
  std::filesystem::path m_path;
  std::filesystem::path m_previous;
};

// Empties the device table, the hidden count and the black-list.
void ResetSharedDeviceState();

// Both of the above for one test.
struct CCleanState {
  CCleanState() { ResetSharedDeviceState(); }
  ~CCleanState() { ResetSharedDeviceState(); }
  CScratchDirectory scratch;
};
