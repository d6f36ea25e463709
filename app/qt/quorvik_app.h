#pragma once
// The application object: the Qt application, the real network and the
// main window. The program runs as long as the window is open.

#include <QApplication>

class CQuorvikApp {
 public:
  CQuorvikApp(int& argc, char** argv);
  // Shows the window, runs until it closes, then closes the sockets.
  int Run();

 private:
  QApplication m_application;
};
