#include "app/qt/tone_player.h"

#include <QAudioDevice>
#include <QAudioSink>
#include <QBuffer>
#include <QMediaDevices>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

namespace quorvik {

namespace {
constexpr double kAmplitude = 0.5;
constexpr int kFadeMs = 5;

template <typename T>
void Put(char*& out, T value, int channels) {
  for (int c = 0; c < channels; ++c) {
    std::memcpy(out, &value, sizeof value);
    out += sizeof value;
  }
}
}  // namespace

QByteArray ToneSamples(const QAudioFormat& format, int frequencyHz, int durationMs) {
  const int rate = format.sampleRate();
  const int channels = format.channelCount();
  const int bytesPerSample = format.bytesPerSample();
  if (rate <= 0 || channels <= 0 || bytesPerSample <= 0 || durationMs <= 0) return {};
  const qint64 frames = qint64(rate) * durationMs / 1000;
  const qint64 fadeFrames = std::min<qint64>(qint64(rate) * kFadeMs / 1000, frames / 2);
  QByteArray bytes(frames * channels * bytesPerSample, Qt::Uninitialized);
  char* out = bytes.data();
  for (qint64 i = 0; i < frames; ++i) {
    double envelope = 1.0;
    if (fadeFrames > 0) {
      if (i < fadeFrames) envelope = double(i) / fadeFrames;
      if (frames - 1 - i < fadeFrames) envelope = double(frames - 1 - i) / fadeFrames;
    }
    const double v =
        kAmplitude * envelope * std::sin(2 * std::numbers::pi * frequencyHz * double(i) / rate);
    switch (format.sampleFormat()) {
      case QAudioFormat::UInt8:
        Put(out, static_cast<quint8>(std::lround(128 + 127 * v)), channels);
        break;
      case QAudioFormat::Int16:
        Put(out, static_cast<qint16>(std::lround(32767 * v)), channels);
        break;
      case QAudioFormat::Int32:
        Put(out, static_cast<qint32>(std::llround(2147483647.0 * v)), channels);
        break;
      case QAudioFormat::Float:
        Put(out, static_cast<float>(v), channels);
        break;
      default:
        return {};
    }
  }
  return bytes;
}

void CTonePlayer::Play(int frequencyHz, int durationMs) {
  const QAudioDevice device = QMediaDevices::defaultAudioOutput();
  if (device.isNull()) return;
  QAudioFormat format;
  format.setSampleRate(48000);
  format.setChannelCount(1);
  format.setSampleFormat(QAudioFormat::Int16);
  if (!device.isFormatSupported(format)) format = device.preferredFormat();
  const QByteArray samples = ToneSamples(format, frequencyHz, durationMs);
  if (samples.isEmpty()) return;

  auto* buffer = new QBuffer(this);
  buffer->setData(samples);
  buffer->open(QIODevice::ReadOnly);
  auto* sink = new QAudioSink(device, format, this);
  connect(sink, &QAudioSink::stateChanged, this, [sink, buffer](QAudio::State state) {
    if (state == QAudio::ActiveState) return;
    // Idle: the samples have been played out; Stopped: the device failed.
    sink->disconnect();
    sink->stop();
    sink->deleteLater();
    buffer->deleteLater();
  });
  sink->start(buffer);
}

}  // namespace quorvik
