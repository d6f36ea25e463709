#include "app/qt/history_controller.h"

#include "app/qt/history_dialog.h"
#include "app/qt/side_dialog.h"

namespace quorvik {

void OpenHistory(CQtMainView& window, const std::string& journalPath) {
  QPointer<CHistoryDialog> history;
  SideDialogSteps<CHistoryDialog> steps;
  steps.bringForward = false;
  OpenSideDialog(history, window, steps, journalPath);
}

}  // namespace quorvik
