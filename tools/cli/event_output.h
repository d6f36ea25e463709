#pragma once
// Everything quorvik-cli reports, as text for people or as one JSON object
// per line for scripts. stdout carries the report; the progress bar and
// questions go to stderr, so that a script reading stdout never sees them.

#include <nlohmann/json.hpp>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "commands/command_result.h"
#include "records/flat_json.h"

namespace quorvik {

enum class OutputFormat { kText, kJson };

struct ListedDevice {
  int row = 0;
  std::string device;
  std::string version;
  std::string serial;
  std::string mac;
  bool bootloader = false;
  int twins = 0;  // devices answering as this serial, when more than one
  // With every network open: the card's address, and on how many cards the
  // device answered (see DeviceRow).
  std::string interface;
  int networks = 0;
};

// Device names, log lines and paths arrive as bytes: see Printable
// (records/flat_json.h) for how a terminal line shows them.
// A value of a text line between double quotes, Printable, with the quotes
// and backslashes inside it escaped, so that the line still parses into
// its fields whatever a device calls itself.
std::string Quoted(std::string_view bytes);

nlohmann::json ToJson(const FlatRecord& record);
nlohmann::json DeviceJson(const ListedDevice& device);
// The `device_result` event: the journal's fields of the result.
nlohmann::json DeviceResultJson(const CommandResult& result);
std::string DeviceTableText(const std::vector<ListedDevice>& devices);
std::string DeviceResultText(const CommandResult& result);

class CEventWriter {
 public:
  // `terminal`: stderr is a terminal, so progress is drawn as a bar.
  CEventWriter(OutputFormat format, std::ostream& out, std::ostream& err, bool terminal);

  OutputFormat format() const { return m_format; }
  void Status(const std::string& text, bool beep);
  void Message(const std::string& text);
  // `details`, each on a line of its own on a terminal; one event with JSON.
  void Error(const std::string& text, const std::vector<std::string>& details = {});
  // Always a line on stderr; with --json also a `warning` event.
  void Warning(const std::string& text);
  // `dropped`: answers of devices the list had no room for.
  void Devices(const std::vector<ListedDevice>& devices, bool asTable, int dropped = 0);
  void Question(const std::string& text, bool answer);
  void DeviceResultLine(const CommandResult& result);
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

}  // namespace quorvik
