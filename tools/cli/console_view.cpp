#include "tools/cli/console_view.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <iostream>
#include <mutex>

#include "commands/clock.h"
#include "net/reply_processing.h"

void CConsoleView::Emit(const std::string& line, bool beep) {
  m_writer.Status(line, beep);
}

void CConsoleView::Flush() {
  if (!m_pendingStatus) return;
  const std::string line = std::move(*m_pendingStatus);
  m_pendingStatus.reset();
  Emit(line, false);
}

void CConsoleView::ShowStatusLines(const std::vector<std::string>& lines) {
  Flush();
  // The log shows its last three lines; the newest is the one just added.
  if (!lines.empty()) m_pendingStatus = lines.back();
}

void CConsoleView::PlayTone(int, int) {
  if (!m_pendingStatus) return;
  const std::string line = std::move(*m_pendingStatus);
  m_pendingStatus.reset();
  Emit(line, true);
}

void CConsoleView::ShowDeviceRows(const std::vector<DeviceRow>& rows) {
  Flush();
  m_records.clear();
  m_devices.clear();
  {
    // Rows were built from the table's first records; late answers may
    // only have appended since.
    std::lock_guard lock(g_deviceMutex);
    for (size_t i = 0; i < rows.size() && i < g_deviceTable.size(); ++i)
      m_records.push_back(g_deviceTable[i]);
  }
  for (size_t i = 0; i < rows.size() && i < m_records.size(); ++i)
    m_devices.push_back({static_cast<int>(i), rows[i].device, rows[i].version, rows[i].serial,
                         rows[i].mac, m_records[i].loaderType != 0, m_records[i].twins});
  m_writer.Devices(m_devices, m_printTable, m_dropped);
  for (const ListedDevice& d : m_devices)
    if (d.twins >= 2)
      m_writer.Warning("row " + std::to_string(d.row) + ": " +
                       TwinRefusalLine(m_records[static_cast<size_t>(d.row)]));
  if (m_dropped > 0)
    m_writer.Warning(std::to_string(m_dropped) +
                     " answer(s) came from devices the list has no room for (it holds " +
                     std::to_string(kDeviceTableCapacity) + "); they are not listed");
}

void CConsoleView::ShowDroppedAnswers(int count) {
  m_dropped = count;
}

void CConsoleView::SetProgressRange(int low, int high) {
  Flush();
  m_writer.ProgressRange(low, high);
}

void CConsoleView::SetProgressStep(int step) {
  m_writer.ProgressStep(step);
}

void CConsoleView::SetProgressPos(int pos) {
  Flush();
  m_writer.ProgressPos(pos);
}

void CConsoleView::StepProgress() {
  Flush();
  m_writer.ProgressAdvance();
}

bool CConsoleView::IsChecked(CheckBox box) const {
  const auto found = m_checks.find(box);
  return found != m_checks.end() && found->second;
}

bool CConsoleView::ButtonEnabled(Button button) const {
  const auto found = m_buttons.find(button);
  return found != m_buttons.end() && found->second;
}

void CConsoleView::ShowMessage(const std::string& text) {
  Flush();
  m_writer.Message(text);
}

void CConsoleView::ShowDetailedMessage(const std::string& text, const std::string& detail) {
  Flush();
  m_writer.Message(text + (detail.empty() ? "" : "\n" + detail));
}

bool CConsoleView::AskYesNo(const std::string& text) {
  Flush();
  bool answer = m_assumeYes;
  if (!answer) {
    // Asked on stderr so that stdout stays the report; no answer (end of
    // input) is No, as closing the box would be.
    std::cerr << Printable(text) << " [y/N] " << std::flush;
    // A terminal's line can take for ever; Ctrl-C must not.
    if (&m_answers == &std::cin && interrupted) {
      pollfd in = {STDIN_FILENO, POLLIN, 0};
      while (::poll(&in, 1, 50) == 0 || (in.revents == 0)) {
        if (interrupted()) throw CCommandCancelled{};
      }
      if (interrupted()) throw CCommandCancelled{};
    }
    std::string reply;
    if (std::getline(m_answers, reply)) {
      std::transform(reply.begin(), reply.end(), reply.begin(),
                     [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
      answer = reply == "y" || reply == "yes";
    } else {
      std::cerr << std::endl;
    }
  }
  m_writer.Question(text, answer);
  return answer;
}

std::optional<std::string> CConsoleView::ChooseFile(const FileDialogRequest&) {
  Flush();
  return m_chosenFile;
}
