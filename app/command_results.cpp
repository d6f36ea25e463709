// How the window's commands hand out their results: begun with the selected
// device, decided where the status line is logged, and for an update that
// started the device, completed by the search that follows it.

#include "app/quorvik_dlg.h"
#include "devices/device_identity.h"
#include "devices/device_list.h"
#include "net/reply_processing.h"

CommandResult& CQuorvikDlg::BeginResult(CommandKind kind, const DeviceRecord& device) {
  m_running.emplace();
  m_running->command = kind;
  m_running->device = m_running->addressed = device;
  m_running->deviceName = ListName(device);
  m_running->started = std::chrono::system_clock::now();
  return *m_running;
}

void CQuorvikDlg::HandOut(CommandResult result, const std::string& line, int beep) {
  result.duration = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::system_clock::now() - result.started);
  // On disk before the operator reads the line that ends the command.
  if (m_journal != nullptr) m_journal->OnResult(result);
  if (!line.empty()) AddStatusLine(line, beep);
  if (m_results != nullptr) m_results->OnResult(result);
}

void CQuorvikDlg::Decide(Outcome outcome, const std::string& line, int beep, std::string reason) {
  CommandResult result = std::move(*m_running);
  m_running.reset();
  result.outcome = outcome;
  result.statusLine = line;
  result.reason = reason.empty() ? line : std::move(reason);
  HandOut(std::move(result), line, beep);
}

void CQuorvikDlg::NoDeviceResult(CommandKind kind, const std::string& line) {
  CommandResult result;
  result.command = kind;
  result.outcome = Outcome::kNoDevice;
  result.statusLine = line;
  result.reason = line.empty() ? "No device selected" : line;
  result.started = std::chrono::system_clock::now();
  HandOut(std::move(result));
}

void CQuorvikDlg::ConfirmPendingUpdate() {
  CommandResult result = std::move(*m_pendingUpdate);
  m_pendingUpdate.reset();
  // The device's fate, from this search's answers: running its application,
  // back in its loader (the new image did not start), or not heard at all.
  result.confirmed = Confirmation::kSilent;
  {
    std::lock_guard lock(g_deviceMutex);
    for (int i = 0, used = CountUsedRecords(g_deviceTable); i < used; ++i) {
      if (!SameDevice(g_deviceTable[i], result.addressed)) continue;
      const bool running = g_deviceTable[i].loaderType == 0;
      result.confirmed = running ? Confirmation::kRunning : Confirmation::kInLoader;
      if (running) break;
    }
  }
  if (result.confirmed == Confirmation::kInLoader) {
    result.outcome = Outcome::kFailed;
    result.reason = kStillInLoaderReason;
  }
  HandOut(std::move(result));
}

void CQuorvikDlg::ReportInterruption() {
  m_workedOn.reset();
  // An update that had started the device is complete; only the search
  // that would have confirmed it is missing.
  if (m_pendingUpdate) {
    CommandResult done = std::move(*m_pendingUpdate);
    m_pendingUpdate.reset();
    HandOut(std::move(done));
  }
  if (!m_running) return;
  CommandResult result = std::move(*m_running);
  m_running.reset();
  result.outcome = Outcome::kInterrupted;
  result.reason = "Interrupted";
  if (result.update && result.update->blocks > 0)
    result.reason += " after " + std::to_string(result.update->blocks) + " block(s) written";
  if (result.frameSent && result.command != CommandKind::kReset)
    result.reason += "; the device may be left in its bootloader";
  HandOut(std::move(result));
}
