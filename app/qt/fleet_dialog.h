#pragma once
// "Application > Update all...": the plan of a fleet update as a table, a
// check box per planned device, and the run that follows Start, several
// devices at once, with a tally at the end. The dialog only shows and asks;
// the window runs the fleet on its command thread and hands each step in.

#include <QDialog>
#include <map>
#include <vector>

#include "app/qt/models/fleet_model.h"
#include "commands/command_result.h"
#include "commands/fleet_run.h"

class QLabel;
class QProgressBar;
class QPushButton;
class QSpinBox;
class QTableView;

namespace quorvik {

class CWaitsBox;

// What "At once:" offers, and where it starts until the operator has chosen.
constexpr int kMaxAtOnce = 64;
constexpr int kDefaultAtOnce = 8;

class CFleetDialog : public QDialog {
  Q_OBJECT
 public:
  explicit CFleetDialog(QWidget* parent = nullptr);

  CFleetModel* model() const { return m_model; }
  QTableView* table() const { return m_table; }
  QLabel* summary() const { return m_summary; }
  QProgressBar* progress() const { return m_progress; }
  QPushButton* startButton() const { return m_start; }
  QPushButton* stopButton() const { return m_stop; }
  // Further attempts after a device failed (not after a refusal).
  int Retries() const;
  // How many devices are written at once, 1 to kMaxAtOnce.
  int AtOnce() const;
  void SetAtOnce(int atOnce);
  // How many of the first devices go alone before the rest (0: none).
  int Canary() const;
  QSpinBox* atOnceBox() const { return m_atOnce; }
  QSpinBox* canaryBox() const { return m_canary; }
  // How each device's transfer is waited around.
  Waits ChosenWaits() const;
  void SetWaits(const Waits& waits);
  CWaitsBox* waitsBox() const { return m_waits; }
  bool IsRunning() const { return m_running; }
  // The smallest size the plan is of use at, beside the window: every
  // column, and a few rows.
  QSize LeastSize() const { return m_least; }

  // A new plan replaces whatever the dialog showed: one file's, under its
  // name and SHA-256.
  void SetPlan(const FleetPreparation& prepared);
  // A plan whose devices each carry their own file (a rig's declared
  // firmware), under `heading`, which says where the files come from.
  void SetPlan(const FleetPlan& plan, const QString& heading);
  QLabel* heading() const { return m_heading; }
  // The run of the chosen devices begins, steps and ends.
  void Begin(const std::vector<size_t>& chosen);
  void DeviceStarted(size_t device, int attempt);
  void BlocksWritten(size_t device, uint32_t done, uint32_t total);
  void DeviceFinished(size_t device, const CommandResult& result, bool updated);
  void StoppedBeforeTurn(size_t device);
  void Finish(const FleetRunEnd& end);
  // No run starts while the window runs a command of its own.
  void SetWindowBusy(bool busy);

  void reject() override;

 signals:
  void startRequested();
  void stopRequested();

 private:
  // How many devices the plan updates and skips, and how long it takes.
  void ShowPlanSummary();
  void ApplyButtons();
  void ShowProgress();

  CFleetModel* m_model = nullptr;
  QTableView* m_table = nullptr;
  QLabel* m_heading = nullptr;
  QLabel* m_summary = nullptr;
  QProgressBar* m_progress = nullptr;
  QPushButton* m_start = nullptr;
  QPushButton* m_stop = nullptr;
  QPushButton* m_close = nullptr;
  QSpinBox* m_retries = nullptr;
  QSpinBox* m_atOnce = nullptr;
  QSpinBox* m_canary = nullptr;
  CWaitsBox* m_waits = nullptr;
  QSize m_least;
  bool m_running = false;
  bool m_ran = false;
  bool m_stopAsked = false;
  bool m_windowBusy = false;
  int m_finished = 0;  // devices of the run whose turn has ended
  // Steps of the bar each device being written has filled, by device.
  std::map<size_t, int> m_writing;
};

}  // namespace quorvik
