#include "app/qt/quorvik_app.h"

#include <QIcon>

#include "app/network.h"
#include "app/qt/quorvik_window.h"
#include "net/network_session.h"

CQuorvikApp::CQuorvikApp(int& argc, char** argv) : m_application(argc, argv) {
  QApplication::setApplicationName(QStringLiteral("Quorvik"));
  QApplication::setApplicationVersion(QStringLiteral("1.41"));
  // Lets the desktop match the window to quorvik.desktop and its icon.
  QGuiApplication::setDesktopFileName(QStringLiteral("quorvik"));
  QIcon icon;
  for (int size : {16, 32, 48, 256})
    icon.addFile(QStringLiteral(":/icons/quorvik-%1.png").arg(size), QSize(size, size));
  QApplication::setWindowIcon(icon);
}

int CQuorvikApp::Run() {
  CSystemNetwork network;
  int result = 0;
  {
    CQuorvikWindow window(network);
    window.Start();
    result = QApplication::exec();
  }
  // The command thread has ended with the window; no request is under way.
  CloseNetwork();
  return result;
}
