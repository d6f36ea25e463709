#pragma once
// A file descriptor that is closed when its owner goes, on every path out.

#include <unistd.h>

#include <utility>

namespace quorvik {

class CFd {
 public:
  explicit CFd(int fd = -1) : m_fd(fd) {}
  CFd(CFd&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}
  CFd& operator=(CFd&& other) noexcept {
    if (this != &other) {
      if (m_fd >= 0) ::close(m_fd);
      m_fd = std::exchange(other.m_fd, -1);
    }
    return *this;
  }
  CFd(const CFd&) = delete;
  CFd& operator=(const CFd&) = delete;
  ~CFd() {
    if (m_fd >= 0) ::close(m_fd);
  }

  int Get() const { return m_fd; }
  // The descriptor, no longer closed here: for a caller that must see
  // close()'s own answer (a write's last error can arrive only there).
  int Release() { return std::exchange(m_fd, -1); }

 private:
  int m_fd;
};

}  // namespace quorvik
