// The real window for a keyboard, a screen reader and large type, on a
// played network: Tab reaches every control, Alt keys do not clash, every
// control has a name, the list and the log take the room of a larger
// window, and a 14-point font clips nothing. ctest also runs this program
// at QT_SCALE_FACTOR=2.

#include <QAbstractButton>
#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QListView>
#include <QListWidget>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTest>
#include <QTreeWidget>
#include <fstream>

#include "app/qt/network_check_dialog.h"
#include "app/qt/quorvik_window.h"
#include "tests/gui/widget_test_support.h"
#include "tests/support/scratch_directory.h"

namespace {

// The controls a user meets: what the window or a dialog places itself,
// not the parts a widget is built of (viewports, scroll bars, headers).
QList<QWidget*> Controls(QWidget* window) {
  QList<QWidget*> controls;
  QList<QWidget*> parents{window};
  if (auto* main = qobject_cast<QMainWindow*>(window))
    parents = {main->centralWidget(), main->statusBar()};
  for (QWidget* parent : parents)
    for (QWidget* w : parent->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
      if (w->isVisibleTo(window) &&
          (qobject_cast<QAbstractButton*>(w) || qobject_cast<QAbstractItemView*>(w) ||
           qobject_cast<QComboBox*>(w) || qobject_cast<QLabel*>(w) ||
           qobject_cast<QProgressBar*>(w)))
        controls << w;
  return controls;
}

QString Describe(const QWidget* w) {
  return QString::fromLatin1(w->metaObject()->className()) + QLatin1Char(' ') + w->accessibleName();
}

QChar Mnemonic(const QString& caption) {
  const qsizetype at = caption.indexOf(QLatin1Char('&'));
  return at >= 0 && at + 1 < caption.size() ? caption[at + 1].toLower() : QChar();
}

// Controls that cannot show what they hold: captions need their size
// hint, lists and bars their smallest usable size; all lie inside the
// window.
QStringList Clipped(QWidget* window) {
  QStringList clipped;
  for (QWidget* w : Controls(window)) {
    const bool caption = qobject_cast<QAbstractButton*>(w) || qobject_cast<QLabel*>(w) ||
                         qobject_cast<QComboBox*>(w);
    const QSize need = caption ? w->sizeHint() : w->minimumSizeHint();
    const QRect inWindow(w->mapTo(window, QPoint(0, 0)), w->size());
    if (w->width() < need.width() || w->height() < need.height() ||
        !window->rect().contains(inWindow))
      clipped << QStringLiteral("%1: %2x%3 for %4x%5")
                     .arg(Describe(w))
                     .arg(w->width())
                     .arg(w->height())
                     .arg(need.width())
                     .arg(need.height());
  }
  return clipped;
}

}  // namespace

class WindowAccessTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<CQuorvikWindow> window;
  CFakeNetwork network;
  CScratchDirectory scratch;

