#pragma once
// A flood of traffic as a busy show network produces it: valid answers of
// many devices, duplicates, truncated and oversized datagrams, wrong magics
// and stray acknowledgements, on all three ports.

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

namespace quorvik {

struct FloodDatagram {
  uint16_t port;
  std::vector<uint8_t> bytes;
};

// The mix one round of the flood sends, for `devices` distinct devices.
// Deterministic for a seed, so that a failure can be replayed.
std::vector<FloodDatagram> BuildFloodDatagrams(int devices, uint32_t seed);

// Sends the mix round after round from a thread of its own, at about
// `perSecond` datagrams a second (0: as fast as it can), until stopped or
// until `seconds` have passed (0: no limit).
class CFlood {
 public:
  CFlood(std::string iface, int devices, uint32_t perSecond, uint32_t seconds);
  ~CFlood();
  CFlood(const CFlood&) = delete;
  CFlood& operator=(const CFlood&) = delete;

  // False when its socket cannot be opened.
  bool Start();
  void Stop();
  uint64_t Sent() const { return m_sent.load(); }

 private:
  void Run(int fd);

  std::string m_iface;
  int m_devices;
  uint32_t m_perSecond;
  uint32_t m_seconds;
  std::atomic<bool> m_stop{false};
  std::atomic<uint64_t> m_sent{0};
  std::thread m_thread;
  int m_fd = -1;
};

}  // namespace quorvik
