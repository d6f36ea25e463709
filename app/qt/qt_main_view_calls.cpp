// The logic's IMainView calls, from any thread: changes are queued to the
// window thread, reads answered from the mirror, questions asked there.

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QCursor>
#include <QDesktopServices>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <QUrl>

#include "app/qt/black_list_dialog.h"
#include "app/qt/display_text.h"
#include "app/qt/qt_main_view.h"
#include "app/qt/tone_player.h"
#include "app/quorvik_dlg.h"

namespace quorvik {

namespace {

// Text that is handed on, not shown: every byte as its Latin-1 character.
QString FromBytes(const std::string& text) {
  return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

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

}  // namespace

void CQtMainView::CancelModalRequests() {
  m_gui.Cancel();
}

void CQtMainView::SetColumns(const std::vector<ListColumn>& columns) {
  m_gui.Post([this, columns] {
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

void CQtMainView::ShowDeviceRows(const std::vector<DeviceRow>& rows) {
  {
    std::lock_guard lock(m_mirrorMutex);
    m_mirror.selectedRow = -1;
  }
  m_gui.Post([this, rows] {
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
  m_gui.Post([this, row] {
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
  m_gui.Post([this, lines] {
    m_statusLog->clear();
    for (const std::string& line : lines) m_statusLog->addItem(DisplayText(line));
  });
}

void CQtMainView::SetProgressRange(int low, int high) {
  m_gui.Post([this, low, high] { m_progress->setRange(low, high); });
}

void CQtMainView::SetProgressStep(int step) {
  m_gui.Post([this, step] { m_progressStep = step; });
}

void CQtMainView::SetProgressPos(int pos) {
  m_gui.Post([this, pos] { m_progress->setValue(pos); });
}

void CQtMainView::StepProgress() {
  m_gui.Post([this] {
    // Past the end the bar starts over, as a stepping progress bar does.
    int next = m_progress->value() + m_progressStep;
    if (next > m_progress->maximum()) next = m_progress->minimum();
    m_progress->setValue(next);
  });
}

bool CQtMainView::IsChecked(CheckBox box) const {
  std::lock_guard lock(m_mirrorMutex);
  return m_mirror.checks[Index(box)];
}

void CQtMainView::SetChecked(CheckBox box, bool checked) {
  {
    std::lock_guard lock(m_mirrorMutex);
    m_mirror.checks[Index(box)] = checked;
  }
  m_gui.Post([this, box, checked] { checkBox(box)->setChecked(checked); });
}

void CQtMainView::EnableButton(Button button, bool enabled) {
  m_gui.Post([this, button, enabled] {
    m_buttonAllowed[Index(button)] = enabled;
    ApplyInputState();
  });
}

void CQtMainView::AddNetworkEntry(const std::string& text) {
  m_gui.Post([this, text] {
    const QSignalBlocker quiet(m_networkCombo);
    m_networkCombo->addItem(DisplayText(text));
  });
}

void CQtMainView::SelectNetworkEntry(int index) {
  {
    std::lock_guard lock(m_mirrorMutex);
    m_mirror.selectedEntry = index;
  }
  m_gui.Post([this, index] {
    const QSignalBlocker quiet(m_networkCombo);
    m_networkCombo->setCurrentIndex(index);
  });
}

int CQtMainView::SelectedNetworkEntry() const {
  std::lock_guard lock(m_mirrorMutex);
  return m_mirror.selectedEntry;
}

void CQtMainView::ShowMessage(const std::string& text) {
  m_gui.Ask<bool>(
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
  m_gui.Ask<bool>(
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
  m_gui.Post([this, count] {
    m_droppedAnswers = count;
    ShowNotice();
  });
}

void CQtMainView::ShowPortProblems(const std::vector<std::string>& problems) {
  m_gui.Post([this, problems] {
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
  return m_gui.Ask<bool>(
      [this, text] {
        QMessageBox box(QMessageBox::Question, QString::fromLatin1(kMessageBoxTitle),
                        DisplayText(text), QMessageBox::Yes | QMessageBox::No, this);
        box.setTextFormat(Qt::PlainText);
        return box.exec() == QMessageBox::Yes;
      },
      false);
}

bool CQtMainView::RunBlackListDialog(CDlgBlacklist& logic) {
  return m_gui.Ask<bool>([this, &logic] { return ExecBlackListDialog(logic, this, m_units); },
                         false);
}

void CQtMainView::ShowContextMenu(ContextMenu menu) {
  m_gui.Post([this, menu] {
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
  return m_gui.Ask<std::optional<std::string>>(
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
  m_gui.Post([this, wait] {
    m_logicWaitCursor = wait;
    ApplyInputState();
  });
}

void CQtMainView::SetClipboardText(const std::string& text) {
  m_gui.Post([text] { QGuiApplication::clipboard()->setText(FromBytes(text)); });
}

void CQtMainView::PlayTone(int frequencyHz, int durationMs) {
  m_gui.Post([this, frequencyHz, durationMs] {
    if (m_tones == nullptr) m_tones = new CTonePlayer(this);
    m_tones->Play(frequencyHz, durationMs);
  });
}

bool CQtMainView::IsCtrlHeld() const {
  std::lock_guard lock(m_mirrorMutex);
  return m_mirror.ctrlHeld;
}

void CQtMainView::OpenWebAddress(const std::string& url) {
  m_gui.Post([url] { QDesktopServices::openUrl(QUrl(FromBytes(url))); });
}

}  // namespace quorvik
