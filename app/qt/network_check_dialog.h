#pragma once
// "Help > Network check...": why devices might not answer, one line per
// finding with what to do, as quorvik-cli doctor prints them. The dialog
// only shows findings; the window runs the check on its command thread and
// hands them in as they are made.

#include <QDialog>

#include "app/qt/models/network_check_model.h"
#include "diagnostics/network_check.h"

class QLabel;
class QListView;
class QPushButton;

namespace quorvik {

class CNetworkCheckDialog : public QDialog {
  Q_OBJECT
 public:
  explicit CNetworkCheckDialog(QWidget* parent = nullptr);

  CNetworkCheckModel* model() const { return m_model; }
  QListView* list() const { return m_list; }
  QLabel* summary() const { return m_summary; }
  QPushButton* runAgainButton() const { return m_runAgain; }
  bool IsRunning() const { return m_running; }

  // A run starts, makes findings, and ends; `complete` is false when it
  // was stopped before its last finding.
  void Begin();
  void Add(const CheckResult& result);
  void Finish(bool complete);
  // No new run while the window runs a command of its own.
  void SetWindowBusy(bool busy);

 signals:
  void runRequested();

 private:
  void ApplyRunButton();

  CNetworkCheckModel* m_model = nullptr;
  QListView* m_list = nullptr;
  QLabel* m_summary = nullptr;
  QPushButton* m_runAgain = nullptr;
  bool m_running = false;
  bool m_windowBusy = false;
};

}  // namespace quorvik
