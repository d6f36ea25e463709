// The alert tones: the samples of a tone, and playing one through the
// window, with or without a sound device.

#include <QAudioFormat>
#include <QElapsedTimer>
#include <QTest>

#include "app/qt/qt_main_view.h"
#include "app/qt/tone_player.h"

using namespace quorvik;

class TonePlayerTest : public QObject {
  Q_OBJECT

 private slots:
  void tonesAreSinesOfTheAskedPitchAndLength() {
    QAudioFormat format;
    format.setSampleRate(8000);
    format.setChannelCount(1);
    format.setSampleFormat(QAudioFormat::Int16);
    const QByteArray tone = ToneSamples(format, 100, 100);
    QCOMPARE(tone.size(), 800 * 2);
    const auto* samples = reinterpret_cast<const qint16*>(tone.constData());
    int signChanges = 0;
    for (int i = 1; i < 800; ++i)
      if ((samples[i - 1] < 0) != (samples[i] < 0)) ++signChanges;
    QVERIFY(signChanges >= 19 && signChanges <= 21);  // 10 periods
    QCOMPARE(samples[0], qint16(0));                  // faded in: no click

    format.setSampleFormat(QAudioFormat::Float);
    format.setChannelCount(2);
    QCOMPARE(ToneSamples(format, 1000, 100).size(), 800 * 2 * 4);
    format.setSampleFormat(QAudioFormat::Unknown);
    QVERIFY(ToneSamples(format, 1000, 100).isEmpty());

    // With or without a sound device, a tone never blocks or fails.
    CQtMainView view;
    QElapsedTimer timer;
    timer.start();
    view.PlayTone(100, 100);
    QVERIFY(timer.elapsed() < 2000);
  }
};

QTEST_MAIN(TonePlayerTest)
#include "tone_player_test.moc"
