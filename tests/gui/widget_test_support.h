#pragma once
// What the widget tests share: the played devices most of them list, and
// acting on a modal window from inside its loop.

#include <QApplication>
#include <QObject>
#include <QTimer>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "net/reply_processing.h"
#include "tests/support/datagram_builder.h"
#include "tests/support/fake_main_view.h"

inline const std::vector<uint8_t> kMacA = {0x00, 0x0A, 0x95, 0x9D, 0x68, 0x16};
inline const std::vector<uint8_t> kMacB = {0x02, 0x10, 0x20, 0x30, 0x40, 0xAB};
// Any byte a device may send, a format directive and a separator included:
// the list shows it and the black-list stores it as sent.
inline const std::string kOddName = "B\xFChne 50%s;\x7F\xFF";

// Row 0 a generation-1 bootloader without factory reset, row 1 a node in
// application mode named kOddName.
inline void TwoDevicesAnswer(CFakeNetwork& network) {
  network.onSearch = [](bool boot) {
    if (boot)
      ProcessDatagram(kBootPortA,
                      Gen1Answer(1, 0x0105, 0x0461, 512, kMacA, IdentityBytes(0x01, 11)).Span());
    else
      ProcessDatagram(kAppPort, AppAnswer(0x0203, kMacB, kOddName, IdentityBytes(0xA0, 11)).Span());
  };
}

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
