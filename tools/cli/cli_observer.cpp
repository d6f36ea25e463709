#include "tools/cli/cli_observer.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <iostream>
#include <mutex>

#include "base/text.h"
#include "devices/device_list.h"
#include "net/reply_processing.h"

namespace quorvik {

bool AskOnConsole(CEventWriter& writer, std::istream& answers, const std::string& text,
                  bool assumeYes, const std::function<bool()>& interrupted) {
  bool answer = assumeYes;
  if (!answer) {
    std::cerr << Printable(text) << " [y/N] " << std::flush;
    // A terminal's line can take for ever; Ctrl-C must not.
    if (&answers == &std::cin && interrupted) {
      pollfd in = {STDIN_FILENO, POLLIN, 0};
      while (::poll(&in, 1, 50) == 0 || (in.revents == 0)) {
        if (interrupted()) throw CCommandCancelled{};
      }
      if (interrupted()) throw CCommandCancelled{};
    }
    std::string reply;
    if (std::getline(answers, reply)) {
      std::transform(reply.begin(), reply.end(), reply.begin(),
                     [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
      answer = reply == "y" || reply == "yes";
    } else {
      std::cerr << std::endl;
    }
  }
  writer.Question(text, answer);
  return answer;
}

CCliObserver::CCliObserver(CEventWriter& writer, DeviceSession& devices, std::istream& answers,
                           double timeScale, const CInterrupts& interrupts)
    : m_writer(writer),
      m_devices(devices),
      m_answers(answers),
      m_interrupts(interrupts),
      m_clock(timeScale, interrupts, [this] { Flush(); }) {}

void CCliObserver::Flush() {
  if (!m_held) return;
  const std::string line = std::move(*m_held);
  m_held.reset();
  m_writer.Status(line, false);
}

void CCliObserver::Status(const std::string& line, Beep beep) {
  // Printed before the tone's wait, which is part of the command's timing.
  const std::chrono::milliseconds tone = ShowStatus(line, beep);
  if (tone.count() > 0) m_clock.SleepFor(tone);
}

std::chrono::milliseconds CCliObserver::ShowStatus(const std::string& line, Beep beep) {
  Flush();
  if (beep == Beep::kNone) {
    m_held = line;
    return std::chrono::milliseconds{0};
  }
  m_writer.Status(line, true);
  return kBeepLength;
}

void CCliObserver::Decided(const CommandResult& result) {
  if (m_journal != nullptr) m_journal->OnResult(result);
}

bool CCliObserver::Starting(const CommandResult& result) {
  // Without --no-journal, an update whose start is not on disk does not go
  // on: a kill in its middle would leave a device nobody can find again.
  return m_journal == nullptr || m_journal->OnStarted(result);
}

void CCliObserver::ProgressStart(int steps) {
  Flush();
  m_writer.ProgressRange(0, steps);
  m_writer.ProgressStep(1);
  m_writer.ProgressPos(0);
}

void CCliObserver::ProgressStep() {
  Flush();
  m_writer.ProgressAdvance();
}

void CCliObserver::Inform(const std::string& text) {
  Flush();
  m_writer.Message(text);
}

bool CCliObserver::AskYesNo(const std::string& text) {
  Flush();
  // While the question waits for stdin, an interrupt ends the wait.
  return AskOnConsole(m_writer, m_answers, text, m_assumeYes,
                      [this] { return m_interrupts.Interrupted(); });
}

void CCliObserver::SearchEnded() {
  std::vector<DeviceRow> rows;
  int hidden = 0, dropped = 0;
  {
    std::lock_guard lock(m_devices.deviceMutex);
    rows = BuildDeviceRows(m_devices.deviceTable);
    hidden = m_devices.hiddenCount;
    dropped = m_devices.droppedCount;
    m_listed.records.assign(m_devices.deviceTable.begin(),
                            m_devices.deviceTable.begin() + rows.size());
    m_listed.blackList = m_devices.blackList;
  }
  Flush();
  std::vector<ListedDevice> devices;
  const std::vector<DeviceRecord>& records = m_listed.records;
  for (size_t i = 0; i < rows.size(); ++i)
    devices.push_back({static_cast<int>(i), rows[i].device, rows[i].version, rows[i].serial,
                       rows[i].mac, records[i].loaderType != 0, records[i].twins, rows[i].network,
                       rows[i].networks});
  m_writer.Devices(devices, m_printTable, dropped);
  for (const ListedDevice& d : devices) {
    if (d.twins >= 2)
      m_writer.Warning("row " + std::to_string(d.row) + ": " +
                       TwinRefusalLine(records[static_cast<size_t>(d.row)]));
    if (d.networks >= 2)
      m_writer.Warning("row " + std::to_string(d.row) + " (" + d.interface + "): " + d.serial +
                       " " + d.mac + " answers on " + std::to_string(d.networks) +
                       " networks; they are bridged, or the device is misconfigured");
  }
  if (dropped > 0)
    m_writer.Warning(std::to_string(dropped) +
                     " answer(s) came from devices the list has no room for (it holds " +
                     std::to_string(kDeviceTableCapacity) + "); they are not listed");
  Status(FoundLine(static_cast<int>(rows.size()), hidden), Beep::kNone);
  Flush();
  m_writer.ProgressPos(0);
}

}  // namespace quorvik
