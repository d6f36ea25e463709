#include "tools/cli/event_output.h"

#include "base/text.h"
#include "devices/device_list.h"
#include "records/journal.h"

#include <algorithm>
#include <cstdint>

namespace quorvik {

namespace {

// Columns a text takes on a terminal, one per code point.
size_t DisplayWidth(std::string_view utf8) {
  return static_cast<size_t>(
      std::count_if(utf8.begin(), utf8.end(), [](char c) { return (c & 0xC0) != 0x80; }));
}

std::string Padded(const std::string& text, size_t width) {
  return text + std::string(width - std::min(width, DisplayWidth(text)), ' ');
}

}  // namespace

std::string Quoted(std::string_view bytes) {
  std::string quoted = "\"";
  for (const char c : Printable(bytes)) {
    if (c == '"' || c == '\\') quoted += '\\';
    quoted += c;
  }
  return quoted + "\"";
}

nlohmann::json DeviceJson(const ListedDevice& d) {
  nlohmann::json row = {{"row", d.row},         {"device", ToUtf8(d.device)},
                        {"version", d.version}, {"serial", d.serial},
                        {"mac", d.mac},         {"mode", d.bootloader ? "boot" : "app"}};
  if (d.twins >= 2) row["twins"] = d.twins;
  if (!d.interface.empty()) row["interface"] = d.interface;
  // Bridged networks, or a misconfigured device: listed once per card.
  if (d.networks >= 2) row["networks"] = d.networks;
  return row;
}

nlohmann::json ToJson(const FlatRecord& record) {
  nlohmann::json object = nlohmann::json::object();
  for (const JsonField& field : record) {
    nlohmann::json& value = object[field.name];
    if (const bool* b = std::get_if<bool>(&field.value))
      value = *b;
    else if (const int64_t* n = std::get_if<int64_t>(&field.value))
      value = *n;
    else if (const std::string* text = std::get_if<std::string>(&field.value))
      value = ToUtf8(*text);
  }
  return object;
}

nlohmann::json DeviceResultJson(const CommandResult& r) {
  nlohmann::json event = {{"event", "device_result"}, {"exit", ExitCodeOf(r.outcome)}};
  event.update(ToJson(ResultFields(r)));
  if (!r.warning.empty()) event["warning"] = ToUtf8(r.warning);
  return event;
}

std::string DeviceTableText(const std::vector<ListedDevice>& devices) {
  // The card's column only where rows come from more than one network.
  const bool cards = std::any_of(devices.begin(), devices.end(),
                                 [](const ListedDevice& d) { return !d.interface.empty(); });
  std::vector<std::vector<std::string>> cells = {
      {"Row", "Device", "Version", "Serial", "MAC", "Mode"}};
  if (cards) cells[0].push_back("Network");
  for (const auto& d : devices) {
    cells.push_back({std::to_string(d.row), Printable(d.device), d.version, d.serial, d.mac,
                     d.bootloader ? "boot" : "app"});
    if (cards)
      cells.back().push_back(d.networks >= 2 ? d.interface + " " + NetworksNote(d.networks)
                                             : d.interface);
  }
  std::vector<size_t> widths(cells[0].size());
  for (const auto& line : cells)
    for (size_t c = 0; c < line.size(); ++c) widths[c] = std::max(widths[c], DisplayWidth(line[c]));
  std::string text;
  for (const auto& line : cells) {
    std::string out;
    for (size_t c = 0; c < line.size(); ++c)
      out += c + 1 < line.size() ? Padded(line[c], widths[c] + 2) : line[c];
    text += out + "\n";
  }
  return text;
}

std::string DeviceResultText(const CommandResult& r) {
  const FlatRecord fields = ResultFields(r);
  const auto text = [&](const char* name) {
    const std::string value = TextOf(fields, name);
    return value.empty() ? std::string("-") : value;
  };
  std::string line = std::string("Result: ") + OutcomeName(r.outcome) + " " +
                     CommandName(r.command) + " device=" + Quoted(r.deviceName) +
                     " serial=" + text("serial") + " mac=" + text("mac") +
                     " reason=" + Quoted(r.reason);
  if (const char* confirmed = ConfirmationName(r.confirmed))
    line += std::string(" confirmed=") + confirmed;
  return line;
}

CEventWriter::CEventWriter(OutputFormat format, std::ostream& out, std::ostream& err, bool terminal)
    : m_format(format), m_out(out), m_err(err), m_terminal(terminal) {}

void CEventWriter::Emit(const nlohmann::json& event) {
  // Every line is flushed: a production line script reacts to each event.
  m_out << event.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) << std::endl;
}

