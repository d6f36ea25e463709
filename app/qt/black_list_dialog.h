#pragma once
class QWidget;

namespace quorvik {

// "Device Black-List": the hidden devices in a list, the selected one
// deleted by its button, OK to keep what is left. The logic owns the list
// and decides; the dialog only shows it and passes the operator's choices on.

class CDialogUnits;
class CDlgBlacklist;

// Runs the dialog modally over `parent`; true for OK.
bool ExecBlackListDialog(CDlgBlacklist& logic, QWidget* parent, const CDialogUnits& units);

}  // namespace quorvik