  CQtMainView& view() { return window->view(); }
  void StartAndSettle() {
    QuorvikWindowOptions options;
    options.timeScale = 0;
    options.networkCheck = [](const NetworkCheckRequest&, IClock&,
                              const std::function<void(const CheckResult&)>& onResult) {
      const CheckResult found{CheckStatus::kWarn, "search", "0 answer(s) to a search on lo",
                              "answers per port 10001: 0", "Check the cable"};
      onResult(found);
      return std::vector<CheckResult>{found};
    };
    window = std::make_unique<CQuorvikWindow>(network, std::move(options));
    window->Start();
    QTRY_VERIFY_WITH_TIMEOUT(!window->IsRunningCommand(), 10000);
  }
  void ActivateWindow() {
    QVERIFY(QTest::qWaitForWindowExposed(&view()));
    view().activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&view()));
  }

 private slots:
  void init() {
    ResetSharedDeviceState();
    std::ofstream("Quorvik.ini", std::ios::trunc);
    network = CFakeNetwork{};
    network.addresses = {{10, 0, 0, 12}};
  }
  void cleanup() {
    window.reset();
    ResetSharedDeviceState();
  }

  // Tab goes round every control in the order they are drawn, the list and
  // the log included; the menu key opens the selected device's menu.
  void tabReachesEveryControlAndTheMenuKeyTheDeviceMenu() {
    TwoDevicesAnswer(network);
    StartAndSettle();
    ActivateWindow();
    QTRY_COMPARE(QApplication::focusWidget(), view().deviceList());
    // The window puts the keyboard back once activation has been handled.
    QCoreApplication::processEvents();
    QList<QWidget*> round;
    for (int i = 0; i < 12 && (round.isEmpty() || QApplication::focusWidget() != round.front());
         ++i) {
      round << QApplication::focusWidget();
      QTest::keyClick(view().windowHandle(), Qt::Key_Tab);
    }
    const QList<QWidget*> expected{view().deviceList(),
                                   view().button(Button::kFind),
                                   view().button(Button::kFirmwareUpdate),
                                   view().statusLog(),
                                   view().webLink(),
                                   view().checkBox(CheckBox::kUseLastFile),
                                   view().checkBox(CheckBox::kAndMakeUpdate),
                                   view().networkCombo()};
    QStringList names;
    for (QWidget* w : round) names << (w ? Describe(w) : QStringLiteral("none"));
    QVERIFY2(round == expected, qPrintable(names.join(QStringLiteral(", "))));

    // Row 0 answered from its bootloader.
    QCOMPARE(QApplication::focusWidget(), view().deviceList());
    QTest::keyClick(view().windowHandle(), Qt::Key_Menu);
    QTRY_VERIFY(qobject_cast<QMenu*>(QApplication::activePopupWidget()) != nullptr);
    auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    QCOMPARE(menu->actions().front()->text(), QStringLiteral("Run application"));
    menu->close();
  }

  // Every control has a name a screen reader says, and an Alt key where it
  // has a caption, none of them twice.
  void everyControlHasANameAndItsOwnAltKey() {
    StartAndSettle();  // nothing answers: the offer shows
    view().ShowPortProblems({"UDP 6454 is held by olad (pid 812)"});
    view().networkCheckAction()->trigger();
    QTRY_VERIFY(!window->IsRunningCommand());
    QWidget* dialog = window->networkCheckDialog();
    QVERIFY(dialog != nullptr);
    QVERIFY(view().networkCheckOffer()->isVisible() && view().notice()->isVisible());

    for (QWidget* top : {static_cast<QWidget*>(&view()), dialog}) {
      QMap<QChar, QString> keys;
      if (top == &view())
        for (QAction* menu : view().menuBar()->actions())
          keys[Mnemonic(menu->text())] = menu->text();
      for (QWidget* w : Controls(top)) {
        QAccessibleInterface* access = QAccessible::queryAccessibleInterface(w);
        QVERIFY2(access != nullptr && !access->text(QAccessible::Name).isEmpty(),
                 qPrintable(Describe(w)));
        QString caption;
        if (auto* b = qobject_cast<QAbstractButton*>(w)) caption = b->text();
        if (auto* l = qobject_cast<QLabel*>(w); l && l->buddy()) caption = l->text();
        if (caption.isEmpty()) continue;
        const QChar key = Mnemonic(caption);
        QVERIFY2(!key.isNull() && !keys.contains(key),
                 qPrintable(caption + QStringLiteral(" / ") + keys.value(key)));
        keys[key] = caption;
      }
    }
  }

  void listAndLogGrowWithTheWindowNeverBelowItsStart() {
    StartAndSettle();
    QVERIFY(QTest::qWaitForWindowExposed(&view()));
    const QSize start = view().size();
    QCOMPARE(view().minimumSize(), start);
    QWidget* list = view().deviceList();
    QWidget* log = view().statusLog();
    const QRect list0 = list->geometry(), log0 = log->geometry();
    const QRect find0 = view().button(Button::kFind)->geometry();
    const QRect bar0 = view().progressBar()->geometry();
    const QSize client0 = view().centralWidget()->size();

    view().resize(start + QSize(200, 160));
    QTRY_COMPARE(view().centralWidget()->size(), client0 + QSize(200, 160));
    QCOMPARE(list->width(), list0.width() + 200);
    QCOMPARE(log->width(), log0.width() + 200);
    QCOMPARE(list->height(), list0.height() + 120);
    QCOMPARE(log->height(), log0.height() + 40);
    // The buttons follow the list's edges; the bar keeps its corner.
    QCOMPARE(view().button(Button::kFind)->y(), find0.y() + 120);
    QCOMPARE(view().button(Button::kFirmwareUpdate)->geometry().right(), list->geometry().right());
    QVERIFY(log->y() > view().checkBox(CheckBox::kUseLastFile)->geometry().bottom());
    QCOMPARE(view().progressBar()->geometry().bottomRight(), bar0.bottomRight() + QPoint(200, 160));

    view().resize(start - QSize(50, 50));
    QCOMPARE(view().size(), start);
    QCOMPARE(list->geometry(), list0);
    QCOMPARE(log->geometry(), log0);
  }

  void fourteenPointFontClipsNothing() {
    const QFont original = QApplication::font();
    QFont large = original;
    large.setPointSize(14);
    QApplication::setFont(large);
    TwoDevicesAnswer(network);
    StartAndSettle();
    view().ShowPortProblems({"UDP 6454 is held by olad (pid 812)"});
    view().show();
    QVERIFY(QTest::qWaitForWindowExposed(&view()));
    const QStringList clipped = Clipped(&view());
    QListWidget* log = view().statusLog();
    for (const char* line : {"one", "two", "three"}) window->dlg().AddStatusLine(line, 0);
    QApplication::setFont(original);
    QVERIFY2(clipped.isEmpty(), qPrintable(clipped.join(QStringLiteral("; "))));
    for (int i = 0; i < 3; ++i)
      QVERIFY(log->viewport()->rect().contains(log->visualItemRect(log->item(i))));
  }
};

QTEST_MAIN(WindowAccessTest)
#include "window_access_test.moc"
