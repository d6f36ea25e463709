#include "app/qt/qt_main_view.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QCloseEvent>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QCursor>
#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLayout>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QStyleOptionFocusRect>
#include <QThread>
#include <QTimer>
#include <QTreeView>
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>
#include <QWindow>
#include <algorithm>
#include <numeric>

#include "app/column_widths.h"
#include "app/qt/about_dialog.h"
#include "app/qt/anchored_area.h"
#include "app/qt/display_text.h"
#include "app/qt/models/black_list_model.h"
#include "app/qt/tone_player.h"
#include "app/quorvik_dlg.h"

namespace {

// Text that is handed on, not shown: every byte as its Latin-1 character.
QString FromBytes(const std::string& text) {
  return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

constexpr const char* kCloseQuestion =
    "A command is still running. Closing now can leave the device in its bootloader. Close "
    "anyway?";

// File names are bytes of the file system, in its own encoding.
QString FromPath(const std::string& path) {
  return QFile::decodeName(path.c_str());
}
std::string ToPath(const QString& path) {
  return QFile::encodeName(path).toStdString();
}

// The file dialog's type: its name, then its pattern in brackets once; the
// logic's name may already end with them.
QString NameFilter(const FileDialogRequest& request) {
  const QString pattern = QStringLiteral("(%1)").arg(FromBytes(request.filterPattern));
  const QString name = FromBytes(request.filterName);
  return name.endsWith(pattern) ? name : name + QLatin1Char(' ') + pattern;
}

// The rows' cells: device, version, serial, MAC.
constexpr int kSerialColumn = 2;
constexpr int kNetworkColumnIndex = 4;

int ButtonIndex(Button button) {
  return static_cast<int>(button);
}
int CheckIndex(CheckBox box) {
  return static_cast<int>(box);
}

// The web address: a label that reports clicks and looks like a link. The
// keyboard reaches it by Tab and follows it with Space or Enter, as it
// would press a button.
class CLinkLabel : public QLabel {
 public:
  using QLabel::QLabel;
  std::function<void()> onClick;

 protected:
  void mouseReleaseEvent(QMouseEvent* event) override {
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()) &&
        onClick)
      onClick();
  }
  void keyPressEvent(QKeyEvent* event) override {
    const int key = event->key();
    if ((key == Qt::Key_Space || key == Qt::Key_Return || key == Qt::Key_Enter) &&
        event->modifiers() == Qt::NoModifier && onClick) {
      onClick();
      return;
    }
    QLabel::keyPressEvent(event);
  }
  void paintEvent(QPaintEvent* event) override {
    QLabel::paintEvent(event);
    if (!hasFocus()) return;
    // A label draws no focus of its own; without this the keyboard would
    // be on it unseen.
    QPainter painter(this);
    QStyleOptionFocusRect option;
    option.initFrom(this);
    option.rect = contentsRect().intersected(
        QStyle::alignedRect(layoutDirection(), alignment(),
                            fontMetrics().size(0, text()) + QSize(4, 2), contentsRect()));
    style()->drawPrimitive(QStyle::PE_FrameFocusRect, &option, &painter, this);
  }
};

// The keys that open a context menu where the keyboard is.
bool IsContextMenuKey(const QKeyEvent* key) {
  return key->key() == Qt::Key_Menu ||
         (key->key() == Qt::Key_F10 && key->modifiers() == Qt::ShiftModifier);
}

}  // namespace