void CEventWriter::TextLine(const std::string& text) {
  const bool redraw = m_barShown;
  EraseBar();
  m_out << text << std::endl;
  if (redraw) DrawBar();
}

void CEventWriter::Event(nlohmann::json event, const std::string& text) {
  if (m_format == OutputFormat::kJson)
    Emit(event);
  else
    TextLine(text);
}

void CEventWriter::Status(const std::string& text, bool beep) {
  Event({{"event", "status"}, {"text", ToUtf8(text)}, {"beep", beep}}, Printable(text));
}

void CEventWriter::Message(const std::string& text) {
  Event({{"event", "message"}, {"text", ToUtf8(text)}}, Printable(text));
}

void CEventWriter::Error(const std::string& text, const std::vector<std::string>& details) {
  if (m_format == OutputFormat::kJson) {
    std::string all = text;
    for (const std::string& detail : details) all += "\n" + detail;
    Emit({{"event", "error"}, {"text", ToUtf8(all)}});
    return;
  }
  EraseBar();
  m_err << "quorvik-cli: " << Printable(text) << std::endl;
  for (const std::string& detail : details)
    m_err << "quorvik-cli: " << Printable(detail) << std::endl;
}

void CEventWriter::Warning(const std::string& text) {
  EraseBar();
  m_err << "quorvik-cli: warning: " << Printable(text) << std::endl;
  if (m_format == OutputFormat::kJson) Emit({{"event", "warning"}, {"text", ToUtf8(text)}});
}

void CEventWriter::Devices(const std::vector<ListedDevice>& devices, bool asTable, int dropped) {
  if (m_format == OutputFormat::kJson) {
    nlohmann::json rows = nlohmann::json::array();
    for (const auto& d : devices) rows.push_back(DeviceJson(d));
    Emit({{"event", "devices"}, {"rows", rows}, {"dropped", dropped}});
  } else if (asTable) {
    std::string table = DeviceTableText(devices);
    table.pop_back();
    TextLine(table);
  }
}

void CEventWriter::Question(const std::string& text, bool answer) {
  if (m_format == OutputFormat::kJson)
    Emit({{"event", "question"}, {"text", ToUtf8(text)}, {"answer", answer}});
}

void CEventWriter::DeviceResultLine(const CommandResult& result) {
  Event(DeviceResultJson(result), DeviceResultText(result));
}

void CEventWriter::ProgressRange(int low, int high) {
  EraseBar();
  m_low = low;
  m_high = high;
  m_pos = low;
  m_reportedTenth = 0;
  m_drawnPercent = -1;
}

void CEventWriter::ProgressPos(int pos) {
  m_pos = pos;
  if (pos <= m_low) {
    EraseBar();
    m_reportedTenth = 0;
    m_drawnPercent = -1;
    return;
  }
  ReportProgress();
}

void CEventWriter::ProgressAdvance() {
  m_pos += m_step;
  ReportProgress();
}

void CEventWriter::ReportProgress() {
  // A write of less than one block has an empty range and one step.
  const int span = m_high - m_low;
  const int percent =
      span <= 0 ? 100 : std::clamp(static_cast<int>((int64_t{m_pos} - m_low) * 100 / span), 0, 100);
  if (m_format == OutputFormat::kText && m_terminal) {
    if (percent != m_drawnPercent) {
      m_drawnPercent = percent;
      DrawBar();
    }
    return;
  }
  // Without a bar, every tenth is one line: a 256 KiB image is not 512 lines.
  const int tenth = percent / 10;
  if (tenth <= m_reportedTenth) return;
  m_reportedTenth = tenth;
  if (m_format == OutputFormat::kJson)
    Emit({{"event", "progress"}, {"pos", m_pos - m_low}, {"max", span}, {"percent", tenth * 10}});
  else
    m_err << "progress " << tenth * 10 << "%" << std::endl;
}

void CEventWriter::DrawBar() {
  constexpr int kWidth = 40;
  const int percent = std::max(m_drawnPercent, 0);
  const int filled = percent * kWidth / 100;
  m_err << "\r[" << std::string(static_cast<size_t>(filled), '#')
        << std::string(static_cast<size_t>(kWidth - filled), '.') << "] " << percent << "%"
        << std::flush;
  m_barShown = true;
}

void CEventWriter::EraseBar() {
  if (!m_barShown) return;
  m_err << "\r\033[K" << std::flush;
  m_barShown = false;
}

void CEventWriter::Close() {
  EraseBar();
}

}  // namespace quorvik
