#pragma once
// "Roll-call": a panel beside the main window that compares a rig file with
// every Find, in groups that read without colour too (an icon of its own
// shape and a word per group), so that a technician sees at a glance what
// is missing, unexpected or changed before the doors open.

#include <QAbstractItemModel>
#include <QIcon>
#include <QWidget>
#include <array>
#include <optional>
#include <string>
#include <vector>

#include "records/listed_devices.h"
#include "records/rig.h"
#include "records/roll_call.h"

class QLabel;
class QPushButton;
class QTreeView;

// The group's icon: a shape and a mark of its own for each status.
QIcon RollCallIcon(RollCallStatus status);

// The five groups as top rows, in kRollCallStatuses order, each holding
// its devices.
class CRollCallModel : public QAbstractItemModel {
  Q_OBJECT
 public:
  enum Column { kLabel, kLocation, kDevice, kVersion, kMode, kSerial, kMac, kColumnCount };
  // The main list's row of a device line; -1 when it is not listed.
  static constexpr int kRowRole = Qt::UserRole;

  explicit CRollCallModel(QObject* parent = nullptr);
  void SetRollCall(RollCall call);
  QModelIndex GroupIndex(RollCallStatus status) const;

  QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
  QModelIndex parent(const QModelIndex& child) const override;
  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation,
                      int role = Qt::DisplayRole) const override;

 private:
  std::array<std::vector<RollCallLine>, kRollCallStatuses.size()> m_groups;
  // Drawn once: a view asks for them on every paint.
  std::array<QIcon, kRollCallStatuses.size()> m_icons;
};

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
