#pragma once
// The three UDP endpoints on the chosen interface and their receiver
// threads. One session per opening: a receiver only ever reads the socket it
// was started for, and its session stops and joins it before closing that
// socket, so a descriptor number reused by a later opening is never read by
// an old receiver.

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "net/protocol.h"
#include "net/transport.h"

namespace quorvik {

struct DeviceSession;

// A port that an opening could not bind, and the system's reason.
struct PortProblem {
  uint16_t port = 0;
  int error = 0;  // errno
  // The card's address with every network open; empty with one card chosen.
  std::string card;
  bool operator==(const PortProblem&) const = default;
};

// "UDP port 6454 (devices running their application): Address already in
// use", with a hint where the reason is a common one; "10.1.0.1: UDP port
// ..." with every network open.
std::string PortProblemText(const PortProblem& problem);

class CNetworkSession : public ITransport {
 public:
  // Creates the sockets for the interface that holds `dotted` and starts a
  // receiver for each socket that could be bound; they fill `devices`, which
  // must outlive the session, marking what they hear with `card` (see
  // DeviceRecord::card).
  // `running` counts the receivers alive (its owner's count, across its
  // sessions).
  CNetworkSession(const std::string& dotted, DeviceSession& devices, std::atomic<int>& running,
                  const Ipv4Address& card = {});
  ~CNetworkSession() override;
  CNetworkSession(const CNetworkSession&) = delete;
  CNetworkSession& operator=(const CNetworkSession&) = delete;

  bool Send(SocketSlot slot, uint16_t port, std::span<const uint8_t> datagram) override;
  int BoundCount() const;
  DeviceSession& devices() const { return m_devices; }
  const Ipv4Address& card() const { return m_card; }
  // The ports that could not be bound, in the order 10001, 10010, 6454.
  std::vector<PortProblem> Problems() const;

 private:
  struct Endpoint {
    uint16_t port = 0;
    int fd = -1;
    bool bound = false;
    int error = 0;  // why it is not bound
    std::thread receiver;
  };
  void Stop();

  DeviceSession& m_devices;
  std::atomic<int>& m_running;
  Ipv4Address m_card{};
  std::array<Endpoint, 3> m_endpoints;
  int m_stopFd = -1;
};

// What a program has open on the devices' ports: one card's session, or
// with every network one session per card, all filling one DeviceSession,
// which must outlive it. Requests go out through it. Its owner keeps it
// beside the devices it fills; closing it (or its end) stops and joins the
// receivers before their sockets close.
class COpenNetwork : public ITransport {
 public:
  explicit COpenNetwork(DeviceSession& devices) : m_devices(devices) {}
  ~COpenNetwork() override;
  COpenNetwork(const COpenNetwork&) = delete;
  COpenNetwork& operator=(const COpenNetwork&) = delete;

  // (Re)opens on the interface that holds the dotted address: stops and
  // closes what was open, binds the three ports, starts their receivers
  // and empties the devices' table. True when at least one port could be
  // bound; an address of no interface binds none. `kAllNetworks` opens a
  // session on each card of AllNetworkCards: searches go out on all of
  // them, a request to a device through its own card.
  bool Open(const std::string& dotted);
  // Stops the receivers and closes the sockets; requests then fail to send.
  void Close();
  // The ports the last Open could not bind; empty when all three are open
  // (on every card).
  std::vector<PortProblem> Problems() const;
  // Receiver threads alive, across its sessions.
  int RunningReceivers() const { return m_running.load(); }

  // With one card exactly that card's frames; with every network each
  // search goes out on every card, and counts as sent where any took it
  // (a card that went down must not silence the others).
  bool Send(SocketSlot slot, uint16_t port, std::span<const uint8_t> datagram) override;
  bool SendVia(const Ipv4Address& card, SocketSlot slot, uint16_t port,
               std::span<const uint8_t> datagram) override;

 private:
  DeviceSession& m_devices;
  bool m_all = false;
  std::vector<std::unique_ptr<CNetworkSession>> m_cards;
  std::atomic<int> m_running{0};
};

// A socket as the receivers use it: tied to the card `ifName` and bound to
// `port` on any address. -1, with `error`, when there is no socket or it
// cannot be tied to the card; otherwise the socket, with `bound` false and
// `error` set when the port could not be bound.
int OpenPortSocket(const std::string& ifName, uint16_t port, bool& bound, int& error);

}  // namespace quorvik
