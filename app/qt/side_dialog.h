#pragma once
// The dialogs and panels that the window opens beside itself (roll-call,
// update history, network check, fleet plan, station, recovery) all open
// the same way: made on first use as the window's child, deleted when they
// close, told while the window runs a command (those that care), placed
// beside the window once, and then shown, brought forward with the
// keyboard. Each controller says only what is its own.

#include <QMetaObject>
#include <QObject>
#include <QPointer>
#include <QSize>
#include <Qt>
#include <functional>
#include <utility>

#include "app/qt/beside_window.h"
#include "app/qt/qt_main_view.h"

namespace quorvik {

template <typename Dialog>
struct SideDialogSteps {
  // Once, when it is made: its signals, and what it starts from.
  std::function<void(Dialog&)> made;
  // At every opening, before it is placed: what it shows.
  std::function<void(Dialog&)> fill;
  // At every opening, once it is placed.
  std::function<void(Dialog&)> placed;
  // Off for the update history: a new one shows at each opening, and takes
  // the keyboard only where the system hands it over.
  bool bringForward = true;
};

// Opens the dialog held in `slot` beside `window`, made with `args` and the
// window as its parent while `slot` holds none; a dialog already open stays
// where the operator has it.
template <typename Dialog, typename... Args>
Dialog* OpenSideDialog(QPointer<Dialog>& slot, CQtMainView& window,
                       const SideDialogSteps<Dialog>& steps, Args&&... args) {
  const bool opening = !slot;
  if (opening) {
    slot = new Dialog(std::forward<Args>(args)..., &window);
    slot->setAttribute(Qt::WA_DeleteOnClose);
    if constexpr (requires(Dialog & d) { d.SetWindowBusy(true); }) {
      slot->SetWindowBusy(window.IsBusy());
      QObject::connect(&window, &CQtMainView::busyChanged, slot.data(), &Dialog::SetWindowBusy);
    }
    if (steps.made) steps.made(*slot);
  }
  if (steps.fill) steps.fill(*slot);
  if (opening) {
    // Once what it shows has given it its size.
    if constexpr (requires(const Dialog& d) { d.LeastSize(); })
      PlaceBesideWindow(slot, &window, slot->LeastSize());
    else
      PlaceBesideWindow(slot, &window);
  }
  if (steps.placed) steps.placed(*slot);
  slot->show();
  if (steps.bringForward) {
    slot->raise();
    slot->activateWindow();
  }
  return slot;
}

// Hands a step made on another thread to `dialog` on the window's thread,
// after the steps posted before it; nothing once the dialog has closed.
template <typename Dialog>
void PostToDialog(QObject* context, const QPointer<Dialog>& dialog,
                  std::function<void(Dialog&)> show) {
  QMetaObject::invokeMethod(
      context,
      [dialog, show = std::move(show)] {
        if (dialog) show(*dialog);
      },
      Qt::QueuedConnection);
}

// An observer of a run on the command thread that hands each of its events
// to `Dialog` on the window's thread, in the order they were made.
template <typename Dialog, typename Observer>
class CObserverForDialog : public Observer {
 public:
  CObserverForDialog(QObject* context, QPointer<Dialog> dialog)
      : m_context(context), m_dialog(std::move(dialog)) {}
  void Post(std::function<void(Dialog&)> show) const {
    PostToDialog(m_context, m_dialog, std::move(show));
  }

 private:
  QObject* m_context;
  QPointer<Dialog> m_dialog;
};

}  // namespace quorvik