CQtMainView::CQtMainView(QWidget* parent)
    : QMainWindow(parent), m_units(CDialogUnits::ForFont(QApplication::font(), this)) {
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
      m_mirror.checks[CheckIndex(box)] = on;
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

void CQtMainView::OnGuiThread(std::function<void()> change) {
  if (QThread::currentThread() == thread())
    change();
  else
    QMetaObject::invokeMethod(this, std::move(change), Qt::QueuedConnection);
}

template <typename T>
T CQtMainView::AskOnGuiThread(std::function<T()> ask, T cautious) {
  if (QThread::currentThread() == thread()) return ask();
  struct Answer {
    std::optional<T> value;
  };
  auto answer = std::make_shared<Answer>();
  {
    std::lock_guard lock(m_modalMutex);
    if (m_modalCancelled) return cautious;
  }
  QMetaObject::invokeMethod(
      this,
      [this, answer, ask = std::move(ask)] {
        T value = ask();
        {
          std::lock_guard lock(m_modalMutex);
          answer->value = std::move(value);
        }
        m_modalAnswered.notify_all();
      },
      Qt::QueuedConnection);
  std::unique_lock lock(m_modalMutex);
  m_modalAnswered.wait(lock, [&] { return answer->value.has_value() || m_modalCancelled; });
  return answer->value.has_value() ? std::move(*answer->value) : cautious;
}

void CQtMainView::CancelModalRequests() {
  {
    std::lock_guard lock(m_modalMutex);
    m_modalCancelled = true;
  }
  m_modalAnswered.notify_all();
}

void CQtMainView::SetColumns(const std::vector<ListColumn>& columns) {
  OnGuiThread([this, columns] {
    QStringList headers;
    for (const ListColumn& c : columns) headers << QString::fromLatin1(c.header);
    m_deviceList->setColumnCount(static_cast<int>(columns.size()));
    m_deviceList->setHeaderLabels(headers);
    m_drawnColumnWidths.clear();
    for (const ListColumn& c : columns) m_drawnColumnWidths.push_back(m_units.ScalePixels(c.width));
    FitColumns();
    m_deviceList->setHeaderHidden(columns.empty());
  });
}

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

void CQtMainView::ShowDeviceRows(const std::vector<DeviceRow>& rows) {
  {
    std::lock_guard lock(m_mirrorMutex);
    m_mirror.selectedRow = -1;
  }
  OnGuiThread([this, rows] {
    const QSignalBlocker quiet(m_deviceList);
    m_deviceList->clear();
    QList<QTreeWidgetItem*> items;
    const bool networkShown = m_deviceList->columnCount() > kNetworkColumnIndex;
    for (const DeviceRow& row : rows) {
      const std::string note = TwinNote(row.twins);
      const std::string networks = NetworksNote(row.networks);
      std::string device = note.empty() ? row.device : row.device + " " + note;
      if (!networks.empty()) device += " " + networks;
      QStringList cells{DisplayText(device), DisplayText(row.version), DisplayText(row.serial),
                        DisplayText(row.mac)};
      if (networkShown) cells << DisplayText(row.network);
      auto* item = new QTreeWidgetItem(cells);
      // The whole serial, also where its column is too narrow for it.
      item->setToolTip(kSerialColumn, item->text(kSerialColumn));
      if (!note.empty()) {
        // Said in words, not by a colour alone: no command goes to this row.
        const QString why =
            DisplayText(note) + QStringLiteral(
                                    ": no command is sent to it until each device has a "
                                    "serial of its own.");
        for (int c = 0; c < item->columnCount(); ++c)
          item->setToolTip(c, c == kSerialColumn ? item->text(c) + "\n" + why : why);
      }
      if (networkShown && !networks.empty())
        item->setToolTip(kNetworkColumnIndex,
                         QStringLiteral("This device answers on more than one network: the "
                                        "networks are bridged, or the device is misconfigured."));
      items << item;
    }
    m_deviceList->addTopLevelItems(items);
    FitColumns();
    // A search that lists nothing leaves the operator asking why: the
    // network check is one click away until devices are listed again.
    m_checkOffer->setVisible(rows.empty());
    m_updateAll->setEnabled(!rows.empty());
  });
}

void CQtMainView::SelectRow(int row) {
  {
    std::lock_guard lock(m_mirrorMutex);
    m_mirror.selectedRow = row;
  }
  OnGuiThread([this, row] {
    const QSignalBlocker quiet(m_deviceList);
    QTreeWidgetItem* item = row >= 0 ? m_deviceList->topLevelItem(row) : nullptr;
    m_deviceList->clearSelection();
    if (item != nullptr) {
      // Selected, not focused: the keyboard starts where the operator left it.
      item->setSelected(true);
      m_deviceList->scrollToItem(item);
    }
  });
}

int CQtMainView::SelectedRow() const {
  std::lock_guard lock(m_mirrorMutex);
  return m_mirror.selectedRow;
}

void CQtMainView::ShowStatusLines(const std::vector<std::string>& lines) {
  OnGuiThread([this, lines] {
    m_statusLog->clear();
    for (const std::string& line : lines) m_statusLog->addItem(DisplayText(line));
  });
}

void CQtMainView::SetProgressRange(int low, int high) {
  OnGuiThread([this, low, high] { m_progress->setRange(low, high); });
}

void CQtMainView::SetProgressStep(int step) {
  OnGuiThread([this, step] { m_progressStep = step; });
}

void CQtMainView::SetProgressPos(int pos) {
  OnGuiThread([this, pos] { m_progress->setValue(pos); });
}

void CQtMainView::StepProgress() {
  OnGuiThread([this] {
    // Past the end the bar starts over, as a stepping progress bar does.
    int next = m_progress->value() + m_progressStep;
    if (next > m_progress->maximum()) next = m_progress->minimum();
    m_progress->setValue(next);
  });
}

bool CQtMainView::IsChecked(CheckBox box) const {
  std::lock_guard lock(m_mirrorMutex);
  return m_mirror.checks[CheckIndex(box)];
}

void CQtMainView::SetChecked(CheckBox box, bool checked) {
  {
    std::lock_guard lock(m_mirrorMutex);
    m_mirror.checks[CheckIndex(box)] = checked;
  }
  OnGuiThread([this, box, checked] { checkBox(box)->setChecked(checked); });
}

void CQtMainView::EnableButton(Button button, bool enabled) {
  OnGuiThread([this, button, enabled] {
    m_buttonAllowed[ButtonIndex(button)] = enabled;
    ApplyInputState();
  });
}

void CQtMainView::AddNetworkEntry(const std::string& text) {
  OnGuiThread([this, text] {
    const QSignalBlocker quiet(m_networkCombo);
    m_networkCombo->addItem(DisplayText(text));
  });
}

void CQtMainView::SelectNetworkEntry(int index) {
  {
    std::lock_guard lock(m_mirrorMutex);
    m_mirror.selectedEntry = index;
  }
  OnGuiThread([this, index] {
    const QSignalBlocker quiet(m_networkCombo);
    m_networkCombo->setCurrentIndex(index);
  });
}

int CQtMainView::SelectedNetworkEntry() const {
  std::lock_guard lock(m_mirrorMutex);
  return m_mirror.selectedEntry;
}

void CQtMainView::ShowMessage(const std::string& text) {
  AskOnGuiThread<bool>(
      [this, text] {
        QMessageBox box(QMessageBox::NoIcon, QString::fromLatin1(kMessageBoxTitle),
                        DisplayText(text), QMessageBox::Ok, this);
        box.setTextFormat(Qt::PlainText);
        box.exec();
        return true;
      },
      true);
}

void CQtMainView::ShowDetailedMessage(const std::string& text, const std::string& detail) {
  AskOnGuiThread<bool>(
      [this, text, detail] {
        QMessageBox box(QMessageBox::Warning, QString::fromLatin1(kMessageBoxTitle),
                        DisplayText(text), QMessageBox::Ok, this);
        box.setTextFormat(Qt::PlainText);
        // Details are the system's words about a path or a port: UTF-8.
        box.setInformativeText(QString::fromUtf8(detail.data(), qsizetype(detail.size())));
        box.exec();
        return true;
      },
      true);
}

void CQtMainView::ShowDroppedAnswers(int count) {
  OnGuiThread([this, count] {
    m_droppedAnswers = count;
    ShowNotice();
  });
}

void CQtMainView::ShowPortProblems(const std::vector<std::string>& problems) {
  OnGuiThread([this, problems] {
    m_portProblems = problems;
    ShowNotice();
  });
}

void CQtMainView::ShowNotice() {
  QStringList parts;
  for (const std::string& p : m_portProblems)
    parts << QString::fromUtf8(p.data(), qsizetype(p.size()));
  if (m_droppedAnswers > 0)
    parts << QStringLiteral(
                 "%1 more answer(s) came from devices the list has no room for "
                 "(it holds %2); they are not listed.")
                 .arg(m_droppedAnswers)
                 .arg(kDeviceTableCapacity);
  m_notice->setText(parts.join(QStringLiteral("  ")));
  m_notice->setToolTip(parts.join(QLatin1Char('\n')));
  m_notice->setVisible(!parts.isEmpty());
}

bool CQtMainView::AskYesNo(const std::string& text) {
  return AskOnGuiThread<bool>(
      [this, text] {
        QMessageBox box(QMessageBox::Question, QString::fromLatin1(kMessageBoxTitle),
                        DisplayText(text), QMessageBox::Yes | QMessageBox::No, this);
        box.setTextFormat(Qt::PlainText);
        return box.exec() == QMessageBox::Yes;
      },
      false);
}

bool CQtMainView::RunBlackListDialog(CDlgBlacklist& logic) {
  return AskOnGuiThread<bool>(
      [this, &logic] {
        QDialog dialog(this);
        dialog.setWindowTitle(QString::fromLatin1(CDlgBlacklist::kCaption));
        auto* model = new CBlackListModel(&dialog);
        auto* list = new QTreeView(&dialog);
        list->setRootIsDecorated(false);
        list->setUniformRowHeights(true);
        list->setSelectionMode(QAbstractItemView::SingleSelection);
        list->setSelectionBehavior(QAbstractItemView::SelectRows);
        list->setAllColumnsShowFocus(true);
        list->setModel(model);
        list->setColumnWidth(0, m_units.ScalePixels(CDlgBlacklist::kColumnWidth));
        list->header()->setStretchLastSection(true);
        const auto fill = [model, &logic] { model->SetEntries(logic.FillList()); };
        fill();
        auto* remove = new QPushButton(QStringLiteral("Delete"), &dialog);
        connect(remove, &QPushButton::clicked, &dialog, [list, &logic, fill] {
          // The selected row, not the current one: a focused list has a
          // current row even when the operator has selected none.
          const QModelIndexList selected = list->selectionModel()->selectedRows();
          logic.OnDelete(selected.isEmpty() ? -1 : selected.front().row());
          fill();
        });
        // No Cancel: Escape and the close box are the only ways out without OK.
        auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok);
        connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
        auto* layout = new QVBoxLayout(&dialog);
        layout->addWidget(list);
        auto* row = new QHBoxLayout;
        row->addWidget(remove);
        row->addStretch();
        row->addWidget(buttons);
        layout->addLayout(row);
        dialog.resize(m_units.ScalePixels(CDlgBlacklist::kColumnWidth) + 40, m_units.Y(150));
        return dialog.exec() == QDialog::Accepted;
      },
      false);
}

