// The Find command: empty the table, search, wait while the receivers
// collect, and show what answered.

#include "app/quorvik_dlg.h"
#include "devices/device_identity.h"
#include "net/reply_processing.h"

void CQuorvikDlg::RunProgress(std::chrono::milliseconds step) {
  m_view.SetProgressRange(0, kSearchSteps);
  m_view.SetProgressStep(1);
  m_view.SetProgressPos(0);
  for (int i = 0; i < kSearchSteps; ++i) {
    m_view.StepProgress();
    m_clock.SleepFor(step);
  }
}

bool CQuorvikDlg::FindDevices() {
  ReadCheckBoxes();
  m_view.SetWaitCursor(true);
  // A port that another program held may be free by now.
  if (m_networkIncomplete && !m_openAddress.empty()) OpenNetworkOn(m_openAddress, false);
  {
    std::lock_guard lock(g_deviceMutex);
    ClearDeviceTable(g_deviceTable);
    g_hiddenCount = 0;
    g_droppedCount = 0;
  }
  m_network.RequestBootSearch();
  // While serial numbers are collected only bootloaders are searched.
  if (!m_serialMode) m_network.RequestAppSearch();
  RunProgress(kSearchStepWait);
  if (m_pendingUpdate) ConfirmPendingUpdate();
  RefreshDeviceList();
  if (m_workedOn) SelectWorkedOnRow();
  m_view.SetProgressPos(0);
  m_view.SetWaitCursor(false);
  return m_andMakeUpdate != 0 && m_rowCount == 1;
}

void CQuorvikDlg::SelectWorkedOnRow() {
  std::optional<DeviceRecord> record;
  int row = 0;
  {
    std::lock_guard lock(g_deviceMutex);
    for (const int used = CountUsedRecords(g_deviceTable); row < used; ++row)
      if (SameDevice(g_deviceTable[row], *m_workedOn)) {
        record = g_deviceTable[row];
        break;
      }
  }
  // Row 0 is already selected by the refresh.
  if (!record || row == 0) return;
  m_view.SelectRow(row);
  SetDeviceButtons(record);
}

void CQuorvikDlg::OnFind() {
  // Find and the update call each other for as long as one device answers
  // with "... and make Update" set; a loop keeps the stack flat however long
  // the chain runs.
  Guarded([this] {
    while (FindDevices() && UpdateBeforeFind()) {
    }
  });
  m_workedOn.reset();
}
