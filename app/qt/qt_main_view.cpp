#include "app/qt/qt_main_view.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTreeWidget>
#include <algorithm>

#include "app/qt/about_dialog.h"
#include "app/qt/anchored_area.h"
#include "app/qt/link_label.h"
#include "app/quorvik_dlg.h"

namespace quorvik {

CQtMainView::CQtMainView(QWidget* parent)
    : QMainWindow(parent), m_units(CDialogUnits::ForFont(QApplication::font(), this)), m_gui(this) {
  setWindowTitle(QString::fromLatin1(kCaption));
  BuildControls();
  BuildMenus();
  ApplyInputState();
  // Ctrl is read by commands that run while the window thread goes on
  // handling input, so it is followed on every key and click. The same
  // filter sees the device list's clicks; installing it on the list as well
  // would turn each click into two commands.
  qApp->installEventFilter(this);
}

CQtMainView::~CQtMainView() {
  qApp->removeEventFilter(this);
}

void CQtMainView::BuildControls() {
  auto* client = new CAnchoredArea(this);
  setCentralWidget(client);
  const CDialogUnits& du = m_units;

  // In template order, which is also the tab order.
  m_deviceList = new QTreeWidget(client);
  m_deviceList->setGeometry(du.Rect(7, 29, 378, 82));
  m_listDrawnWidth = m_deviceList->width();
  m_deviceList->setRootIsDecorated(false);
  m_deviceList->setItemsExpandable(false);
  m_deviceList->setUniformRowHeights(true);
  m_deviceList->setSelectionMode(QAbstractItemView::SingleSelection);
  m_deviceList->setSelectionBehavior(QAbstractItemView::SelectRows);
  m_deviceList->setAllColumnsShowFocus(true);
  m_deviceList->setSortingEnabled(false);
  m_deviceList->setColumnCount(0);
  m_deviceList->header()->setSectionsClickable(false);
  m_deviceList->header()->setStretchLastSection(false);
  m_deviceList->header()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  m_deviceList->setHeaderHidden(true);  // no columns until start-up gives them
  m_deviceList->setAccessibleName(QStringLiteral("Devices"));
  m_deviceList->setAccessibleDescription(
      QStringLiteral("The devices that answered the last search; the menu key opens the "
                     "selected device's commands"));
  // The selected device stays marked while the operator works elsewhere.
  QPalette palette = m_deviceList->palette();
  for (auto role : {QPalette::Highlight, QPalette::HighlightedText})
    palette.setColor(QPalette::Inactive, role, palette.color(QPalette::Active, role));
  m_deviceList->setPalette(palette);

  // Each caption keeps its letters; the marked one is its Alt key, one per
  // control across the window and its menu bar (Application, Help).
  m_find = new QPushButton(QStringLiteral("&Find"), client);
  m_find->setGeometry(du.Rect(7, 117, 48, 14));
  m_firmwareUpdate = new QPushButton(QStringLiteral("Firmware-&Update"), client);
  m_firmwareUpdate->setGeometry(du.Rect(303, 117, 82, 14));

  m_statusLog = new QListWidget(client);
  m_statusLog->setGeometry(du.Rect(7, 149, 378, 31));
  m_statusLog->setSelectionMode(QAbstractItemView::NoSelection);
  // Reached by Tab, so that a screen reader can read the lines, but not by
  // a click: the mouse leaves the keyboard where it was.
  m_statusLog->setFocusPolicy(Qt::TabFocus);
  m_statusLog->setAccessibleName(QStringLiteral("Status log"));
  m_statusLog->setAccessibleDescription(QStringLiteral("The three newest status lines"));
  m_statusLog->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  m_statusLog->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  m_statusLog->setUniformItemSizes(true);
  m_statusLog->setSpacing(0);

  auto* link = new CLinkLabel(QString::fromLatin1(kWebAddress), client);
  link->setGeometry(du.Rect(59, 117, 161, 15));
  link->setAlignment(Qt::AlignCenter);
  link->setTextFormat(Qt::PlainText);
  link->setCursor(Qt::PointingHandCursor);
  QFont linkFont = link->font();
  linkFont.setUnderline(true);
  link->setFont(linkFont);
  QPalette linkPalette = link->palette();
  linkPalette.setColor(QPalette::WindowText, linkPalette.color(QPalette::Link));
  link->setPalette(linkPalette);
  link->onClick = [this] { emit webLinkClicked(); };
  link->setFocusPolicy(Qt::TabFocus);
  link->setAccessibleName(QStringLiteral("Belmarr web site"));
  link->setAccessibleDescription(QString::fromLatin1(kWebAddress));
  m_webLink = link;

  m_progress = new QProgressBar(client);
  m_progress->setGeometry(du.Rect(251, 183, 134, 10));
  m_progress->setRange(0, 100);
  m_progress->setValue(0);
  m_progress->setTextVisible(false);
  m_progress->setAccessibleName(QStringLiteral("Progress"));

  m_useLastFile = new QCheckBox(QStringLiteral("Use &last file again"), client);
  m_useLastFile->setGeometry(du.Rect(306, 134, 71, 10));
  m_andMakeUpdate = new QCheckBox(QStringLiteral("... and &make Update"), client);
  m_andMakeUpdate->setGeometry(du.Rect(9, 134, 81, 10));

  m_factoryReset = new QPushButton(QStringLiteral("Factory &reset"), client);
  m_factoryReset->setGeometry(du.Rect(213, 117, 82, 14));

  m_test = new QPushButton(QStringLiteral("&Test"), client);
  m_test->setGeometry(du.Rect(119, 130, 50, 14));
  m_test->hide();

  auto* networkLabel = new QLabel(QStringLiteral("&Network:"), client);
  networkLabel->setGeometry(du.Rect(7, 9, 30, 8));
  m_networkCombo = new QComboBox(client);
  // The drop-down's 144 units are the open list; the closed box is one line.
  const QRect comboRect = du.Rect(45, 7, 109, 144);
  m_networkCombo->setGeometry(comboRect.x(), comboRect.y(), comboRect.width(),
                              m_networkCombo->sizeHint().height());
  m_networkCombo->setMaxVisibleItems(10);
  networkLabel->setBuddy(m_networkCombo);

  for (QPushButton* b : {m_find, m_firmwareUpdate, m_factoryReset, m_test}) {
    // Enter on a focused push button presses it; no button is the default.
    b->setAutoDefault(false);
    b->setDefault(false);
  }
  // A larger or wider font than the original's may need more room for a
  // caption: the control grows about its middle line to its size hint; the
  // label up to the combo, the boxes towards the list's left edge, never
  // past its right.
  const auto fitted = [](QWidget* control) {
    QRect r = control->geometry();
    const QSize need = control->sizeHint();
    const int taller = need.height() - r.height();
    if (taller > 0) r.adjust(0, -taller / 2, 0, taller - taller / 2);
    r.setWidth(std::max(r.width(), need.width()));
    return r;
  };
  QRect labelRect = fitted(networkLabel);
  labelRect.setRight(std::min(labelRect.right(), comboRect.x() - 1));
  networkLabel->setGeometry(labelRect);
  for (QCheckBox* box : {m_useLastFile, m_andMakeUpdate}) {
    QRect r = fitted(box);
    const int overflow = r.right() - (du.X(7 + 378) - 1);
    if (overflow > 0) r.translate(-overflow, 0);
    box->setGeometry(r);
  }
  // The check boxes stay live during commands: they keep an arrow.
  m_useLastFile->setCursor(Qt::ArrowCursor);
  m_andMakeUpdate->setCursor(Qt::ArrowCursor);

  connect(m_deviceList, &QTreeWidget::itemSelectionChanged, this, [this] {
    const QList<QTreeWidgetItem*> selected = m_deviceList->selectedItems();
    const int row = selected.isEmpty() ? -1 : m_deviceList->indexOfTopLevelItem(selected.front());
    std::lock_guard lock(m_mirrorMutex);
    m_mirror.selectedRow = row;
  });
  // Before any handler that the window connects to the combo: the logic
  // reads the new entry through SelectedNetworkEntry.
  connect(m_networkCombo, &QComboBox::currentIndexChanged, this, [this](int index) {
    std::lock_guard lock(m_mirrorMutex);
    m_mirror.selectedEntry = index;
  });
  for (CheckBox box : {CheckBox::kUseLastFile, CheckBox::kAndMakeUpdate}) {
    connect(checkBox(box), &QCheckBox::toggled, this, [this, box](bool on) {
      std::lock_guard lock(m_mirrorMutex);
      m_mirror.checks[Index(box)] = on;
    });
  }

  // The drawn size is the smallest; room beyond it goes to the list (three
  // quarters of the height) and the log, and the controls around them move.
  client->SetStartSize(QSize(du.X(392), du.Y(200)));
  constexpr double kListShare = 0.75;
  client->Anchor(networkLabel, {});
  client->Anchor(m_networkCombo, {});
  client->Anchor(m_deviceList, {0, 0, 1, kListShare});
  for (QWidget* w : {static_cast<QWidget*>(m_find), static_cast<QWidget*>(m_andMakeUpdate),
                     static_cast<QWidget*>(m_test)})
    client->Anchor(w, {0, kListShare, 0, kListShare});
  client->Anchor(m_webLink, {0.5, kListShare, 0.5, kListShare});
  for (QWidget* w : {static_cast<QWidget*>(m_firmwareUpdate), static_cast<QWidget*>(m_factoryReset),
                     static_cast<QWidget*>(m_useLastFile)})
    client->Anchor(w, {1, kListShare, 1, kListShare});
  client->Anchor(m_statusLog, {0, kListShare, 1, 1});
  client->Anchor(m_progress, {1, 1, 1, 1});

  m_notice = new QLabel(this);
  m_notice->setTextFormat(Qt::PlainText);
  m_notice->hide();  // until there is something to say
  statusBar()->addWidget(m_notice, 1);
  m_checkOffer = new QPushButton(QStringLiteral("Network &check..."), this);
  m_checkOffer->setAutoDefault(false);
  m_checkOffer->setToolTip(
      QStringLiteral("No device answered: look for the reason (cards, ports, firewall, a search)"));
  m_checkOffer->setAccessibleDescription(m_checkOffer->toolTip());
  m_checkOffer->hide();  // until a search lists no device
  connect(m_checkOffer, &QPushButton::clicked, this, &CQtMainView::networkCheckRequested);
  statusBar()->addPermanentWidget(m_checkOffer);
  m_halfUpdated = new QLabel(this);
  m_halfUpdated->setTextFormat(Qt::PlainText);
  m_halfUpdated->hide();  // until devices left half-updated answer
  statusBar()->addPermanentWidget(m_halfUpdated);
  m_recoverOffer = new QPushButton(QStringLiteral("Reco&ver..."), this);
  m_recoverOffer->setAutoDefault(false);
  m_recoverOffer->setToolTip(
      QStringLiteral("Devices whose update never ended: write the same file again, or start "
                     "their application"));
  m_recoverOffer->setAccessibleDescription(m_recoverOffer->toolTip());
  m_recoverOffer->hide();
  connect(m_recoverOffer, &QPushButton::clicked, this, &CQtMainView::recoverRequested);
  statusBar()->addPermanentWidget(m_recoverOffer);
}

void CQtMainView::ShowHalfUpdated(int count) {
  m_halfUpdated->setText(count == 1
                             ? QStringLiteral("1 device was left half-updated:")
                             : QStringLiteral("%1 devices were left half-updated:").arg(count));
  m_halfUpdated->setVisible(count > 0);
  m_recoverOffer->setVisible(count > 0);
}

void CQtMainView::BuildMenus() {
  m_applicationMenu = menuBar()->addMenu(QStringLiteral("&Application"));
  m_showBlackList = m_applicationMenu->addAction(QStringLiteral("Show Black-List"));
  m_updateAll = m_applicationMenu->addAction(QStringLiteral("Update &all..."));
  m_updateAll->setEnabled(false);  // until a search lists devices
  m_history = m_applicationMenu->addAction(QStringLiteral("Update &history..."));
  m_saveRig = m_applicationMenu->addAction(QStringLiteral("&Save as rig..."));
  m_rollCall = m_applicationMenu->addAction(QStringLiteral("&Roll-call..."));
  m_station = m_applicationMenu->addAction(QStringLiteral("S&tation..."));

  m_helpMenu = menuBar()->addMenu(QStringLiteral("&Help"));
  m_networkCheck = m_helpMenu->addAction(QStringLiteral("&Network check..."));
  connect(m_networkCheck, &QAction::triggered, this, &CQtMainView::networkCheckRequested);
  m_about = m_helpMenu->addAction(QString::fromUtf8(kAboutMenuItem));
  m_about->setMenuRole(QAction::AboutRole);
  connect(m_about, &QAction::triggered, this, &CQtMainView::ShowAboutBox);

  m_runApplication = new QAction(QStringLiteral("Run application"), this);
  m_activateBootloader = new QAction(QStringLiteral("Activate bootloader"), this);
  m_addToBlackList = new QAction(QStringLiteral("Add to Black-List"), this);
}

void CQtMainView::ShowAboutBox() {
  CAboutDlg about(this);
  about.exec();
}

QPushButton* CQtMainView::button(Button button) const {
  switch (button) {
    case Button::kFind:
      return m_find;
    case Button::kFirmwareUpdate:
      return m_firmwareUpdate;
    case Button::kFactoryReset:
      return m_factoryReset;
  }
  return nullptr;
}

QCheckBox* CQtMainView::checkBox(CheckBox box) const {
  return box == CheckBox::kUseLastFile ? m_useLastFile : m_andMakeUpdate;
}

}  // namespace quorvik
