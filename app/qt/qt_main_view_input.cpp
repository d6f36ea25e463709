// The window's own input: one command at a time, where the keyboard goes
// before, during and after it, the keys a dialog would take, closing, and
// the list's columns as the list changes size.

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <QWindow>
#include <algorithm>
#include <numeric>

#include "app/column_widths.h"
#include "app/qt/qt_main_view.h"

namespace quorvik {

namespace {

constexpr const char* kCloseQuestion =
    "A command is still running. Closing now can leave the device in its bootloader. Close "
    "anyway?";

// The keys that open a context menu where the keyboard is.
bool IsContextMenuKey(const QKeyEvent* key) {
  return key->key() == Qt::Key_Menu ||
         (key->key() == Qt::Key_F10 && key->modifiers() == Qt::ShiftModifier);
}

}  // namespace

void CQtMainView::FitColumns() {
  // QTreeView hides the width of a column's text that QAbstractItemView
  // makes public.
  const QAbstractItemView* view = m_deviceList;
  std::vector<int> needs;
  for (int i = 0; i < static_cast<int>(m_drawnColumnWidths.size()); ++i)
    needs.push_back(
        std::max(view->sizeHintForColumn(i), m_deviceList->header()->sectionSizeHint(i)));
  // The drawn widths fit the list as drawn; the room is theirs plus what
  // the rows' area has gained since, or less what a scroll bar takes.
  const int drawnArea = m_listDrawnWidth - 2 * m_deviceList->frameWidth();
  const int room = std::accumulate(m_drawnColumnWidths.begin(), m_drawnColumnWidths.end(), 0) +
                   m_deviceList->viewport()->width() - drawnArea;
  const std::vector<int> widths =
      FittedColumnWidths(m_drawnColumnWidths, room, kSerialColumn, needs);
  for (size_t i = 0; i < widths.size(); ++i)
    m_deviceList->setColumnWidth(static_cast<int>(i), widths[i]);
}

void CQtMainView::NoteModifiers(Qt::KeyboardModifiers modifiers) {
  std::lock_guard lock(m_mirrorMutex);
  m_mirror.ctrlHeld = modifiers.testFlag(Qt::ControlModifier);
}

void CQtMainView::SetBusy(bool busy, bool askBeforeClosing) {
  if (busy == m_busy) return;
  m_askBeforeClosing = askBeforeClosing;
  if (busy) {
    // Disabling the focused control would hand the keyboard to the next
    // one that stays enabled, a check box: Space would toggle it and Enter
    // close the program. The keyboard waits on the window itself instead,
    // where the keys of a running command do nothing.
    QWidget* focused = QApplication::focusWidget();
    // Started from a window beside this one (the network check's "Run
    // again"): the control this window still owes the keyboard, or the one
    // it last had, gets it back.
    if (focused == nullptr || focused->window() != this)
      focused = m_focusToReturn ? m_focusToReturn.data() : focusWidget();
    m_focusBeforeCommand = focused;
    if (m_focusBeforeCommand) m_focusBeforeCommand->clearFocus();
  }
  m_busy = busy;
  ApplyInputState();
  if (!busy && m_closeQuestion) {
    // The command the question warned of has ended and left nothing
    // half-done: the operator's close goes on without the warning.
    m_closeQuestionWithdrawn = true;
    m_closeQuestion->reject();
  }
  if (!busy) {
    m_focusToReturn = m_focusBeforeCommand ? m_focusBeforeCommand.data() : m_deviceList;
    ReturnFocus();
  }
  emit busyChanged(busy);
}

void CQtMainView::ReturnFocus() {
  // Not while another window of the program has the keyboard: focus given to
  // a widget here asks the system to activate this window, which would take
  // the keyboard from the menu or the dialog the operator is using. The
  // window's activation, or the menu's closing, brings it back later. When
  // no window of the program has it (on an X server without a window
  // manager, once another program's window took it), the keys that still
  // reach this window must find the control, not the window, where Enter
  // ends the program.
  const QWindow* keyboard = QGuiApplication::focusWindow();
  if (m_focusToReturn == nullptr || m_busy || (keyboard != nullptr && keyboard != windowHandle()))
    return;
  QWidget* back = m_focusToReturn;
  m_focusToReturn = nullptr;
  if (!back->isEnabled() || !back->isVisible()) back = m_deviceList;
  back->setFocus(Qt::OtherFocusReason);
}

void CQtMainView::HandKeyboardBack(QWindow* to) {
  // Asked a moment later, so that a window manager has had its say.
  QTimer::singleShot(0, this, [this, to = QPointer<QWindow>(to)] {
    const QWindow* keyboard = QGuiApplication::focusWindow();
    if ((keyboard != nullptr && keyboard->isVisible()) || !isVisible() || m_closeConfirmed) return;
    if (to && to->isVisible())
      to->requestActivate();
    else
      activateWindow();
  });
}

void CQtMainView::changeEvent(QEvent* event) {
  if (event->type() == QEvent::ActivationChange && isActiveWindow())
    QTimer::singleShot(0, this, [this] { ReturnFocus(); });
  QMainWindow::changeEvent(event);
}

void CQtMainView::ApplyInputState() {
  m_find->setEnabled(!m_busy);
  m_firmwareUpdate->setEnabled(!m_busy && m_buttonAllowed[Index(Button::kFirmwareUpdate)]);
  m_factoryReset->setEnabled(!m_busy && m_buttonAllowed[Index(Button::kFactoryReset)]);
  m_deviceList->setEnabled(!m_busy);
  m_networkCombo->setEnabled(!m_busy);
  m_applicationMenu->menuAction()->setEnabled(!m_busy);
  m_helpMenu->menuAction()->setEnabled(!m_busy);
  m_checkOffer->setEnabled(!m_busy);
  m_recoverOffer->setEnabled(!m_busy);
  if (m_busy || m_logicWaitCursor)
    centralWidget()->setCursor(Qt::WaitCursor);
  else
    centralWidget()->unsetCursor();
}

void CQtMainView::closeEvent(QCloseEvent* event) {
  // Ending a firmware write half-way leaves the device in its loader; the
  // operator decides, and the cautious answer is the default.
  if (m_busy && m_askBeforeClosing && !m_closeConfirmed) {
    QMessageBox box(QMessageBox::Warning, QString::fromLatin1(kMessageBoxTitle),
                    QString::fromLatin1(kCloseQuestion), QMessageBox::Yes | QMessageBox::No, this);
    box.setDefaultButton(QMessageBox::No);
    m_closeQuestion = &box;
    m_closeQuestionWithdrawn = false;
    const bool yes = box.exec() == QMessageBox::Yes;
    m_closeQuestion = nullptr;
    if (!yes && !m_closeQuestionWithdrawn) {
      event->ignore();
      return;
    }
    m_closeConfirmed = yes;
  }
  if (m_closeHandler) m_closeHandler();
  event->accept();
}

void CQtMainView::keyPressEvent(QKeyEvent* event) {
  // Keys that the focused control leaves unused end up here. As in a dialog
  // without a default button: Esc ends the program, and so does Enter
  // anywhere but on a push button. While a command runs the window takes no
  // input, and these keys least of all.
  if (m_busy) {
    event->accept();
    return;
  }
  switch (event->key()) {
    case Qt::Key_Escape:
    case Qt::Key_Return:
    case Qt::Key_Enter:  // push buttons took theirs in eventFilter
      // Devices left half-updated wait in their loaders for the operator's
      // answer to the line under the list: a stray key does not end the
      // program over it, it takes the keyboard to "Recover..." instead.
      if (m_recoverOffer->isVisible()) {
        m_recoverOffer->setFocus(Qt::OtherFocusReason);
        return;
      }
      close();
      return;
    default:
      QMainWindow::keyPressEvent(event);
  }
}

bool CQtMainView::eventFilter(QObject* watched, QEvent* event) {
  // A window manager gives the keyboard to the window of a box or panel
  // that closes with it; on a bare X server it falls to the screen, where
  // keys reach only the window under the pointer and no Alt key works.
  if (event->type() == QEvent::Show || event->type() == QEvent::Hide) {
    auto* box = qobject_cast<QWidget*>(watched);
    if (box != nullptr && box->isWindow() && box != this && box->windowType() != Qt::Popup &&
        box->parentWidget() != nullptr) {
      // It goes back where it was when the box or panel opened.
      if (event->type() == QEvent::Show)
        m_keyboardBefore[box] = QGuiApplication::focusWindow();
      else if (const QPointer<QWindow> before = m_keyboardBefore.take(box);
               box->windowHandle() != nullptr &&
               box->windowHandle() == QGuiApplication::focusWindow())
        HandKeyboardBack(before);
    }
  }
  if (watched == m_deviceList->viewport() && m_deviceList->isEnabled()) {
    const auto later = [this](void (CQtMainView::*signal)()) {
      QMetaObject::invokeMethod(
          this, [this, signal] { emit(this->*signal)(); }, Qt::QueuedConnection);
    };
    if (event->type() == QEvent::MouseButtonPress) {
      const auto* mouse = static_cast<QMouseEvent*>(event);
      QTreeWidgetItem* item = m_deviceList->itemAt(mouse->position().toPoint());
      // A click on empty space leaves no row selected, so that the device
      // buttons can follow.
      if (item == nullptr) m_deviceList->clearSelection();
      if (mouse->button() == Qt::RightButton) {
        // The menu is built from the row under the pointer, which must be
        // the only one selected, whatever keys are held: the command acts on
        // the selection. The list does not see this press, so that its own
        // rules (Ctrl deselects) cannot undo that.
        if (item != nullptr)
          m_deviceList->setCurrentItem(
              item, 0, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        m_deviceList->setFocus(Qt::MouseFocusReason);
        m_menuAtSelection = false;
        later(&CQtMainView::deviceListRightClicked);
        NoteModifiers(mouse->modifiers());
        return true;
      }
    } else if (event->type() == QEvent::MouseButtonRelease &&
               static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
      later(&CQtMainView::deviceListClicked);
    } else if (event->type() == QEvent::MouseButtonDblClick &&
               static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
      later(&CQtMainView::deviceListDoubleClicked);
    }
  }
  // The rows' area changes with the list and with its scroll bars.
  if (watched == m_deviceList->viewport() && event->type() == QEvent::Resize) FitColumns();
  if (watched == m_deviceList) {
    // The menu key and Shift+F10 open the selected device's menu, as the
    // right button does. Some platforms also turn the menu key into a
    // context-menu event: that one is dropped, so the menu opens once.
    if (event->type() == QEvent::ContextMenu &&
        static_cast<QContextMenuEvent*>(event)->reason() == QContextMenuEvent::Keyboard)
      return true;
    if (event->type() == QEvent::KeyPress && IsContextMenuKey(static_cast<QKeyEvent*>(event))) {
      if (m_deviceList->isEnabled() && !m_busy) {
        m_menuAtSelection = true;
        QMetaObject::invokeMethod(
            this, [this] { emit deviceListRightClicked(); }, Qt::QueuedConnection);
      }
      return true;
    }
  }
  switch (event->type()) {
    case QEvent::KeyPress:
    case QEvent::KeyRelease: {
      const auto* key = static_cast<QKeyEvent*>(event);
      // Enter presses the focused push button, which it would otherwise
      // pass on to the window (no button here is a default button).
      auto* pushButton = qobject_cast<QPushButton*>(watched);
      if (event->type() == QEvent::KeyPress && pushButton != nullptr &&
          pushButton->window() == this &&
          (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter)) {
        if (pushButton->isEnabled()) pushButton->click();
        return true;
      }
      // The Ctrl key's own events carry the state from before them.
      if (key->key() == Qt::Key_Control)
        NoteModifiers(event->type() == QEvent::KeyPress ? Qt::ControlModifier : Qt::NoModifier);
      else
        NoteModifiers(key->modifiers());
      break;
    }
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
      NoteModifiers(static_cast<QInputEvent*>(event)->modifiers());
      break;
    default:
      break;
  }
  return QMainWindow::eventFilter(watched, event);
}

}  // namespace quorvik