void CQtMainView::ShowContextMenu(ContextMenu menu) {
  OnGuiThread([this, menu] {
    // Chosen items arrive as commands through their actions, after the
    // right-click command has ended.
    auto* popup = new QMenu(this);
    popup->setAttribute(Qt::WA_DeleteOnClose);
    connect(popup, &QMenu::aboutToHide, this,
            [this] { QTimer::singleShot(0, this, [this] { ReturnFocus(); }); });
    popup->addAction(menu == ContextMenu::kDevice ? m_runApplication : m_activateBootloader);
    popup->addSeparator();
    popup->addAction(m_addToBlackList);
    QPoint at = QCursor::pos();
    if (m_menuAtSelection) {
      // Opened from the keyboard: at the row it acts on, not at the pointer.
      const QList<QTreeWidgetItem*> selected = m_deviceList->selectedItems();
      const QRect row = selected.isEmpty() ? QRect() : m_deviceList->visualItemRect(selected[0]);
      at = m_deviceList->viewport()->mapToGlobal(row.isValid() ? row.bottomLeft() : QPoint(0, 0));
    }
    m_menuAtSelection = false;
    popup->popup(at);
  });
}

std::optional<std::string> CQtMainView::ChooseFile(const FileDialogRequest& request) {
  return AskOnGuiThread<std::optional<std::string>>(
      [this, request]() -> std::optional<std::string> {
        QFileDialog dialog(this, QStringLiteral("Open"));
        dialog.setAcceptMode(QFileDialog::AcceptOpen);
        dialog.setFileMode(QFileDialog::ExistingFile);
        dialog.setDefaultSuffix(FromBytes(request.defaultExtension));
        dialog.setNameFilter(NameFilter(request));
        if (!request.proposedPath.empty()) dialog.selectFile(FromPath(request.proposedPath));
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
          return std::nullopt;
        return ToPath(dialog.selectedFiles().front());
      },
      std::nullopt);
}

void CQtMainView::SetWaitCursor(bool wait) {
  OnGuiThread([this, wait] {
    m_logicWaitCursor = wait;
    ApplyInputState();
  });
}

void CQtMainView::SetClipboardText(const std::string& text) {
  OnGuiThread([text] { QGuiApplication::clipboard()->setText(FromBytes(text)); });
}

void CQtMainView::PlayTone(int frequencyHz, int durationMs) {
  OnGuiThread([this, frequencyHz, durationMs] {
    if (m_tones == nullptr) m_tones = new CTonePlayer(this);
    m_tones->Play(frequencyHz, durationMs);
  });
}

bool CQtMainView::IsCtrlHeld() const {
  std::lock_guard lock(m_mirrorMutex);
  return m_mirror.ctrlHeld;
}

void CQtMainView::OpenWebAddress(const std::string& url) {
  OnGuiThread([url] { QDesktopServices::openUrl(QUrl(FromBytes(url))); });
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
  m_firmwareUpdate->setEnabled(!m_busy && m_buttonAllowed[ButtonIndex(Button::kFirmwareUpdate)]);
  m_factoryReset->setEnabled(!m_busy && m_buttonAllowed[ButtonIndex(Button::kFactoryReset)]);
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
