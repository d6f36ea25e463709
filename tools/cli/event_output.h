#pragma once
// Everything quorvik-cli reports, as text for people or as one JSON object
// per line for scripts. stdout carries the report; the progress bar and
// questions go to stderr, so that a script reading stdout never sees them.

#include <nlohmann/json.hpp>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "tools/cli/outcome.h"

enum class OutputFormat { kText, kJson };

struct ListedDevice {
  int row = 0;
  std::string device;
  std::string version;
  std::string serial;
  std::string mac;
  bool bootloader = false;
};

struct DeviceResult {
  std::string command;
  Outcome outcome = Outcome::kSuccess;
  std::string device;
  std::string serial;
  std::string mac;
  std::string reason;
};

// Device names, log lines and paths arrive as bytes. Valid UTF-8 passes
// unchanged; anything else is read as Latin-1, as the window shows it.
std::string ToUtf8(std::string_view bytes);
// As ToUtf8, with control characters shown as '?', so that a device name can
// not move the cursor or recolour a terminal.
std::string Printable(std::string_view bytes);

nlohmann::json DeviceJson(const ListedDevice& device);
nlohmann::json DeviceResultJson(const DeviceResult& result);
std::string DeviceTableText(const std::vector<ListedDevice>& devices);
std::string DeviceResultText(const DeviceResult& result);

class CEventWriter {
 public:
  // `terminal`: stderr is a terminal, so progress is drawn as a bar.
  CEventWriter(OutputFormat format, std::ostream& out, std::ostream& err, bool terminal);

  OutputFormat format() const { return m_format; }
  void Status(const std::string& text, bool beep);
  void Message(const std::string& text);
  void Error(const std::string& text);
  void Devices(const std::vector<ListedDevice>& devices, bool asTable);
  void Question(const std::string& text, bool answer);
  void DeviceResultLine(const DeviceResult& result);
  // Any other event: a JSON object with "event" set, or one text line.
  void Event(nlohmann::json event, const std::string& text);

  // The window's progress bar: a range starts a run, steps move it, a
  // position at the start of the range empties it.
  void ProgressRange(int low, int high);
  void ProgressStep(int step) { m_step = step; }
  void ProgressPos(int pos);
  void ProgressAdvance();
  // Ends a bar left on the terminal before the program exits.
  void Close();

 private:
  void Emit(const nlohmann::json& event);
  void TextLine(const std::string& text);
  void ReportProgress();
  void DrawBar();
  void EraseBar();

  OutputFormat m_format;
  std::ostream& m_out;
  std::ostream& m_err;
  bool m_terminal;
  int m_low = 0, m_high = 0, m_pos = 0, m_step = 1;
  int m_reportedTenth = -1;
  int m_drawnPercent = -1;
  bool m_barShown = false;
};
