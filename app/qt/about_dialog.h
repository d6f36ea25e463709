#pragma once
// The about box: program name and version, the maker's notice, OK.

#include <QDialog>

namespace quorvik {

constexpr const char* kAboutMenuItem = "Inf&o über Quorvik...";

class CAboutDlg : public QDialog {
  Q_OBJECT
 public:
  explicit CAboutDlg(QWidget* parent = nullptr);
};

}  // namespace quorvik
