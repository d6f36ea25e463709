#pragma once
// How a lane of the fleet's engine tells the front end what its update does.

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>

#include "commands/clock.h"
#include "commands/command_observer.h"
#include "commands/fleet_run.h"

namespace quorvik {

// What a lane tells the front end goes through one lock: the front end's
// observers serve one thread. Its blocks reach the fleet, by device; the
// front end's one progress bar and wait cursor follow a lane only while it
// is the only one (`alone`), as they follow a one-device update.
class CLaneObserver : public ICommandObserver {
 public:
  CLaneObserver(std::mutex& mutex, ICommandObserver& observer, IFleetObserver& fleet, size_t device,
                bool alone, IClock& clock)
      : m_mutex(mutex),
        m_observer(observer),
        m_fleet(fleet),
        m_device(device),
        m_alone(alone),
        m_clock(clock) {}

  // The tone is waited out with the lock let go: the other lanes' blocks
  // go on meanwhile.
  void Status(const std::string& line, Beep beep) override {
    std::chrono::milliseconds tone{0};
    {
      std::lock_guard lock(m_mutex);
      tone = m_observer.ShowStatus(line, beep);
    }
    if (tone.count() > 0) m_clock.SleepFor(tone);
  }
  void Decided(const CommandResult& result) override {
    std::lock_guard lock(m_mutex);
    m_observer.Decided(result);
  }
  bool Starting(const CommandResult& result) override {
    std::lock_guard lock(m_mutex);
    return m_observer.Starting(result);
  }
  void Busy(bool busy) override {
    if (!m_alone) return;
    std::lock_guard lock(m_mutex);
    m_observer.Busy(busy);
  }
  void ProgressStart(int steps) override {
    if (!m_alone) return;
    std::lock_guard lock(m_mutex);
    m_observer.ProgressStart(steps);
  }
  void ProgressStep() override {
    if (!m_alone) return;
    std::lock_guard lock(m_mutex);
    m_observer.ProgressStep();
  }
  void BlockWritten(uint32_t done, uint32_t total) override {
    std::lock_guard lock(m_mutex);
    m_fleet.OnBlocksWritten(m_device, done, total);
  }
  void Inform(const std::string& text) override {
    std::lock_guard lock(m_mutex);
    m_observer.Inform(text);
  }
  // An unattended run asks nothing, and a lane never searches.
  bool AskYesNo(const std::string&) override { return false; }
  bool SearchStarting() override { return false; }
  void SearchEnded() override {}
  void Addressed(const DeviceRecord& record) override {
    std::lock_guard lock(m_mutex);
    m_observer.Addressed(record);
  }

 private:
  std::mutex& m_mutex;
  ICommandObserver& m_observer;
  IFleetObserver& m_fleet;
  size_t m_device;
  bool m_alone;
  IClock& m_clock;
};

}  // namespace quorvik
