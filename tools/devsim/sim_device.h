#pragma once
// One simulated device: takes the requests that reach it and decides what it
// answers, when, and what it remembers. No sockets and no clock here; delays
// travel with the answers so that the caller's timer can honour them.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "tools/devsim/sim_config.h"

namespace quorvik {

enum class SimState { kApp, kRestarting, kBoot, kGone };

const char* StateName(SimState state);

struct SimReply {
  uint16_t port = 0;  // sent by broadcast to this port
  std::vector<uint8_t> bytes;
  uint32_t delayMs = 0;
  std::string note;  // extra key=value fields for the log line of the send
};

struct SimHandling {
  bool accepted = false;  // the request was meant for this device
  std::string detail;     // key=value fields of the request, for its log line
  std::vector<std::string> events;
  std::vector<SimReply> replies;
  // Set when the device went down to restart into its loader.
  std::optional<uint32_t> restartAfterMs;
};

struct DeviceCounters {
  uint32_t writes = 0;  // write requests addressed to the device, failed ones included
  uint32_t blocks = 0;  // blocks stored
  uint32_t droppedAcks = 0;
  uint32_t failedWrites = 0;
  uint32_t verifies = 0;
  uint32_t runs = 0;
  uint32_t factoryResets = 0;
  uint32_t mismatches = 0;
};

// Writes beyond this are dropped, so that a runaway offset cannot exhaust
// memory.
constexpr size_t kMaxImageBytes = 1024 * 1024;

class CSimDevice {
 public:
  explicit CSimDevice(DeviceConfig config);

  SimHandling Handle(uint16_t port, std::span<const uint8_t> datagram, uint64_t nowMs = 0);
  // The restart delay is over: the loader answers from now on, and takes
  // blocks from `takesBlocksAfterMs` later.
  void FinishRestart(uint64_t nowMs = 0);
  // The device restarts on its own (a brown-out, a watchdog): silent until
  // FinishRestart, then a loader whose next write starts the image over.
  void Restart() { m_state = SimState::kRestarting; }

  SimState State() const { return m_state; }
  const DeviceConfig& Config() const { return m_config; }
  // Flash content from offset 0 to the end of the highest block written in
  // the latest loader session; bytes no block covered read 0xFF.
  const std::vector<uint8_t>& Image() const { return m_image; }
  uint16_t ImageCrc() const;
  const DeviceCounters& Counters() const { return m_counters; }
  // The configured identity in hexadecimal; names the device in logs and files.
  const std::string& Label() const { return m_label; }

 private:
  SimHandling HandleApp(uint16_t port, std::span<const uint8_t> datagram);
  SimHandling HandleBoot(uint16_t port, std::span<const uint8_t> datagram);
  SimHandling HandleWrite(std::span<const uint8_t> datagram);
  SimHandling HandleVerify();
  bool IdentityAt(std::span<const uint8_t> datagram, size_t at, size_t count) const;
  bool MacAt(std::span<const uint8_t> datagram, size_t at) const;
  uint32_t AckDelayFor(uint32_t ordinal) const;
  SimHandling Accepted(std::string detail = {}) const;

  DeviceConfig m_config;
  std::string m_label;
  SimState m_state;
  std::vector<uint8_t> m_image;
  // A loader erases the application area before it programs the first block
  // of a session; the image then holds only what this session wrote.
  // When the loader that a restart brought up takes blocks; none: at once.
  std::optional<uint64_t> m_takesBlocksAt;
  uint64_t m_nowMs = 0;
  bool m_eraseOnWrite = true;
  DeviceCounters m_counters;
};

}  // namespace quorvik
