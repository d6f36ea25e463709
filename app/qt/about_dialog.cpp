#include "app/qt/about_dialog.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>

#include "app/qt/dialog_units.h"

namespace quorvik {

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QString::fromUtf8("Info über Quorvik"));
  const CDialogUnits du = CDialogUnits::ForFont(font(), this);

  auto* icon = new QLabel(this);
  const int iconSide = du.X(21);
  icon->setPixmap(QApplication::windowIcon().pixmap(iconSide, iconSide));
  icon->setGeometry(du.X(11), du.Y(17), iconSide, iconSide);

  auto* name = new QLabel(QStringLiteral("Quorvik Version 1.41"), this);
  name->setGeometry(du.Rect(40, 10, 119, 8));
  auto* notice = new QLabel(QString::fromUtf8("Copyright © Belmarr"), this);
  notice->setGeometry(du.Rect(40, 25, 119, 8));

  auto* ok = new QPushButton(QStringLiteral("OK"), this);
  ok->setGeometry(du.Rect(178, 7, 50, 14));
  ok->setDefault(true);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);

  setFixedSize(du.X(235), du.Y(55));
}

}  // namespace quorvik
