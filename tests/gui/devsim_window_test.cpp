// The real window on the real sockets, against simulated devices on lo:
// start-up finds them all and Find finds them again. Runs only inside a
// private network namespace.

#include <QComboBox>
#include <QListWidget>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>

#include "app/qt/network_check_dialog.h"
#include "app/qt/quorvik_window.h"
#include "net/network_session.h"
#include "tests/support/netns_guard.h"

class DevsimWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void listsTheSimulatedDevices() {
    if (!InPrivateNetworkNamespace())
      QSKIP(
          "not inside a private network namespace holding only lo; run through scripts/netns-run");
    QTemporaryDir workDir;
    QVERIFY(QDir::setCurrent(workDir.path()));

    QProcess simulator;
    simulator.start(QStringLiteral(QUORVIK_DEVSIM_PATH),
                    {QStringLiteral("--config"), QStringLiteral(QUORVIK_DEMO_CONFIG)});
    QVERIFY(simulator.waitForStarted(5000));
    QByteArray printed;
    QTRY_VERIFY_WITH_TIMEOUT((printed += simulator.readAllStandardOutput()).contains("ready"),
                             5000);

    CSystemNetwork network;
    {
      // The start-up wait at a fifth of its length is still plenty on lo.
      QuorvikWindowOptions options;
      options.timeScale = 0.2;
      CQuorvikWindow window(network, options);
      window.Start();
      QTRY_VERIFY_WITH_TIMEOUT(!window.IsRunningCommand(), 10000);
      CQtMainView& view = window.view();
      QCOMPARE(view.networkCombo()->currentText(), QStringLiteral("127.0.0.1"));
      QTreeWidget* list = view.deviceList();
      // Four devices, one of them with two units more.
      QCOMPARE(list->topLevelItemCount(), 6);
      QStringList macs;
      for (int i = 0; i < list->topLevelItemCount(); ++i) macs << list->topLevelItem(i)->text(3);
      QVERIFY(macs.contains(QStringLiteral("02-10-20-30-40-01")));
      QVERIFY(!list->findItems(QStringLiteral("Demo Dimmer 4"), Qt::MatchExactly).isEmpty());
      QCOMPARE(view.statusLog()->item(view.statusLog()->count() - 1)->text(),
               QStringLiteral("6 Interfaces found"));

      view.button(Button::kFind)->click();
      QTRY_VERIFY_WITH_TIMEOUT(!window.IsRunningCommand(), 10000);
      QCOMPARE(list->topLevelItemCount(), 6);
      QCOMPARE(view.statusLog()->count(), 2);

      // The real network check, beside the window's own open ports: it
      // searches on the window's network and counts the simulator's answers.
      view.networkCheckAction()->trigger();
      CNetworkCheckDialog* dialog = window.networkCheckDialog();
      QVERIFY(dialog != nullptr);
      QTRY_VERIFY_WITH_TIMEOUT(!window.IsRunningCommand(), 20000);
      QMap<QString, QString> findings;
      for (int row = 0; row < dialog->model()->rowCount(); ++row) {
        const QModelIndex index = dialog->model()->index(row, 0);
        findings[index.data(CNetworkCheckModel::kIdRole).toString()] = index.data().toString();
      }
      QVERIFY2(findings.value(QStringLiteral("chosen")).contains(QStringLiteral("lo 127.0.0.1/8")),
               qPrintable(findings.value(QStringLiteral("chosen"))));
      QVERIFY(findings.value(QStringLiteral("chosen")).contains(QStringLiteral("Network choice")));
      const QString search = findings.value(QStringLiteral("search"));
      QVERIFY2(!search.isEmpty() && !search.contains(QStringLiteral(" 0 answer(s)")),
               qPrintable(search));
      dialog->close();
    }
    CloseNetwork();
    simulator.terminate();
    QVERIFY(simulator.waitForFinished(5000));
  }
};

QTEST_MAIN(DevsimWindowTest)
#include "devsim_window_test.moc"
