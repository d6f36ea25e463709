#pragma once
// "Roll-call": a panel beside the main window that compares a rig file with
// every Find, in groups that read without colour too (an icon of its own
// shape and a word per group), so that a technician sees at a glance what
// is missing, unexpected or changed before the doors open.

#include <QWidget>
#include <optional>
#include <string>
#include <vector>

#include "app/qt/models/roll_call_model.h"
#include "records/listed_devices.h"
#include "records/rig.h"
#include "records/roll_call.h"

class QLabel;
class QPushButton;
class QTreeView;

namespace quorvik {

class CRollCallPanel : public QWidget {
  Q_OBJECT
 public:
  explicit CRollCallPanel(QWidget* parent = nullptr);

  // Empty when the rig at `path` is loaded; else why not (the rig shown
  // stays).
  std::string LoadRig(const std::string& path);
  // Loads it, or says in a message box why not.
  void LoadRigOrSay(const std::string& path);
  const std::string& rigPath() const { return m_rigPath; }
  // What the last refresh of the main list showed.
  void ShowListed(const ListedDevices& listed);

  QTreeView* tree() const { return m_tree; }
  CRollCallModel* model() const { return m_model; }
  QLabel* summary() const { return m_summary; }

 signals:
  // The operator chose a device that the main list shows, at this row.
  void listedDeviceChosen(int row);

 private:
  void ChooseRig();
  void Refresh();

  CRollCallModel* m_model = nullptr;
  QTreeView* m_tree = nullptr;
  QLabel* m_rigLabel = nullptr;
  QLabel* m_summary = nullptr;
  QPushButton* m_load = nullptr;
  std::optional<Rig> m_rig;
  std::string m_rigPath;
  std::optional<ListedDevices> m_listed;
};

}  // namespace quorvik
