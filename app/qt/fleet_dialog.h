#pragma once
// "Application > Update all...": the plan of a fleet update as a table, a
// check box per planned device, and the run that follows Start, device by
// device, with a tally at the end. The dialog only shows and asks; the
// window runs the fleet on its command thread and hands each step in.

#include <QAbstractTableModel>
#include <QDialog>
#include <string>
#include <vector>

#include "commands/command_result.h"
#include "commands/fleet_run.h"

class QLabel;
class QProgressBar;
class QPushButton;
class QSpinBox;
class QTableView;

enum class FleetRowState { kPlanned, kWaiting, kWriting, kOk, kFailed, kSkipped };

// The planned devices first, in the plan's order (row i is planned device
// i), then those the plan skipped.
class CFleetModel : public QAbstractTableModel {
  Q_OBJECT
 public:
  enum Column {
    kDevice,
    kSerial,
    kMac,
    kMode,
    kVersion,
    kSection,
    kBytes,
    kBlocks,
    kEstimate,
    kState,
    kColumns
  };
  enum Role { kStateRole = Qt::UserRole };

  using QAbstractTableModel::QAbstractTableModel;

  void SetPlan(const FleetPlan& plan);
  // Check boxes take no clicks once the run has begun.
  void Lock(bool locked);
  std::vector<size_t> Chosen() const;
  int PlannedCount() const { return m_plannedCount; }

  // Run steps, by planned index.
  void SetState(size_t device, FleetRowState state, std::string reason = {});
  void SetWriting(size_t device, int attempt);
  void SetBlocks(size_t device, uint32_t done, uint32_t total);
  void SetOk(size_t device, Confirmation confirmed);

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  QVariant headerData(int section, Qt::Orientation orientation,
                      int role = Qt::DisplayRole) const override;

 private:
  struct Row {
    FleetDevice device;
    bool checked = true;
    FleetRowState state = FleetRowState::kPlanned;
    std::string reason;
    int attempt = 1;
    uint32_t done = 0, total = 0;
    Confirmation confirmed = Confirmation::kNone;
  };
  QString StateText(const Row& row) const;
  void RowChanged(size_t row);

  std::vector<Row> m_rows;
  int m_plannedCount = 0;
  bool m_locked = false;
};

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
  bool IsRunning() const { return m_running; }

  // A new plan replaces whatever the dialog showed.
  void SetPlan(const FleetPreparation& prepared);
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
  void ApplyButtons();
  void ShowProgress(uint32_t done, uint32_t total);

  CFleetModel* m_model = nullptr;
  QTableView* m_table = nullptr;
  QLabel* m_heading = nullptr;
  QLabel* m_summary = nullptr;
  QProgressBar* m_progress = nullptr;
  QPushButton* m_start = nullptr;
  QPushButton* m_stop = nullptr;
  QPushButton* m_close = nullptr;
  QSpinBox* m_retries = nullptr;
  bool m_running = false;
  bool m_ran = false;
  bool m_stopAsked = false;
  bool m_windowBusy = false;
  int m_finished = 0;  // devices of the run whose turn has ended
};
