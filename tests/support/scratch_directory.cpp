#include "tests/support/scratch_directory.h"

#include <unistd.h>

#include <cstdlib>
#include <string>

namespace quorvik {

namespace fs = std::filesystem;

CScratchDirectory::CScratchDirectory() : m_previous(fs::current_path()) {
  std::string pattern = (fs::temp_directory_path() / "quorvik-test-XXXXXX").string();
  m_path = ::mkdtemp(pattern.data());
  fs::current_path(m_path);
  if (const char* previous = std::getenv("XDG_CONFIG_HOME")) m_previousConfigHome = previous;
  ::setenv("XDG_CONFIG_HOME", (m_path / "config").c_str(), 1);
}

CScratchDirectory::~CScratchDirectory() {
  if (m_previousConfigHome)
    ::setenv("XDG_CONFIG_HOME", m_previousConfigHome->c_str(), 1);
  else
    ::unsetenv("XDG_CONFIG_HOME");
  std::error_code ignored;
  fs::current_path(m_previous, ignored);
  fs::remove_all(m_path, ignored);
}

}  // namespace quorvik
