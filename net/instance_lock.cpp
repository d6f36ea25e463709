#include "net/instance_lock.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <fstream>
#include <thread>

namespace quorvik {

namespace {

constexpr char kLockName[] = "quorvik.ports";
constexpr char kHolderPrefix[] = "quorvik.ports.holder:";

// Binds a new socket to the abstract name; -1 with errno set when taken.
int BindAbstract(const std::string& name, int type) {
  const int fd = ::socket(AF_UNIX, type | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const size_t length = std::min(name.size(), sizeof address.sun_path - 1);
  std::memcpy(address.sun_path + 1, name.data(), length);  // sun_path[0] = 0: abstract
  const auto size = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + length);
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), size) != 0) {
    const int error = errno;
    ::close(fd);
    errno = error;
    return -1;
  }
  return fd;
}

// The holder leaves its name and pid in the name of a second socket, which
// the namespace's socket table shows to anyone who looks.
LockHolder FindHolder() {
  LockHolder holder;
  std::ifstream table("/proc/net/unix");
  const std::string marker = std::string("@") + kHolderPrefix;
  for (std::string line; std::getline(table, line);) {
    const size_t at = line.find(marker);
    if (at == std::string::npos) continue;
    const std::string rest = line.substr(at + marker.size());
    const size_t colon = rest.find(':');
    if (colon == std::string::npos) continue;
    try {
      holder.pid = std::stoi(rest.substr(0, colon));
    } catch (const std::exception&) {
      continue;
    }
    holder.name = rest.substr(colon + 1);
    return holder;
  }
  return holder;
}

}  // namespace

std::string LockHolder::Describe() const {
  if (pid <= 0) return "another Quorvik program";
  return (name.empty() ? std::string("a program") : name) + " (pid " + std::to_string(pid) + ")";
}

CInstanceLock::~CInstanceLock() {
  if (m_nameFd >= 0) ::close(m_nameFd);
  if (m_lockFd >= 0) ::close(m_lockFd);
}

CInstanceLock::Attempt CInstanceLock::Acquire(const std::string& program,
                                              std::chrono::milliseconds wait) {
  const auto deadline = std::chrono::steady_clock::now() + wait;
  for (;;) {
    const int lockFd = BindAbstract(kLockName, SOCK_DGRAM);
    if (lockFd >= 0) {
      const int nameFd =
          BindAbstract(kHolderPrefix + std::to_string(::getpid()) + ":" + program, SOCK_DGRAM);
      return {std::unique_ptr<CInstanceLock>(new CInstanceLock(lockFd, nameFd)), {}};
    }
    if (errno != EADDRINUSE || std::chrono::steady_clock::now() >= deadline)
      return {nullptr, FindHolder()};
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
}

}  // namespace quorvik
