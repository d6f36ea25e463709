#pragma once
// The application object: the Qt application, the real network and the
// main window. The program runs as long as the window is open.

#include <QApplication>
#include <string>

class CQuorvikApp {
 public:
  CQuorvikApp(int& argc, char** argv);
  // Shows the window (and the roll-call with `rollCallRig`, when given),
  // runs until it closes, then closes the sockets.
  int Run(const std::string& rollCallRig = {});

 private:
  QApplication m_application;
};
