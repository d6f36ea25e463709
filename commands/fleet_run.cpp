#include "commands/fleet_run.h"

#include <algorithm>
#include <chrono>
#include <mutex>

#include "app/main_view.h"
#include "app/quorvik_dlg.h"
#include "commands/firmware_file.h"
#include "net/reply_processing.h"

void IFleetObserver::OnDeviceStarted(size_t, int) {}
void IFleetObserver::OnBlocksWritten(size_t, uint32_t, uint32_t) {}
void IFleetObserver::OnDeviceFinished(size_t, const CommandResult&, bool) {}
void IFleetObserver::OnDeviceNotReached(size_t, const CommandResult&) {}
void IFleetObserver::OnStoppedBeforeTurn(size_t) {}

namespace {

// Keeps the last result an update hands out, and hands every one on to the
// sink that was there before, for as long as the run lasts.
class CResultCapture : public IResultSink {
 public:
  explicit CResultCapture(CQuorvikDlg& dlg) : m_dlg(dlg), m_next(dlg.resultSink()) {
    m_dlg.SetResultSink(this);
  }
  ~CResultCapture() override { m_dlg.SetResultSink(m_next); }
  CResultCapture(const CResultCapture&) = delete;
  CResultCapture& operator=(const CResultCapture&) = delete;

  void OnResult(const CommandResult& result) override {
    last = result;
    if (m_next != nullptr) m_next->OnResult(result);
  }
  std::optional<CommandResult> last;

 private:
  CQuorvikDlg& m_dlg;
  IResultSink* m_next;
};

// Passes the blocks of the device being written to the observer, and
// leaves the dialog's own block handler as it found it.
class CBlockRelay {
 public:
  CBlockRelay(CQuorvikDlg& dlg, IFleetObserver& observer, const size_t& device)
      : m_dlg(dlg), m_saved(std::move(dlg.onBlockWritten)) {
    m_dlg.onBlockWritten = [this, &observer, &device](uint32_t done, uint32_t total) {
      if (m_saved) m_saved(done, total);
      observer.OnBlocksWritten(device, done, total);
    };
  }
  ~CBlockRelay() { m_dlg.onBlockWritten = std::move(m_saved); }
  CBlockRelay(const CBlockRelay&) = delete;
  CBlockRelay& operator=(const CBlockRelay&) = delete;

 private:
  CQuorvikDlg& m_dlg;
  std::function<void(uint32_t, uint32_t)> m_saved;
};

// A result for a device that the run could not even reach.
CommandResult Unreached(const FleetDevice& d, std::string reason) {
  CommandResult r;
  r.command = CommandKind::kUpdate;
  r.outcome = Outcome::kFailed;
  r.reason = std::move(reason);
  r.deviceName = d.name;
  r.device = r.addressed = d.record;
  r.started = std::chrono::system_clock::now();
  return r;
}

}  // namespace

std::string FleetTallyText(const FleetTally& tally) {
  return "Summary: " + std::to_string(tally.planned) + " planned, " +
         std::to_string(tally.updated) + " updated, " + std::to_string(tally.failed) + " failed, " +
         std::to_string(tally.skipped) + " skipped, " + std::to_string(tally.running) +
         " confirmed running";
}

std::vector<DeviceRecord> ListedRecords(const CQuorvikDlg& dlg) {
  std::lock_guard lock(g_deviceMutex);
  const size_t rows = std::min<size_t>(std::max(dlg.rowCount(), 0), g_deviceTable.size());
  return {g_deviceTable.begin(), g_deviceTable.begin() + static_cast<std::ptrdiff_t>(rows)};
}

FleetRunEnd RunFleetUpdate(CQuorvikDlg& dlg, const FleetPlan& plan, const FleetRunOptions& options,
                           IFleetObserver& observer) {
  FleetRunEnd end;
  FleetTally& tally = end.tally;
  tally.planned = static_cast<int>(options.chosen.size());
  tally.skipped =
      static_cast<int>(plan.skipped.size() + plan.planned.size() - options.chosen.size());
  CResultCapture capture(dlg);
  size_t current = 0;  // the plan's index of the device whose turn it is
  CBlockRelay relay(dlg, observer, current);
  size_t next = 0;
  try {
    for (; next < options.chosen.size(); ++next) {
      if (options.stopAfterDevice && options.stopAfterDevice()) {
        end.stopped = true;
        break;
      }
      current = options.chosen[next];
      const FleetDevice& device = plan.planned.at(current);
      bool updated = false;
      for (int attempt = 0; attempt <= options.retries; ++attempt) {
        capture.last.reset();
        observer.OnDeviceStarted(current, attempt + 1);
        // Found again in the list of the search that closed the previous
        // update; once more with a search of its own when it is not there.
        std::vector<int> rows = FindAgain(ListedRecords(dlg), device.record);
        if (rows.empty()) {
          dlg.FindDevices();
          rows = FindAgain(ListedRecords(dlg), device.record);
        }
        if (rows.size() != 1) {
          observer.OnDeviceNotReached(
              current,
              Unreached(device, rows.empty() ? "not found again before its update"
                                             : "ambiguous: " + std::to_string(rows.size()) +
                                                   " listed devices answer to it now"));
          break;
        }
        dlg.UpdateRowWith(rows[0], options.path, options.bytes);
        if (!capture.last) {
          observer.OnDeviceFinished(current, Unreached(device, "the update gave no result"), false);
          break;
        }
        const CommandResult& result = *capture.last;
        const bool last = attempt == options.retries;
        if (result.outcome == Outcome::kOk) {
          updated = true;
          if (result.confirmed == Confirmation::kRunning) ++tally.running;
          observer.OnDeviceFinished(current, result, true);
          break;
        }
        // A refusal is the file's or the loader's answer: trying again gives
        // the same.
        if (result.outcome != Outcome::kFailed || last) {
          observer.OnDeviceFinished(current, result, false);
          break;
        }
      }
      ++(updated ? tally.updated : tally.failed);
    }
  } catch (const CCommandCancelled&) {
    end.interrupted = true;
    ++tally.failed;  // the device being written when the run was told to stop
    ++next;
    observer.OnDeviceFinished(
        current, capture.last ? *capture.last : Unreached(plan.planned.at(current), "Interrupted"),
        false);
  }
  // Devices that a stop left out are counted as skipped.
  for (size_t i = next; i < options.chosen.size(); ++i) {
    ++tally.skipped;
    --tally.planned;
    observer.OnStoppedBeforeTurn(options.chosen[i]);
  }
  return end;
}

std::optional<FleetPreparation> PrepareFleet(CQuorvikDlg& dlg, IMainView& view) {
  const std::optional<std::string> path = dlg.SelectFirmwareFile();
  if (!path) return std::nullopt;
  // Read once: the plan and every device's update see the same bytes,
  // whatever happens to the file on disk meanwhile.
  FirmwareFileRead file = ReadFirmwareFile(*path);
  if (file.verdict) {
    view.SetWaitCursor(false);
    dlg.AddStatusLine(FirmwareVerdictLine(*file.verdict), 1);
    return std::nullopt;
  }
  dlg.FindDevices();
  FleetPreparation prepared;
  prepared.path = *path;
  prepared.plan = PlanFleet(ListedRecords(dlg), file.bytes);
  prepared.bytes = std::make_shared<const std::vector<uint8_t>>(std::move(file.bytes));
  return prepared;
}
