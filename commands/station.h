#pragma once
// The station: a production bench that updates every unit put on it with
// one file. It searches again and again, also while a batch of units is
// written; each unit that answers and fits the file is queued and updated
// in the next batch, up to K at once, by the fleet's waves (the same frames
// as a one-device update). A unit is done when its update ends, whatever
// the outcome, and is worked on again only once it has been missing from
// two searches in a row and comes back: a unit put back after a failure is
// tried again, one left standing is not, and one that passed is left alone
// unless the station is told to flash such units again. quorvik-cli and the
// window drive it alike; what happens reaches them as values through
// IStationObserver, one call at a time.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "commands/clock.h"
#include "commands/command_observer.h"
#include "commands/command_result.h"
#include "commands/network.h"
#include "commands/readiness.h"
#include "net/device_record.h"

namespace quorvik {

// A unit as the station first saw it in its current stay on the bench.
struct StationUnit {
  DeviceRecord record;
  // Fixed for the stay, so that every line about the unit names it alike
  // (a running device reports fewer serial bytes than its loader): its
  // serial in hex, or its hardware address where it has no serial.
  std::string serial;
  // The model code; none while it runs its application (only its loader
  // reports it).
  std::optional<uint16_t> model;
  std::string name;
  // How many units answer as it: more than one share its serial.
  int units = 1;
};

// Told one call at a time, from the thread that runs the station, the
// lanes of a batch and the thread that hears the bench while a batch runs.
class IStationObserver {
 public:
  virtual ~IStationObserver() = default;
  // The network is open and the first search begins.
  virtual void OnReady();
  // A unit that fits the file, queued: its update follows in the next
  // batch.
  virtual void OnFound(const StationUnit& unit);
  // How far its write is: at most once per StationOptions::writingInterval.
  virtual void OnWriting(const StationUnit& unit, uint32_t done, uint32_t total);
  // Its update ended: ok is PASS, anything else FAIL with result.reason.
  // Told when it ends, while other units may still be written.
  virtual void OnDone(const StationUnit& unit, const CommandResult& result);
  // A unit the station leaves alone, and why: told once a stay.
  virtual void OnIgnored(const StationUnit& unit, const std::string& why);
  // Missing from two searches in a row: its stay has ended.
  virtual void OnGone(const StationUnit& unit);
};

// Units, not updates: a unit updated twice counts once, by its last end.
struct StationTally {
  int ok = 0;
  int failed = 0;
  int ignored = 0;
  std::chrono::milliseconds elapsed{0};  // since ready
  // From the first unit found to the last unit's end, once a unit ended:
  // the pace of production, which the time before the first unit is put
  // down and after the last is taken away says nothing of.
  std::chrono::milliseconds producing{0};
  // Units done (ok or failed) an hour at this pace (over `producing` where
  // known, else `elapsed`); 0 before a second has passed.
  int PerHour() const;
};

struct StationOptions {
  std::string path;
  // The file as read once: every unit gets these very bytes.
  std::shared_ptr<const std::vector<uint8_t>> bytes;
  // Model codes the station accepts; empty: every model the file fits.
  std::vector<uint16_t> models;
  int parallel = 1;
  // End after the first batch of units is done.
  bool once = false;
  // Units the journal shows done with this file before.
  std::function<bool(const DeviceRecord&)> doneBefore;
  // Flash units done with this file before (by the journal or in this run)
  // again; without it they are ignored, so that a re-seated cable does not
  // mean a rewrite.
  bool again = false;
  // Around each unit's transfer.
  Waits waits;
  // Asked before each search and each unit: true ends the station after
  // the units being written.
  std::function<bool()> stop;
  std::chrono::milliseconds writingInterval{1000};
};

struct StationEnd {
  StationTally tally;
  // A wait was cut short while units were written (a second Ctrl-C, the
  // window closed): those units count as failed.
  bool interrupted = false;
};

// "ignored: model 0x3681 not chosen" etc. come from the plan; these are the
// station's own reasons.
constexpr const char* kDoneBeforeReason = "done with this file before";

StationEnd RunStation(const StationOptions& options, INetwork& network, IClock& clock,
                      ICommandObserver& observer, IStationObserver& station);

// Which units are on the bench, and which of them the station may work on.
// Each search's list goes in; a unit is known by SameDevice across its
// modes.
class CStationUnits {
 public:
  struct Unit {
    StationUnit unit;
    bool done = false;
    bool ignored = false;       // told as ignored in this stay
    bool ignoredTwins = false;  // ignored because another unit shares its serial
    bool queued = false;        // told as found; its batch has not begun
    bool busy = false;          // in the batch being written
    int missed = 0;             // searches in a row that did not list it
  };
  // The units of one search (unit records and free records left out):
  // each unit missing from two searches in a row is gone (returned), and
  // one that comes back after that begins a new stay. A unit being written
  // is not looked for: it is silent while it restarts.
  std::vector<StationUnit> Searched(std::span<const DeviceRecord> listed);
  // The unit a listed record is, when listed by the last search.
  Unit* Find(const DeviceRecord& record);

 private:
  std::vector<Unit> m_units;
};

// The unit's serial as the station's lines show it.
std::string StationSerial(const DeviceRecord& record);

// Whether two records are one unit of the bench. Units that share a serial
// are one record whose hardware address is whichever answered last: they
// are known by the serial, so that they stay one unit.
bool SameStationUnit(const DeviceRecord& a, const DeviceRecord& b);

}  // namespace quorvik
