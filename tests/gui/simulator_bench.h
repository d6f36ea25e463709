#pragma once
// What the window tests on the real sockets share: they run only inside a
// private network namespace, in a scratch working folder of their own,
// against quorvik-devsim started on a config file and heard ready; at the
// end the window's network closes before the simulator is ended.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>
#include <QTest>
#include <string>

#include "net/network_session.h"
#include "tests/support/netns_guard.h"

namespace quorvik {

// Skips the calling test outside such a namespace.
#define QUORVIK_SKIP_OUTSIDE_PRIVATE_NETNS()                                             \
  do {                                                                                   \
    if (!InPrivateNetworkNamespace())                                                    \
      QSKIP(                                                                             \
          "not inside a private network namespace holding only lo; run through scripts/" \
          "netns-run");                                                                  \
  } while (false)

class CSimulatorBench {
 public:
  // Makes the scratch folder the working directory.
  CSimulatorBench() : m_entered(QDir::setCurrent(m_workDir.path())) {}

  bool entered() const { return m_entered; }
  // The scratch folder, as the file system names it.
  std::string dir() const { return QFile::encodeName(m_workDir.path()).toStdString(); }

  // Starts the simulator of `executable` on the config file `config`; true
  // once it runs, within 5 s.
  bool Start(const char* executable, const QString& config) {
    m_simulator.start(QString::fromLocal8Bit(executable), {QStringLiteral("--config"), config});
    return m_simulator.waitForStarted(5000);
  }
  // True once it has said that its ports are bound, within 5 s.
  bool Ready() {
    QByteArray printed;
    return QTest::qWaitFor(
        [&] { return (printed += m_simulator.readAllStandardOutput()).contains("ready"); }, 5000);
  }
  // Ends the simulator (the window's network closed with the window); true
  // once it has ended, within 5 s.
  bool Stop() {
    m_simulator.terminate();
    return m_simulator.waitForFinished(5000);
  }

 private:
  QTemporaryDir m_workDir;
  bool m_entered;
  QProcess m_simulator;
};

}  // namespace quorvik
