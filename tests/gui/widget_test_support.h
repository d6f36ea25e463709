#pragma once
// What the widget tests share: the played devices most of them list,
// acting on a modal window from inside its loop, and what a keyboard and a
// screen reader need of every window.

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAbstractSpinBox>
#include <QAccessible>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMap>
#include <QObject>
#include <QProgressBar>
#include <QStatusBar>
#include <QTimer>
#include <QWidget>
#include <QtTest/QTest>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "base/text.h"
#include "net/reply_processing.h"
#include "records/journal.h"
#include "tests/support/datagram_builder.h"
#include "tests/support/fake_main_view.h"

namespace quorvik {

inline const std::vector<uint8_t> kMacA = {0x00, 0x0A, 0x95, 0x9D, 0x68, 0x16};
inline const std::vector<uint8_t> kMacB = {0x02, 0x10, 0x20, 0x30, 0x40, 0xAB};
// Any byte a device may send, a format directive and a separator included:
// the list shows it and the black-list stores it as sent.
inline const std::string kOddName = "B\xFChne 50%s;\x7F\xFF";

// What an update that never ended leaves in `journal`: its start alone.
inline bool JournalUnfinishedUpdate(const std::string& journal, const std::vector<uint8_t>& serial,
                                    const std::vector<uint8_t>& mac, const std::string& file) {
  CommandResult start;
  start.device.identityLength = static_cast<uint8_t>(serial.size());
  std::copy(serial.begin(), serial.end(), start.device.identity.begin());
  std::copy(mac.begin(), mac.end(), start.device.mac.begin());
  start.addressed = start.device;
  start.update.emplace();
  start.update->path = file;
  return !CJournal(journal).Append(JournalStartRecord(start, {"bench", "quorvik", ""}));
}

// Row 0 a generation-1 bootloader without factory reset, row 1 a node in
// application mode named kOddName.
inline void TwoDevicesAnswer(CFakeNetwork& network) {
  network.onSearch = [&network](bool boot) {
    if (boot)
      ProcessDatagram(network.devices, kBootPortA,
                      Gen1Answer(1, 0x0105, 0x0461, 512, kMacA, IdentityBytes(0x01, 11)).Span());
    else
      ProcessDatagram(network.devices, kAppPort,
                      AppAnswer(0x0203, kMacB, kOddName, IdentityBytes(0xA0, 11)).Span());
  };
}

// Waits until `window` has the keyboard. On Wayland only the compositor
// hands it out, when the window maps or a dialog above it closes; a program
// cannot take it, so asking is a no-op there and the wait is what counts.
// Wayland's plugin calls a window active as soon as the compositor says so,
// but hands keys to it only once a round trip later the application has
// made it its active window: a key sent in between goes nowhere.
inline bool HasKeyboard(QWidget* window, int timeoutMs = 5000) {
  window->activateWindow();
  return QTest::qWaitFor([window] { return QApplication::activeWindow() == window->window(); },
                         timeoutMs);
}

// Types `path` into the name field of the file dialog `modal`, as the
// operator does, once the dialog has the keyboard, and presses Return.
// Keys made in a test carry no serial of an input event the compositor
// delivered, which a Wayland popup needs to take the keyboard
// (xdg_popup.grab): Qt's Wayland plugin then opens the field's completion
// list as a window of its own, which the compositor hands the keyboard
// and, once it closes, hands to no window. There the list is off.
inline void TypeFileName(QWidget* modal, const QString& path) {
  if (!HasKeyboard(modal)) qWarning("the file dialog did not become active");
  if (QGuiApplication::platformName().startsWith(QLatin1String("wayland")))
    for (QLineEdit* field : modal->findChildren<QLineEdit*>()) field->setCompleter(nullptr);
  QTest::keyClick(modal->windowHandle(), Qt::Key_A, Qt::ControlModifier);
  for (const QChar c : path) QTest::keyClick(modal->windowHandle(), c.toLatin1());
  QTest::keyClick(modal->windowHandle(), Qt::Key_Return);
}

// Acts on the next modal window once it shows, from inside its own loop.
// `act` must end the dialog: a test that asserts inside it would leave the
// loop running.
inline void WhenModalShows(QObject* owner, std::function<void(QWidget*)> act) {
  auto* poll = new QTimer(owner);
  QObject::connect(poll, &QTimer::timeout, owner, [poll, act = std::move(act)] {
    if (QWidget* modal = QApplication::activeModalWidget()) {
      poll->stop();
      poll->deleteLater();
      act(modal);
    }
  });
  poll->start(10);
}

// What a user meets: the controls a window shows, not the parts a control
// is built of (viewports, scroll bars, headers, a spin box's editor). The
// main window's are its central area's and status bar's own; a dialog's lie
// at any depth of its layout.
inline QList<QWidget*> Controls(QWidget* window) {
  const auto isControl = [](QWidget* w) {
    return qobject_cast<QAbstractButton*>(w) || qobject_cast<QAbstractItemView*>(w) ||
           qobject_cast<QComboBox*>(w) || qobject_cast<QLabel*>(w) ||
           qobject_cast<QProgressBar*>(w) || qobject_cast<QAbstractSpinBox*>(w) ||
           qobject_cast<QLineEdit*>(w);
  };
  QList<QWidget*> candidates;
  if (auto* main = qobject_cast<QMainWindow*>(window)) {
    for (QWidget* parent : {main->centralWidget(), static_cast<QWidget*>(main->statusBar())})
      candidates << parent->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
  } else {
    for (QWidget* w : window->findChildren<QWidget*>()) {
      bool part = false;
      for (QWidget* up = w->parentWidget(); up != window && !part; up = up->parentWidget())
        part = isControl(up);
      if (!part) candidates << w;
    }
  }
  QList<QWidget*> controls;
  for (QWidget* w : candidates)
    if (w->isVisibleTo(window) && isControl(w)) controls << w;
  return controls;
}

inline QString Describe(QWidget* w) {
  return QString::fromLatin1(w->metaObject()->className()) + QLatin1Char(' ') +
         QAccessible::queryAccessibleInterface(w)->text(QAccessible::Name);
}

inline QChar Mnemonic(const QString& caption) {
  const qsizetype at = caption.indexOf(QLatin1Char('&'));
  return at >= 0 && at + 1 < caption.size() ? caption[at + 1].toLower() : QChar();
}

// Every control of `top` has a name a screen reader says, and every caption
// (a button's, a label's that leads to a control) an Alt key no other one
// in `keys` has. Returns what falls short, one line each.
inline QStringList AccessProblems(QWidget* top, QMap<QChar, QString> keys = {}) {
  QStringList problems;
  for (QWidget* w : Controls(top)) {
    if (QAccessible::queryAccessibleInterface(w)->text(QAccessible::Name).isEmpty())
      problems << QStringLiteral("no name: ") + Describe(w);
    const auto* label = qobject_cast<QLabel*>(w);
    const QString caption = qobject_cast<QAbstractButton*>(w)
                                ? qobject_cast<QAbstractButton*>(w)->text()
                                : (label && label->buddy() ? label->text() : QString());
    if (caption.isEmpty()) continue;
    const QChar key = Mnemonic(caption);
    if (key.isNull())
      problems << QStringLiteral("no Alt key: ") + caption;
    else if (keys.contains(key))
      problems << QStringLiteral("Alt key taken twice: ") + caption + QStringLiteral(" / ") +
                      keys[key];
    keys[key] = caption;
  }
  return problems;
}

// Fails the test with AccessProblems' lines.
#define QUORVIK_VERIFY_ACCESSIBLE(...)                               \
  do {                                                               \
    const QStringList problems_ = AccessProblems(__VA_ARGS__);       \
    QVERIFY2(problems_.isEmpty(), qPrintable(problems_.join("; "))); \
  } while (false)

}  // namespace quorvik
