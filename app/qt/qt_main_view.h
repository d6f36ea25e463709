#pragma once
// The main window's widgets, as the logic's IMainView.
//
// The logic runs on the command thread (CCommandRunner) while this window
// keeps painting, so every IMainView call may come from that thread:
// - what changes the screen is queued to the window thread, in call order;
// - what the logic reads (selected row and entry, check boxes, Ctrl) is
//   answered from a copy kept under a lock, which the window thread updates
//   on every user change and which each queued change updates at call time,
//   so that the logic reads back what it has just set;
// - modal boxes and the file dialog run on the window thread while the
//   command thread waits for the answer; closing the window ends that wait
//   with the cautious answer (OK, No, cancelled).
// Nothing waits on the window thread, so closing the window can always wait
// for the command thread.
//
// qt_main_view.cpp builds the widgets; qt_main_view_calls.cpp answers the
// logic; qt_main_view_input.cpp keeps the busy state, the keyboard and
// closing.

#include <QHash>
#include <QMainWindow>
#include <QPointer>
#include <QWindow>
#include <array>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

#include "app/main_view.h"
#include "app/qt/dialog_units.h"
#include "app/qt/gui_thread_bridge.h"

class QAction;
class QCheckBox;
class QComboBox;
class QLabel;
class QListWidget;
class QMenu;
class QMessageBox;
class QProgressBar;
class QPushButton;
class QTreeWidget;

namespace quorvik {

class CTonePlayer;

constexpr const char* kMessageBoxTitle = "Quorvik";

class CQtMainView : public QMainWindow, public IMainView {
  Q_OBJECT
 public:
  explicit CQtMainView(QWidget* parent = nullptr);
  ~CQtMainView() override;

  void SetColumns(const std::vector<ListColumn>& columns) override;
  void ShowDeviceRows(const std::vector<DeviceRow>& rows) override;
  void SelectRow(int row) override;
  int SelectedRow() const override;
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
  int SelectedNetworkEntry() const override;
  void ShowDroppedAnswers(int count) override;
  void ShowPortProblems(const std::vector<std::string>& problems) override;
  void ShowMessage(const std::string& text) override;
  void ShowDetailedMessage(const std::string& text, const std::string& detail) override;
  bool AskYesNo(const std::string& text) override;
  bool RunBlackListDialog(CDlgBlacklist& dialog) override;
  void ShowContextMenu(ContextMenu menu) override;
  std::optional<std::string> ChooseFile(const FileDialogRequest& request) override;
  void SetWaitCursor(bool wait) override;
  void SetClipboardText(const std::string& text) override;
  void PlayTone(int frequencyHz, int durationMs) override;
  bool IsCtrlHeld() const override;
  void OpenWebAddress(const std::string& url) override;

  // Window thread. While a command runs, buttons, list, combo and menus take
  // no input and the wait cursor shows; the check boxes stay live so that an
  // operator can stop an update chain. Closing the window asks first unless
  // the command leaves nothing half-done when it is ended.
  void SetBusy(bool busy, bool askBeforeClosing = true);
  bool IsBusy() const { return m_busy; }
  // Ctrl as it was at the input that starts a command.
  void NoteModifiers(Qt::KeyboardModifiers modifiers);
  // Any thread. Ends every wait for a modal answer, now and from now on.
  void CancelModalRequests();
  // Runs on the window thread when the window closes, before it goes.
  void SetCloseHandler(std::function<void()> handler) { m_closeHandler = std::move(handler); }

  QPushButton* button(Button button) const;
  QPushButton* testButton() const { return m_test; }
  QCheckBox* checkBox(CheckBox box) const;
  QTreeWidget* deviceList() const { return m_deviceList; }
  QListWidget* statusLog() const { return m_statusLog; }
  QProgressBar* progressBar() const { return m_progress; }
  QComboBox* networkCombo() const { return m_networkCombo; }
  QLabel* webLink() const { return m_webLink; }
  // The line under the window that says what the count line cannot.
  // Beside the notice while the list is empty after a search.
  QPushButton* networkCheckOffer() const { return m_checkOffer; }
  // "2 devices were left half-updated:" and its "Recover..." button, under
  // the window while such devices answer; hidden for 0.
  void ShowHalfUpdated(int count);
  QLabel* halfUpdatedLine() const { return m_halfUpdated; }
  QPushButton* recoverOffer() const { return m_recoverOffer; }
  QMenu* applicationMenu() const { return m_applicationMenu; }
  QMenu* helpMenu() const { return m_helpMenu; }
  QAction* showBlackListAction() const { return m_showBlackList; }
  // Enabled while the list shows devices.
  QAction* updateAllAction() const { return m_updateAll; }
  QAction* historyAction() const { return m_history; }
  QAction* saveRigAction() const { return m_saveRig; }
  QAction* rollCallAction() const { return m_rollCall; }
  QAction* stationAction() const { return m_station; }
  QAction* networkCheckAction() const { return m_networkCheck; }
  QAction* aboutAction() const { return m_about; }
  // The items of the list's context menus.
  QAction* runApplicationAction() const { return m_runApplication; }
  QAction* activateBootloaderAction() const { return m_activateBootloader; }
  QAction* addToBlackListAction() const { return m_addToBlackList; }
  const CDialogUnits& dialogUnits() const { return m_units; }

