#pragma once

// A per-process scratch file for targets that must go through the file
// system. A memory-backed folder keeps the writes (and the settings file's
// fsync) off the disk, which is what limits how many inputs a run can try.

#include <sys/stat.h>
#include <unistd.h>

#include <string>

namespace quorvik {

class CFuzzScratchFile {
 public:
  explicit CFuzzScratchFile(const char* name) {
    struct stat st {};
    const bool shm =
        ::stat("/dev/shm", &st) == 0 && S_ISDIR(st.st_mode) && ::access("/dev/shm", W_OK) == 0;
    m_path = std::string(shm ? "/dev/shm" : "/tmp") + "/quorvik-fuzz-" +
             std::to_string(::getpid()) + "-" + name;
  }
  ~CFuzzScratchFile() { ::unlink(m_path.c_str()); }
  CFuzzScratchFile(const CFuzzScratchFile&) = delete;
  CFuzzScratchFile& operator=(const CFuzzScratchFile&) = delete;

  const std::string& Path() const { return m_path; }

 private:
  std::string m_path;
};

}  // namespace quorvik
