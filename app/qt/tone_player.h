#pragma once
// The alert tones: a sine of the asked pitch and length, generated and
// played through the default audio output. Without an audio output nothing
// sounds; the command waits the tone's length either way.

#include <QAudioFormat>
#include <QByteArray>
#include <QObject>

namespace quorvik {

// `durationMs` of a sine at `frequencyHz` in the sample format of `format`,
// all channels alike, with short fades so that the tone starts and stops
// without a click. Empty for a sample format it cannot write.
QByteArray ToneSamples(const QAudioFormat& format, int frequencyHz, int durationMs);

class CTonePlayer : public QObject {
  Q_OBJECT
 public:
  using QObject::QObject;
  // Window thread only. Returns at once; the tone plays on.
  void Play(int frequencyHz, int durationMs);
};

}  // namespace quorvik
