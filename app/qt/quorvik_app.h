#pragma once
// The application object: the Qt application, the real network and the
// main window. The program runs as long as the window is open.

#include <QApplication>
#include <string>

namespace quorvik {

class CQuorvikApp {
 public:
  CQuorvikApp(int& argc, char** argv);
  // Shows the window (and the roll-call with `rollCallRig`, when given),
  // runs until it closes, then closes the sockets.
  // Results go to the system journal too unless `systemJournal` is false.
  int Run(const std::string& rollCallRig = {}, bool systemJournal = true,
          const std::string& stationFile = {});

 private:
  QApplication m_application;
};

}  // namespace quorvik
