#include "tests/support/fake_main_view.h"

#include "net/frames.h"
#include "net/reply_processing.h"

namespace quorvik {

namespace {
const char* Name(Button b) {
  switch (b) {
    case Button::kFind:
      return "Find";
    case Button::kFirmwareUpdate:
      return "Firmware-Update";
    case Button::kFactoryReset:
      return "Factory reset";
  }
  return "?";
}
}  // namespace

void CFakeMainView::SetColumns(const std::vector<ListColumn>& c) {
  columns = c;
  events.push_back("columns " + std::to_string(c.size()));
}

void CFakeMainView::ShowDeviceRows(const std::vector<DeviceRow>& r) {
  rows = r;
  selectedRow = -1;
  events.push_back("rows " + std::to_string(r.size()));
}

void CFakeMainView::SelectRow(int row) {
  selectedRow = row;
  events.push_back("select " + std::to_string(row));
}

void CFakeMainView::ShowStatusLines(const std::vector<std::string>& lines) {
  statusLines = lines;
  events.push_back("log " + (lines.empty() ? std::string() : lines.back()));
}

void CFakeMainView::SetProgressRange(int low, int high) {
  events.push_back("progress range " + std::to_string(low) + ".." + std::to_string(high));
}

void CFakeMainView::SetProgressStep(int step) {
  events.push_back("progress step " + std::to_string(step));
}

void CFakeMainView::SetProgressPos(int pos) {
  progressPos = pos;
  events.push_back("progress pos " + std::to_string(pos));
}

void CFakeMainView::StepProgress() {
  ++progressPos;
  ++progressSteps;
}

bool CFakeMainView::IsChecked(CheckBox box) const {
  auto it = checks.find(box);
  return it != checks.end() && it->second;
}

void CFakeMainView::SetChecked(CheckBox box, bool checked) {
  checks[box] = checked;
}

void CFakeMainView::EnableButton(Button button, bool enabled) {
  buttons[button] = enabled;
  events.push_back(std::string("button ") + Name(button) + (enabled ? " on" : " off"));
}

void CFakeMainView::AddNetworkEntry(const std::string& text) {
  networkEntries.push_back(text);
  events.push_back("combo add " + text);
}

void CFakeMainView::SelectNetworkEntry(int index) {
  selectedEntry = index;
  events.push_back("combo select " + std::to_string(index));
}

void CFakeMainView::ShowDroppedAnswers(int count) {
  droppedAnswers = count;
  if (count != 0) events.push_back("dropped " + std::to_string(count));
}

void CFakeMainView::ShowPortProblems(const std::vector<std::string>& problems) {
  portProblems = problems;
  for (const auto& p : problems) events.push_back("port problem " + p);
}

void CFakeMainView::ShowMessage(const std::string& text) {
  events.push_back("message " + text);
}

void CFakeMainView::ShowDetailedMessage(const std::string& text, const std::string& detail) {
  events.push_back("message " + text + " | " + detail);
}

bool CFakeMainView::AskYesNo(const std::string& text) {
  events.push_back("question " + text);
  return yesNoAnswer;
}

std::optional<std::string> CFakeMainView::ChooseFile(const FileDialogRequest& request) {
  lastFileRequest = request;
  events.push_back("file dialog " + request.proposedPath);
  return chosenFile;
}

bool CFakeMainView::RunBlackListDialog(CDlgBlacklist& dialog) {
  events.push_back("black-list dialog");
  return onBlackListDialog ? onBlackListDialog(dialog) : false;
}

void CFakeMainView::ShowContextMenu(ContextMenu menu) {
  events.push_back(menu == ContextMenu::kDevice ? "menu DEVICE" : "menu HIDE");
}

void CFakeMainView::SetWaitCursor(bool wait) {
  waitCursor = wait;
  events.push_back(wait ? "cursor wait" : "cursor arrow");
}

void CFakeMainView::SetClipboardText(const std::string& text) {
  clipboard = text;
  events.push_back("clipboard " + text);
}

void CFakeMainView::PlayTone(int frequencyHz, int durationMs) {
  events.push_back("tone " + std::to_string(frequencyHz) + "Hz " + std::to_string(durationMs) +
                   "ms");
}

void CFakeMainView::OpenWebAddress(const std::string& url) {
  events.push_back("web " + url);
}

std::vector<std::string> CFakeMainView::EventsStartingWith(const std::string& prefix) const {
  std::vector<std::string> out;
  for (const auto& e : events)
    if (e.rfind(prefix, 0) == 0) out.push_back(e);
  return out;
}

void CVirtualClock::SleepFor(std::chrono::milliseconds duration) {
  std::lock_guard lock(m_waiting);
  if (interrupted) throw CCommandCancelled{};
  elapsed += duration;
  if (onSleep) onSleep(duration);
  if (interrupted) throw CCommandCancelled{};
}

InterfaceList CFakeNetwork::EnumerateInterfaces() {
  calls.push_back("enumerate");
  InterfaceList list;
  for (const auto& a : addresses)
    if (list.count < kMaxInterfaces) list.addresses[list.count++] = a;
  return list;
}

bool CFakeNetwork::OpenNetwork(const std::string& dotted) {
  std::lock_guard played(m_played);
  calls.push_back("open " + dotted);
  // Like the real one: the table is emptied whatever the outcome.
  std::lock_guard lock(devices.deviceMutex);
  ClearDeviceTable(devices.deviceTable);
  return openSucceeds;
}

void CFakeNetwork::Reset() {
  writes.clear();
  factoryResets.clear();
  onWrite = nullptr;
  onVerify = nullptr;
  onEnterBootloader = nullptr;
  onRun = nullptr;
  replyStatus = 0;
  addresses.clear();
  openSucceeds = true;
  portProblems.clear();
  calls.clear();
  onSearch = nullptr;
  devices.EmptyTable();
  std::lock_guard lock(devices.deviceMutex);
  devices.blackList.clear();
}

bool CFakeNetwork::RequestBootSearch() {
  std::lock_guard played(m_played);
  calls.push_back("boot search");
  if (onSearch) onSearch(true);
  return true;
}

bool CFakeNetwork::RequestAppSearch() {
  std::lock_guard played(m_played);
  calls.push_back("app search");
  if (onSearch) onSearch(false);
  return true;
}

bool CFakeNetwork::RequestEnterBootloader(const DeviceRecord& record) {
  std::lock_guard played(m_played);
  calls.push_back("enter bootloader");
  if (onEnterBootloader) onEnterBootloader(record);
  return true;
}

ReplyOutcome CFakeNetwork::RequestWriteBlock(const DeviceRecord& record, uint32_t blockOffset,
                                             std::span<const uint8_t> block, uint32_t sectionLength,
                                             uint16_t sectionParam, int tries) {
  std::lock_guard played(m_played);
  writes.push_back(
      {record, blockOffset, {block.begin(), block.end()}, sectionLength, sectionParam, tries});
  return {onWrite ? onWrite(writes.back()) : true, replyStatus};
}

bool CFakeNetwork::RequestVerify(const DeviceRecord&, uint16_t& value, uint16_t& status) {
  std::lock_guard played(m_played);
  calls.push_back("verify");
  if (onVerify) return onVerify(value, status);
  value = ComputeImageCrc(WrittenImage());
  status = 0;
  return true;
}

bool CFakeNetwork::RequestRunApplication(const DeviceRecord& record) {
  std::lock_guard played(m_played);
  calls.push_back("run");
  if (onRun) onRun(record);
  return true;
}

std::vector<uint8_t> CFakeNetwork::WrittenImage() const {
  std::vector<uint8_t> image;
  for (const WriteCall& w : writes) {
    if (image.size() < w.offset + w.block.size()) image.resize(w.offset + w.block.size(), 0xFF);
    std::copy(w.block.begin(), w.block.end(), image.begin() + w.offset);
  }
  return image;
}

bool CFakeNetwork::RequestFactoryReset(const DeviceRecord& record) {
  std::lock_guard played(m_played);
  calls.push_back("factory reset");
  factoryResets.push_back(record);
  return true;
}

}  // namespace quorvik
