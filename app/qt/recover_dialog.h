#pragma once
// "Recover": the devices an update left half-written, each with its serial,
// model, file and when its update began; for the chosen one, the same file
// written again (only while it is there as it was) or its application
// started.

#include <QDialog>
#include <vector>

#include "commands/readiness.h"
#include "records/recovery.h"

class QLabel;
class QPushButton;
class QTableView;

namespace quorvik {

class CRecoverModel;
class CWaitsBox;

class CRecoverDialog : public QDialog {
  Q_OBJECT
 public:
  explicit CRecoverDialog(QWidget* parent = nullptr);

  void SetDevices(std::vector<UnfinishedUpdate> devices);
  // While a command runs, nothing more is asked of the devices.
  void SetWindowBusy(bool busy);

  CRecoverModel* model() const { return m_model; }
  QTableView* table() const { return m_table; }
  QLabel* note() const { return m_note; }
  QPushButton* writeButton() const { return m_write; }
  QPushButton* runButton() const { return m_run; }
  // How the write waits for the device to start again.
  Waits ChosenWaits() const;
  void SetWaits(const Waits& waits);
  CWaitsBox* waitsBox() const { return m_waits; }
  // Every column whole: the smallest width it is of use at beside the
  // window.
  QSize LeastSize() const { return m_least; }

 signals:
  // The device of the model's row gets the same file again.
  void writeAgainRequested(const UnfinishedUpdate& device);
  // The device of the model's row starts its application as it is.
  void runRequested(const UnfinishedUpdate& device);

 private:
  int SelectedRow() const;
  void UpdateButtons();

  CRecoverModel* m_model = nullptr;
  QTableView* m_table = nullptr;
  QLabel* m_note = nullptr;
  QPushButton* m_write = nullptr;
  QPushButton* m_run = nullptr;
  CWaitsBox* m_waits = nullptr;
  bool m_busy = false;
  QSize m_least;
};

}  // namespace quorvik
