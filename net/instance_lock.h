#pragma once
// One program at a time takes the devices' ports on a network. Two that
// share them (the sockets allow it, so that a simulator can run beside the
// tool) each see the other's acknowledgements, and two updates of one device
// then both report success over a mixed image. The lock is an abstract unix
// socket: it belongs to the network namespace, as the ports do, and it goes
// with its holder, however that ends.

#include <chrono>
#include <memory>
#include <optional>
#include <string>

namespace quorvik {

struct LockHolder {
  std::string name;  // the program, as it named itself; empty when unknown
  int pid = 0;       // 0 when unknown
  // "quorvik-cli (pid 4711)", or a plain description when unknown.
  std::string Describe() const;
};

class CInstanceLock {
 public:
  ~CInstanceLock();
  CInstanceLock(const CInstanceLock&) = delete;
  CInstanceLock& operator=(const CInstanceLock&) = delete;

  struct Attempt {
    std::unique_ptr<CInstanceLock> lock;  // set when taken
    LockHolder holder;                    // who has it otherwise
  };
  // Takes the lock for `program`; while another program holds it, tries
  // again until `wait` has passed (zero: once).
  static Attempt Acquire(const std::string& program,
                         std::chrono::milliseconds wait = std::chrono::milliseconds(0));

 private:
  CInstanceLock(int lockFd, int nameFd) : m_lockFd(lockFd), m_nameFd(nameFd) {}
  int m_lockFd;
  int m_nameFd;
};

}  // namespace quorvik
