#pragma once
// A transport that records every request datagram instead of sending it.

#include <functional>
#include <vector>

#include "net/transport.h"

namespace quorvik {

struct Sent {
  SocketSlot slot;
  uint16_t port;
  std::vector<uint8_t> bytes;
  // The card a request to one device named (all zeros: any, or a search).
  Ipv4Address card{};
};

// `onSend` plays the device, which may answer before Send even returns.
class CRecordingTransport : public ITransport {
 public:
  bool Send(SocketSlot slot, uint16_t port, std::span<const uint8_t> datagram) override {
    sent.push_back({slot, port, {datagram.begin(), datagram.end()}});
    if (onSend) onSend(sent.back());
    return failAfter < 0 || static_cast<int>(sent.size()) <= failAfter;
  }
  bool SendVia(const Ipv4Address& card, SocketSlot slot, uint16_t port,
               std::span<const uint8_t> datagram) override {
    const bool sentOk = Send(slot, port, datagram);
    sent.back().card = card;
    return sentOk;
  }
  std::vector<Sent> sent;
  std::function<void(const Sent&)> onSend;
  int failAfter = -1;
};

}  // namespace quorvik
