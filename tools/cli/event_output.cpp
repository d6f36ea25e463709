#include "tools/cli/event_output.h"

#include <algorithm>
#include <cstdint>

namespace {

// Length of the UTF-8 sequence starting at `at`, or 0 when it is not one.
size_t Utf8SequenceLength(std::string_view text, size_t at) {
  const auto byte = [&](size_t i) { return static_cast<uint8_t>(text[i]); };
  const uint8_t lead = byte(at);
  size_t length = 0;
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF)
    length = 2;
  else if (lead >= 0xE0 && lead <= 0xEF)
    length = 3;
  else if (lead >= 0xF0 && lead <= 0xF4)
    length = 4;
  else
    return 0;
  if (at + length > text.size()) return 0;
  for (size_t i = 1; i < length; ++i)
    if ((byte(at + i) & 0xC0) != 0x80) return 0;
  // Overlong forms, surrogates and code points past U+10FFFF.
  if (lead == 0xE0 && byte(at + 1) < 0xA0) return 0;
  if (lead == 0xED && byte(at + 1) > 0x9F) return 0;
  if (lead == 0xF0 && byte(at + 1) < 0x90) return 0;
  if (lead == 0xF4 && byte(at + 1) > 0x8F) return 0;
  return length;
}

bool IsUtf8(std::string_view text) {
  for (size_t i = 0; i < text.size();) {
    const size_t length = Utf8SequenceLength(text, i);
    if (length == 0) return false;
    i += length;
  }
  return true;
}

// Columns a text takes on a terminal, one per code point.
size_t DisplayWidth(std::string_view utf8) {
  return static_cast<size_t>(
      std::count_if(utf8.begin(), utf8.end(), [](char c) { return (c & 0xC0) != 0x80; }));
}

std::string Padded(const std::string& text, size_t width) {
  return text + std::string(width - std::min(width, DisplayWidth(text)), ' ');
}

std::string Quoted(const std::string& text) {
  return "\"" + Printable(text) + "\"";
}

}  // namespace

std::string ToUtf8(std::string_view bytes) {
  if (IsUtf8(bytes)) return std::string(bytes);
  std::string text;
  for (char c : bytes) {
    const auto b = static_cast<uint8_t>(c);
    if (b < 0x80) {
      text += c;
    } else {
      text += static_cast<char>(0xC0 | b >> 6);
      text += static_cast<char>(0x80 | (b & 0x3F));
    }
  }
  return text;
}

std::string Printable(std::string_view bytes) {
  std::string text = ToUtf8(bytes);
  for (size_t i = 0; i < text.size(); ++i) {
    const auto b = static_cast<uint8_t>(text[i]);
    if (b < 0x20 || b == 0x7F) text[i] = '?';
    // C1 controls, U+0080 to U+009F, are as able to steer a terminal.
    if (b == 0xC2 && i + 1 < text.size() && static_cast<uint8_t>(text[i + 1]) <= 0x9F)
      text.replace(i, 2, "?");
  }
  return text;
}

nlohmann::json DeviceJson(const ListedDevice& d) {
  return {{"row", d.row},         {"device", ToUtf8(d.device)},
          {"version", d.version}, {"serial", d.serial},
          {"mac", d.mac},         {"mode", d.bootloader ? "boot" : "app"}};
}

nlohmann::json DeviceResultJson(const DeviceResult& r) {
  return {{"event", "device_result"},
          {"command", r.command},
          {"outcome", OutcomeName(r.outcome)},
          {"exit", static_cast<int>(r.outcome)},
          {"device", ToUtf8(r.device)},
          {"serial", r.serial},
          {"mac", r.mac},
          {"reason", ToUtf8(r.reason)}};
}

std::string DeviceTableText(const std::vector<ListedDevice>& devices) {
  std::vector<std::array<std::string, 6>> cells = {
      {"Row", "Device", "Version", "Serial", "MAC", "Mode"}};
  for (const auto& d : devices)
    cells.push_back({std::to_string(d.row), Printable(d.device), d.version, d.serial, d.mac,
                     d.bootloader ? "boot" : "app"});
  std::array<size_t, 6> widths{};
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

std::string DeviceResultText(const DeviceResult& r) {
  return std::string("Result: ") + OutcomeName(r.outcome) + " " + r.command +
         " device=" + Quoted(r.device) + " serial=" + r.serial + " mac=" + r.mac +
         " reason=" + Quoted(r.reason);
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

void CEventWriter::Error(const std::string& text) {
  if (m_format == OutputFormat::kJson) {
    Emit({{"event", "error"}, {"text", ToUtf8(text)}});
    return;
  }
  EraseBar();
  m_err << "quorvik-cli: " << Printable(text) << std::endl;
}

void CEventWriter::Devices(const std::vector<ListedDevice>& devices, bool asTable) {
  if (m_format == OutputFormat::kJson) {
    nlohmann::json rows = nlohmann::json::array();
    for (const auto& d : devices) rows.push_back(DeviceJson(d));
    Emit({{"event", "devices"}, {"rows", rows}});
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

void CEventWriter::DeviceResultLine(const DeviceResult& result) {
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