 public slots:
  void ShowAboutBox();

 signals:
  void webLinkClicked();
  // Mouse on the device list, sent once the list has applied the click to
  // its selection.
  void deviceListClicked();
  void deviceListDoubleClicked();
  void deviceListRightClicked();
  // Help > Network check..., or the offer beside the notice.
  void networkCheckRequested();
  // "Recover..." beside the half-updated line.
  void recoverRequested();
  void busyChanged(bool busy);

 protected:
  void closeEvent(QCloseEvent* event) override;
  void changeEvent(QEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // The rows' cells: device, version, serial, MAC, and the network while
  // all networks are chosen.
  static constexpr int kSerialColumn = 2;
  static constexpr int kNetworkColumnIndex = 4;
  static int Index(Button button) { return static_cast<int>(button); }
  static int Index(CheckBox box) { return static_cast<int>(box); }

  struct Mirror {
    int selectedRow = -1;
    int selectedEntry = -1;
    std::array<bool, 2> checks{};
    bool ctrlHeld = false;
  };

  void BuildControls();
  void BuildMenus();
  void ApplyInputState();
  // The columns at the list's present width: as drawn at the drawn size.
  void FitColumns();
  void ShowNotice();
  // Puts the keyboard back where a command found it, once the window has it.
  void ReturnFocus();
  // A box or panel of the program that had the keyboard has closed: `to`,
  // the window that had it before (or this one), takes it, unless a window
  // manager has already handed it on.
  void HandKeyboardBack(QWindow* to);

  CDialogUnits m_units;
  // Every IMainView call from the command thread goes through it.
  CGuiThreadBridge m_gui;
  int m_listDrawnWidth = 0;
  std::vector<int> m_drawnColumnWidths;
  QTreeWidget* m_deviceList = nullptr;
  QPushButton* m_find = nullptr;
  QPushButton* m_firmwareUpdate = nullptr;
  QPushButton* m_factoryReset = nullptr;
  QPushButton* m_test = nullptr;
  QListWidget* m_statusLog = nullptr;
  QLabel* m_webLink = nullptr;
  QProgressBar* m_progress = nullptr;
  QCheckBox* m_useLastFile = nullptr;
  QCheckBox* m_andMakeUpdate = nullptr;
  QComboBox* m_networkCombo = nullptr;
  QLabel* m_notice = nullptr;
  QPushButton* m_checkOffer = nullptr;
  QLabel* m_halfUpdated = nullptr;
  QPushButton* m_recoverOffer = nullptr;
  QMenu* m_applicationMenu = nullptr;
  QMenu* m_helpMenu = nullptr;
  QAction* m_showBlackList = nullptr;
  QAction* m_updateAll = nullptr;
  QAction* m_history = nullptr;
  QAction* m_saveRig = nullptr;
  QAction* m_rollCall = nullptr;
  QAction* m_station = nullptr;
  QAction* m_networkCheck = nullptr;
  QAction* m_about = nullptr;
  QAction* m_runApplication = nullptr;
  QAction* m_activateBootloader = nullptr;
  QAction* m_addToBlackList = nullptr;
  CTonePlayer* m_tones = nullptr;  // made on the first tone

  // Window thread only.
  bool m_busy = false;
  // Where the keyboard was when the command started: it goes back there.
  QPointer<QWidget> m_focusBeforeCommand;
  QPointer<QWidget> m_focusToReturn;
  // Which window had the keyboard when each open box or panel showed.
  QHash<QObject*, QPointer<QWindow>> m_keyboardBefore;
  bool m_closeConfirmed = false;
  // The close box's question while it is up; withdrawn when the command ends.
  QPointer<QMessageBox> m_closeQuestion;
  bool m_closeQuestionWithdrawn = false;
  bool m_askBeforeClosing = true;
  // The next context menu opens at the selected row (keyboard), not at
  // the pointer.
  bool m_menuAtSelection = false;
  int m_droppedAnswers = 0;
  std::vector<std::string> m_portProblems;
  bool m_logicWaitCursor = false;
  int m_progressStep = 1;
  std::array<bool, 3> m_buttonAllowed{true, true, false};  // by the logic, per Button
  std::function<void()> m_closeHandler;

  mutable std::mutex m_mirrorMutex;
  Mirror m_mirror;
};

}  // namespace quorvik
