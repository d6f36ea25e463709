#pragma once
// The simulated devices as the configuration file describes them. Parsing
// never throws: a bad file yields a message that names the device and the
// field, so that a test author sees at once which line to fix.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "net/protocol.h"

namespace quorvik {

enum class SimMode { kApp, kBoot };

struct DelayedAck {
  uint32_t index = 0;  // 1-based ordinal of the write request
  uint32_t ms = 0;
};

struct FailedWrite {
  uint32_t index = 0;  // 1-based ordinal of the write request
  uint16_t status = 0;
};

// A time the device is on the bench: it answers from `fromMs` (since the
// simulator said ready) until before `untilMs` (none: to the end).
struct BenchSpell {
  uint64_t fromMs = 0;
  std::optional<uint64_t> untilMs;
};

struct DeviceConfig {
  SimMode mode = SimMode::kBoot;
  // Type word as sent in a boot search answer. The default is a third
  // generation loader that can verify (bit 7) and reset in the loader (bit 0),
  // so that a bare device exercises the whole update path.
  uint16_t loaderType = 0x0381;
  uint16_t deviceId = 0x0100;
  uint16_t mcuId = 0;
  uint16_t version = 0x0100;
  uint16_t blockSize = 512;
  std::array<uint8_t, 6> mac{};
  std::vector<uint8_t> identity;
  uint16_t bootPort = kBootPortA;
  uint8_t units = 1;
  std::string name = "Simulated device";
  uint16_t appVersion = 0x0100;

  uint32_t bootDelayMs = 1000;
  // A loader that answers searches before it can take blocks: writes that
  // come sooner than this after it entered the loader get no answer.
  uint32_t takesBlocksAfterMs = 0;
  uint32_t ackDelayMs = 0;
  std::vector<uint32_t> dropAcks;
  std::vector<DelayedAck> delayAcks;
  std::vector<FailedWrite> failWrites;
  bool corruptVerifyCrc = false;
  uint16_t verifyStatus = 0;
  bool neverReturn = false;
  // A run request after a write is taken, but the written image does not
  // start: the device answers from its loader again.
  bool imageNeverStarts = false;
  // Where in a written image the version it installs stands (two bytes,
  // big-endian): once such an image runs, the device reports that version
  // as its application's, as a real one would after its update. None: the
  // application's version never changes.
  std::optional<uint32_t> imageVersionAt;
  // The address its loader answers from, where it is not the simulator's:
  // a loader that comes up without the application's address, so that the
  // loaders of devices on addresses of their own share one.
  std::string loaderSource;
  // When the device is there at all; empty: always. Off the bench it hears
  // nothing and sends nothing, and keeps its state (mode, image) for when it
  // is put back.
  std::vector<BenchSpell> onBench;

  bool OnBenchAt(uint64_t sinceReadyMs) const;

  Generation BootGeneration() const { return GenerationOf(loaderType); }
  // What identity-addressed requests carry: the serial number followed by
  // zero bytes up to the full field.
  std::array<uint8_t, kIdentityCapacity> PaddedIdentity() const;
};

struct SimConfig {
  std::vector<DeviceConfig> devices;
};

struct ConfigResult {
  std::optional<SimConfig> config;
  std::string error;  // set when config is empty
};

ConfigResult ParseSimConfig(std::string_view jsonText);
ConfigResult LoadSimConfigFile(const std::string& path);

// Lower-case hexadecimal, two digits per byte, no separators.
std::string HexText(const uint8_t* bytes, size_t count);
inline std::string HexText(const std::vector<uint8_t>& bytes) {
  return HexText(bytes.data(), bytes.size());
}

}  // namespace quorvik
