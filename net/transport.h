#pragma once
// Where request datagrams go. The network a program opens is the real one;
// tests hand a recording transport to the requests instead.

#include <cstdint>
#include <span>

#include "net/protocol.h"

namespace quorvik {

enum class SocketSlot { kBootA, kBootB, kApp };

class ITransport {
 public:
  virtual ~ITransport() = default;
  // Broadcasts one datagram to `port` through the socket of `slot`. True when
  // the system took the whole datagram.
  virtual bool Send(SocketSlot slot, uint16_t port, std::span<const uint8_t> datagram) = 0;
  // The same, through the card that holds `card` only (a request to one
  // device). A transport of one card has nowhere else to send it.
  virtual bool SendVia(const Ipv4Address& card, SocketSlot slot, uint16_t port,
                       std::span<const uint8_t> datagram) {
    (void)card;
    return Send(slot, port, datagram);
  }
};

}  // namespace quorvik
