#pragma once
// All simulated devices behind one set of ports: hands every received
// datagram to each device, keeps the answers that are due later in a timer
// queue, and writes the log. Sending and the clock belong to the caller, so
// the whole behaviour runs in tests without a socket.

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "tools/devsim/sim_device.h"

namespace quorvik {

class CSimulation {
 public:
  // Broadcasts one datagram to the port, from `source` where it is not
  // empty; returns false if it could not.
  using Sender =
      std::function<bool(uint16_t port, std::span<const uint8_t> bytes, const std::string& source)>;
  // Receives one log line without its line end; may be empty for no log.
  using LogSink = std::function<void(const std::string& line)>;

  CSimulation(std::vector<DeviceConfig> devices, Sender sender, LogSink log = {});

  // The moment the simulator said ready: the devices' times on the bench
  // count from it.
  void SetReady(uint64_t nowMs) { m_readyMs = nowMs; }
  void OnDatagram(uint16_t port, std::span<const uint8_t> datagram, uint64_t nowMs);
  // Carries out everything that has fallen due by nowMs, oldest first.
  void RunDue(uint64_t nowMs);
  std::optional<uint64_t> NextDueMs() const;
  // Restarts a device on its own, back in its loader after `delayMs`.
  void RestartDevice(size_t device, uint64_t nowMs, uint32_t delayMs);

  const std::vector<CSimDevice>& Devices() const { return m_devices; }
  std::vector<std::string> SummaryLines() const;
  // Writes DIR/<identity hex>.img per device; returns a message on failure.
  std::string WriteImages(const std::string& dir) const;

 private:
  struct PendingAction {
    size_t device = 0;
    bool restart = false;  // otherwise send `reply`
    SimReply reply;
  };

  void Log(const std::string& line) const;
  void Send(size_t device, const SimReply& reply);
  void Carry(size_t device, const SimHandling& handling, uint64_t nowMs);
  std::string DeviceTag(size_t device) const;
  bool OnBench(size_t device, uint64_t nowMs) const;

  std::vector<CSimDevice> m_devices;
  Sender m_sender;
  LogSink m_log;
  // Keyed by due time and then arrival, so that equal times keep their order.
  std::map<std::pair<uint64_t, uint64_t>, PendingAction> m_pending;
  uint64_t m_sequence = 0;
  uint64_t m_readyMs = 0;
};

// The image file name of a device: its identity in hexadecimal, or
// "index<N>" for a device without identity bytes.
std::string ImageFileName(const CSimDevice& device, size_t index);

}  // namespace quorvik
