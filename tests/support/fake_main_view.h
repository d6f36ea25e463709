#pragma once
// A window that records what the logic does to it, as readable event lines
// and as current state, and a clock that only counts.

#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/main_view.h"
#include "commands/clock.h"
#include "commands/command_result.h"
#include "commands/network.h"

namespace quorvik {

class CFakeMainView : public IMainView {
 public:
  void SetColumns(const std::vector<ListColumn>& c) override;
  void ShowDeviceRows(const std::vector<DeviceRow>& r) override;
  void SelectRow(int row) override;
  int SelectedRow() const override { return selectedRow; }
  void ShowStatusLines(const std::vector<std::string>& lines) override;
  void SetProgressRange(int low, int high) override;
  void SetProgressStep(int step) override;
  void SetProgressPos(int pos) override;
  void StepProgress() override;
  bool IsChecked(CheckBox box) const override;
  void SetChecked(CheckBox box, bool checked) override;
  void EnableButton(Button button, bool enabled) override;
  void AddNetworkEntry(const std::string& text) override;
  void SelectNetworkEntry(int index) override;
  int SelectedNetworkEntry() const override { return selectedEntry; }
  void ShowDroppedAnswers(int count) override;
  void ShowPortProblems(const std::vector<std::string>& problems) override;
  void ShowMessage(const std::string& text) override;
  void ShowDetailedMessage(const std::string& text, const std::string& detail) override;
  bool AskYesNo(const std::string& text) override;
  std::optional<std::string> ChooseFile(const FileDialogRequest& request) override;
  bool RunBlackListDialog(CDlgBlacklist& dialog) override;
  void ShowContextMenu(ContextMenu menu) override;
  void SetWaitCursor(bool wait) override;
  void SetClipboardText(const std::string& text) override;
  void PlayTone(int frequencyHz, int durationMs) override;
  bool IsCtrlHeld() const override { return ctrlHeld; }
  void OpenWebAddress(const std::string& url) override;

  // Events of a kind, in order: every event line starting with `prefix`.
  std::vector<std::string> EventsStartingWith(const std::string& prefix) const;

  std::vector<std::string> events;
  std::vector<ListColumn> columns;
  std::vector<DeviceRow> rows;
  std::vector<std::string> statusLines;
  std::vector<std::string> networkEntries;
  std::map<Button, bool> buttons;
  std::map<CheckBox, bool> checks;
  int selectedRow = -1;
  int selectedEntry = -1;
  int droppedAnswers = 0;
  std::vector<std::string> portProblems;
  int progressPos = 0;
  int progressSteps = 0;
  bool waitCursor = false;
  bool ctrlHeld = false;
  bool yesNoAnswer = false;
  std::string clipboard;
  std::optional<std::string> chosenFile;  // what the file dialog returns
  // Plays the operator in the black-list dialog; returns the OK result.
  std::function<bool(CDlgBlacklist&)> onBlackListDialog;
  FileDialogRequest lastFileRequest;
};

// Counts virtual time; `onSleep` lets a test act while the logic waits, as
// devices answering during a search wait would.
// Shared by a station's batch and the thread that hears its bench: one wait
// passes at a time.
class CVirtualClock : public IClock {
 public:
  void SleepFor(std::chrono::milliseconds duration) override;
  bool Interrupted() const override {
    std::lock_guard lock(m_waiting);
    return interrupted;
  }
  std::chrono::milliseconds elapsed{0};
  // Set by a test to play the program being told to stop; the next wait
  // then throws as a cancelled one does.
  bool interrupted = false;
  std::function<void(std::chrono::milliseconds)> onSleep;

 private:
  mutable std::recursive_mutex m_waiting;
};

struct WriteCall {
  DeviceRecord device;
  uint32_t offset;
  std::vector<uint8_t> block;
  uint32_t sectionLength;
  uint16_t sectionParam;
  int tries;
};

// Real waits, shortened by a factor, for tests over real sockets.
class CScaledClock : public IClock {
 public:
  explicit CScaledClock(int divisor) : m_divisor(divisor) {}
  void SleepFor(std::chrono::milliseconds d) override {
    std::this_thread::sleep_for(d / m_divisor);
  }

 private:
  int m_divisor;
};

// Plays the network: a chosen interface list and open result; searches are
// recorded and may run `onSearch`, typically to feed answers to the table.
// Writes are acknowledged unless `onWrite` says otherwise; verification
// answers with the checksum of the blocks written unless `onVerify` is set.
class CFakeNetwork : public INetwork {
 public:
  DeviceSession& Devices() override { return devices; }
  InterfaceList EnumerateInterfaces() override;
  bool OpenNetwork(const std::string& dotted) override;
  std::vector<PortProblem> PortProblems() override { return portProblems; }
  bool RequestBootSearch() override;
  bool RequestAppSearch() override;
  bool RequestEnterBootloader(const DeviceRecord& record) override;
  ReplyOutcome RequestWriteBlock(const DeviceRecord& record, uint32_t blockOffset,
                                 std::span<const uint8_t> block, uint32_t sectionLength,
                                 uint16_t sectionParam, int tries) override;
  bool RequestVerify(const DeviceRecord& record, uint16_t& value, uint16_t& status) override;
  bool RequestRunApplication(const DeviceRecord& record) override;
  bool RequestFactoryReset(const DeviceRecord& record) override;

  // Everything played and recorded back to how it was built, the table
  // and black-list emptied.
  void Reset();
  // The blocks written so far, laid end to end.
  std::vector<uint8_t> WrittenImage() const;

  std::vector<WriteCall> writes;
  std::vector<DeviceRecord> factoryResets;
  std::function<bool(const WriteCall&)> onWrite;
  std::function<bool(uint16_t& value, uint16_t& status)> onVerify;
  std::function<void(const DeviceRecord&)> onEnterBootloader;
  std::function<void(const DeviceRecord&)> onRun;
  uint16_t replyStatus = 0;  // what a write that is not acknowledged reports

  std::vector<Ipv4Address> addresses;
  bool openSucceeds = true;
  std::vector<PortProblem> portProblems;
  std::vector<std::string> calls;
  std::function<void(bool boot)> onSearch;
  // What the played searches' answers fill.
  DeviceSession devices;

 private:
  // A station hears the bench from a thread of its own while its lanes
  // write: one call is played at a time, as a network takes them.
  std::recursive_mutex m_played;
};

// Keeps every result the logic hands out.
class CRecordedResults : public IResultSink {
 public:
  void OnResult(const CommandResult& result) override { results.push_back(result); }
  const CommandResult& last() const { return results.back(); }
  std::vector<CommandResult> results;
};

}  // namespace quorvik
