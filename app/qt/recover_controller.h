#pragma once
// Devices left half-updated: looked for in the journal after the first
// search, and after every later one while any was found or the recover
// dialog is open; said under the list, and handled in the dialog beside
// the window.

#include <QPointer>
#include <optional>
#include <string>
#include <vector>

#include "app/qt/recover_dialog.h"
#include "records/listed_devices.h"
#include "records/recovery.h"

namespace quorvik {

class CWindowCommands;

class CRecoverController {
 public:
  // `listed` is the window's last refresh of the list.
  CRecoverController(CWindowCommands& commands, const std::optional<ListedDevices>& listed,
                     std::string journalPath)
      : m_commands(commands), m_listed(listed), m_journalPath(std::move(journalPath)) {}

  // "Recover...": the devices left half-updated, beside the window; a new
  // dialog shows once the waits of the last recovery have been read, on
  // the command thread, as soon as it is free.
  void Open();
  CRecoverDialog* dialog() const { return m_dialog; }
  // The devices that answer in their loader and whose last journal line is
  // an unfinished start.
  void LookForHalfUpdated();

 private:
  // `waits` are those of a dialog made now; one already open keeps what
  // the operator set in it.
  void Show(const Waits& waits);
  // The listed row of a half-updated device now (in its loader), or -1.
  int ListedLoaderRow(const UnfinishedUpdate& device) const;
  void WriteSameFileAgain(const UnfinishedUpdate& device);
  void RunHalfUpdated(const UnfinishedUpdate& device);

  CWindowCommands& m_commands;
  const std::optional<ListedDevices>& m_listed;
  const std::string m_journalPath;
  bool m_looked = false;
  std::vector<UnfinishedUpdate> m_halfUpdated;
  QPointer<CRecoverDialog> m_dialog;
};

}  // namespace quorvik
