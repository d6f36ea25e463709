#pragma once
// The window as a console: what the logic shows goes to a CEventWriter,
// what it asks of the operator comes from the command line (or, for the
// Yes/No question, from stdin).

#include <functional>
#include <istream>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "app/main_view.h"
#include "net/device_record.h"
#include "tools/cli/event_output.h"

class CConsoleView : public IMainView {
 public:
  CConsoleView(CEventWriter& writer, std::istream& answers)
      : m_writer(writer), m_answers(answers) {}

  // What the command line fixed in advance.
  void SetChosenFile(std::optional<std::string> path) { m_chosenFile = std::move(path); }
  void SetAssumeYes(bool yes) { m_assumeYes = yes; }
  // `list` shows the table in text; the other commands only log.
  void SetPrintTable(bool print) { m_printTable = print; }
  // While the question waits for stdin, an interrupt ends the wait.
  std::function<bool()> interrupted;

  // A status line is held until the next call shows whether a tone follows
  // it; whoever waits or ends calls this first.
  void Flush();

  // The records behind the rows last shown, row i being record i.
  const std::vector<DeviceRecord>& records() const { return m_records; }
  const std::vector<ListedDevice>& devices() const { return m_devices; }
  bool ButtonEnabled(Button button) const;
  std::optional<ContextMenu> lastContextMenu() const { return m_lastMenu; }

  void SetColumns(const std::vector<ListColumn>&) override {}
  void ShowDeviceRows(const std::vector<DeviceRow>& rows) override;
  void SelectRow(int row) override { m_selectedRow = row; }
  int SelectedRow() const override { return m_selectedRow; }
  void ShowStatusLines(const std::vector<std::string>& lines) override;
  void SetProgressRange(int low, int high) override;
  void SetProgressStep(int step) override;
  void SetProgressPos(int pos) override;
  void StepProgress() override;
  bool IsChecked(CheckBox box) const override;
  void SetChecked(CheckBox box, bool checked) override { m_checks[box] = checked; }
  void EnableButton(Button button, bool enabled) override { m_buttons[button] = enabled; }
  void AddNetworkEntry(const std::string&) override {}
  void SelectNetworkEntry(int index) override { m_selectedEntry = index; }
  int SelectedNetworkEntry() const override { return m_selectedEntry; }
  void ShowDroppedAnswers(int count) override;
  void ShowPortProblems(const std::vector<std::string>&) override {}
  void ShowMessage(const std::string& text) override;
  void ShowDetailedMessage(const std::string& text, const std::string& detail) override;
  bool AskYesNo(const std::string& text) override;
  bool RunBlackListDialog(CDlgBlacklist&) override { return false; }
  void ShowContextMenu(ContextMenu menu) override { m_lastMenu = menu; }
  std::optional<std::string> ChooseFile(const FileDialogRequest&) override;
  void SetWaitCursor(bool) override {}
  void SetClipboardText(const std::string&) override {}
  void PlayTone(int frequencyHz, int durationMs) override;
  // No key can be held down on a command line, so the Ctrl-only message
  // boxes of the update never appear.
  bool IsCtrlHeld() const override { return false; }
  void OpenWebAddress(const std::string&) override {}

 private:
  void Emit(const std::string& line, bool beep);

  CEventWriter& m_writer;
  std::istream& m_answers;
  std::optional<std::string> m_chosenFile;
  bool m_assumeYes = false;
  bool m_printTable = false;
  std::optional<std::string> m_pendingStatus;
  std::vector<DeviceRecord> m_records;
  std::vector<ListedDevice> m_devices;
  int m_selectedRow = -1;
  std::map<CheckBox, bool> m_checks;
  std::map<Button, bool> m_buttons;
  int m_selectedEntry = -1;
  std::optional<ContextMenu> m_lastMenu;
  int m_dropped = 0;
};
