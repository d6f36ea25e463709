#pragma once
// What the main window's logic needs of a window. The toolkit layer
// implements it with widgets; tests implement it with recording fakes. All
// text is 8-bit, passed through as bytes.

#include <optional>
#include <string>
#include <vector>

#include "devices/black_list.h"
#include "devices/device_list.h"

namespace quorvik {

// The file-open dialog for a firmware image: only existing files, one
// filter, no read-only check box.
struct FileDialogRequest {
  std::string proposedPath;  // folder and file name offered first
  std::string defaultExtension;
  std::string filterName;
  std::string filterPattern;
};

// The list's two context menus: "DEVICE" for a bootloader ("Run
// application", "Add to Black-List"), "HIDE" for a running application
// ("Activate bootloader", "Add to Black-List").
enum class ContextMenu { kDevice, kHide };

enum class Button { kFind, kFirmwareUpdate, kFactoryReset };
enum class CheckBox { kUseLastFile, kAndMakeUpdate };

class IMainView {
 public:
  virtual ~IMainView() = default;

  // Device list
  virtual void SetColumns(const std::vector<ListColumn>& columns) = 0;
  virtual void ShowDeviceRows(const std::vector<DeviceRow>& rows) = 0;
  virtual void SelectRow(int row) = 0;  // -1: none
  virtual int SelectedRow() const = 0;  // -1: none

  // Three-line status log, oldest first
  virtual void ShowStatusLines(const std::vector<std::string>& lines) = 0;

  virtual void SetProgressRange(int low, int high) = 0;
  virtual void SetProgressStep(int step) = 0;
  virtual void SetProgressPos(int pos) = 0;
  virtual void StepProgress() = 0;

  virtual bool IsChecked(CheckBox box) const = 0;
  virtual void SetChecked(CheckBox box, bool checked) = 0;
  virtual void EnableButton(Button button, bool enabled) = 0;

  virtual void AddNetworkEntry(const std::string& text) = 0;
  virtual void SelectNetworkEntry(int index) = 0;
  virtual int SelectedNetworkEntry() const = 0;  // -1: none

  // What the count line cannot say, shown beside the list until it changes:
  // answers of devices that found the list full (0: none).
  virtual void ShowDroppedAnswers(int count) = 0;
  // The ports the network could not open, one text each; empty when all
  // are open.
  virtual void ShowPortProblems(const std::vector<std::string>& problems) = 0;

  // Modal boxes
  virtual void ShowMessage(const std::string& text) = 0;
  // One OK button: `text`, and below it the details (the system's words).
  virtual void ShowDetailedMessage(const std::string& text, const std::string& detail) = 0;
  virtual bool AskYesNo(const std::string& text) = 0;
  // The "Device Black-List" dialog, modal; true when it ended with OK.
  virtual bool RunBlackListDialog(CDlgBlacklist& dialog) = 0;
  // Pops up the menu at the pointer; a chosen item arrives as its command.
  virtual void ShowContextMenu(ContextMenu menu) = 0;
  // The confirmed full path, or nothing when the operator cancels.
  virtual std::optional<std::string> ChooseFile(const FileDialogRequest& request) = 0;

  virtual void SetWaitCursor(bool wait) = 0;
  virtual void SetClipboardText(const std::string& text) = 0;
  // Starts a tone; the caller waits its length.
  virtual void PlayTone(int frequencyHz, int durationMs) = 0;
  virtual bool IsCtrlHeld() const = 0;
  virtual void OpenWebAddress(const std::string& url) = 0;
};

}  // namespace quorvik
