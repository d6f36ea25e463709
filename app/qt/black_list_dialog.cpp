#include "app/qt/black_list_dialog.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QTreeView>
#include <QVBoxLayout>

#include "app/qt/dialog_units.h"
#include "app/qt/models/black_list_model.h"
#include "devices/black_list.h"

namespace quorvik {

bool ExecBlackListDialog(CDlgBlacklist& logic, QWidget* parent, const CDialogUnits& units) {
  QDialog dialog(parent);
  dialog.setWindowTitle(QString::fromLatin1(CDlgBlacklist::kCaption));
  auto* model = new CBlackListModel(&dialog);
  auto* list = new QTreeView(&dialog);
  list->setRootIsDecorated(false);
  list->setUniformRowHeights(true);
  list->setSelectionMode(QAbstractItemView::SingleSelection);
  list->setSelectionBehavior(QAbstractItemView::SelectRows);
  list->setAllColumnsShowFocus(true);
  list->setModel(model);
  list->setColumnWidth(0, units.ScalePixels(CDlgBlacklist::kColumnWidth));
  list->header()->setStretchLastSection(true);
  const auto fill = [model, &logic] { model->SetEntries(logic.FillList()); };
  fill();
  auto* remove = new QPushButton(QStringLiteral("Delete"), &dialog);
  QObject::connect(remove, &QPushButton::clicked, &dialog, [list, &logic, fill] {
    // The selected row, not the current one: a focused list has a current
    // row even when the operator has selected none.
    const QModelIndexList selected = list->selectionModel()->selectedRows();
    logic.OnDelete(selected.isEmpty() ? -1 : selected.front().row());
    fill();
  });
  // No Cancel: Escape and the close box are the only ways out without OK.
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok);
  QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
  auto* layout = new QVBoxLayout(&dialog);
  layout->addWidget(list);
  auto* row = new QHBoxLayout;
  row->addWidget(remove);
  row->addStretch();
  row->addWidget(buttons);
  layout->addLayout(row);
  dialog.resize(units.ScalePixels(CDlgBlacklist::kColumnWidth) + 40, units.Y(150));
  return dialog.exec() == QDialog::Accepted;
}

}  // namespace quorvik
