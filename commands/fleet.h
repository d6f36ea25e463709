#pragma once
// Updating every device of a rig to one file: a plan made from one search,
// then one update after another, each device found again by what tells it
// apart, never by its place in the list. Nothing here guesses which device
// is which: a device that cannot be told apart from another is skipped.

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "commands/readiness.h"
#include "net/device_record.h"

namespace quorvik {

struct FleetDevice {
  DeviceRecord record;  // as the planning search listed it
  std::string name;     // as the list showed it
  // A running device reports no model code, MCU or block size until it
  // restarts: its section, bytes and blocks are unknown in the plan.
  std::optional<uint8_t> section;
  std::optional<uint32_t> bytes;
  std::optional<uint32_t> blocks;
  // The blocks its estimate counts: its own, or for a running device the
  // file's largest section in blocks of 512.
  uint32_t estimateBlocks = 0;
  // For the waits the plan was made for (EstimateMs tells it for others).
  int64_t estimateMs = 0;
  std::string reason;  // why it is skipped; empty for a planned device
  // A file of its own (a rig's declared firmware for its model), read for
  // the plan; none: the run's file.
  std::string path;
  std::shared_ptr<const std::vector<uint8_t>> file;
  // The version its file is declared to install: once it runs again, it
  // must report this one, or its update failed.
  std::optional<uint16_t> installs;
};

struct FleetPlan {
  std::vector<FleetDevice> planned;
  std::vector<FleetDevice> skipped;
};

struct FleetFilter {
  std::vector<uint16_t> models;  // model codes to update; empty: every model
};

// The per-block cost that estimates assume besides the protocol's pause: a
// device's typical reply time.
constexpr int64_t kAssumedReplyMs = 5;
// With the waits until ready, how long estimates take a device to answer
// after the restart request (from its loader) and after the run request
// (from its application). Assumed, not known: a device that takes longer
// makes its update that much longer, up to the fixed pauses as limits.
constexpr int64_t kAssumedBootMs = 1000;

// The plan for the records of one search (in table order; unit records are
// no devices of their own), for the file's bytes (already checked whole),
// its estimates for `waits`.
FleetPlan PlanFleet(std::span<const DeviceRecord> listed, std::span<const uint8_t> file,
                    const FleetFilter& filter = {}, const Waits& waits = {});
// The plan's entry for the listed device at `row` alone: planned, or
// skipped with its reason.
FleetDevice PlanFleetDevice(std::span<const DeviceRecord> listed, size_t row,
                            std::span<const uint8_t> file, const FleetFilter& filter = {},
                            const Waits& waits = {});
// Why the listed device at `row` cannot be told apart from the others
// ("ambiguous: ..."), or nothing.
std::optional<std::string> FleetAmbiguity(std::span<const DeviceRecord> listed, size_t row);

// A planned device's estimate for `waits`.
int64_t EstimateMs(const FleetDevice& device, const Waits& waits);

// The rows of `listed` that are the planned device: its hardware address
// where it has a real one, else its serial.
std::vector<int> FindAgain(std::span<const DeviceRecord> listed, const DeviceRecord& planned);

// The protocol's waits for one device's update, its search included, plus
// blocks x (reply time + the 10 ms pause): what an update cannot take less
// than with the fixed pauses (the default). With the waits until ready,
// what it takes when the device answers kAssumedBootMs after each request.
int64_t UpdateFloorMs(bool fromApplication, uint32_t blocks, bool verifies, int64_t replyMs,
                      const Waits& waits = {});

struct FleetTally {
  int planned = 0;
  int updated = 0;
  int failed = 0;
  int skipped = 0;     // left out by the plan, or not chosen
  int running = 0;     // updated and confirmed running by the search after
  int notStarted = 0;  // chosen, but a stop came before their turn
};

}  // namespace quorvik
