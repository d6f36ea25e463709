#pragma once

#include <QApplication>
#include <QObject>
#include <QTimer>
#include <QWidget>
#include <functional>

// Acts on the next modal window once it shows, from inside its own loop.
// `act` must end the dialog: a test that asserts inside it would leave the
// loop running.
inline void WhenModalShows(QObject* owner, std::function<void(QWidget*)> act) {
  auto* poll = new QTimer(owner);
  QObject::connect(poll, &QTimer::timeout, owner, [poll, act = std::move(act)] {
    if (QWidget* modal = QApplication::activeModalWidget()) {
      poll->stop();
      poll->deleteLater();
      act(modal);
    }
  });
  poll->start(10);
}
