#pragma once
// The three UDP endpoints on the chosen interface and their receiver
// threads. One session per opening: a receiver only ever reads the socket it
// was started for, and its session stops and joins it before closing that
// socket, so a descriptor number reused by a later opening is never read by
// an old receiver.

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "net/protocol.h"
#include "net/transport.h"

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
  CNetworkSession(const std::string& dotted, DeviceSession& devices, const Ipv4Address& card = {});
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
  Ipv4Address m_card{};
  std::array<Endpoint, 3> m_endpoints;
  int m_stopFd = -1;
};

// (Re)opens the network on the interface that holds the dotted address:
// stops and closes the previous session, binds the three ports, starts their
// receivers and empties `devices`' table. True when at least one port could
// be bound; an address of no interface binds none. `kAllNetworks` opens a
// session on each card of AllNetworkCards: searches go out on all of them,
// a request to a device through its own card.
bool OpenNetwork(DeviceSession& devices, const std::string& dotted);
// The ports the last OpenNetwork could not bind; empty when all three are
// open (on every card).
std::vector<PortProblem> NetworkPortProblems();
// Stops the receivers and closes the sockets; requests then fail to send.
void CloseNetwork();
// CloseNetwork, when the open session fills `devices`: their owner calls it
// before they go.
void CloseNetworkOf(const DeviceSession& devices);
// Receiver threads alive in this process, across all sessions.
int RunningReceiverCount();
// A socket as the receivers use it: tied to the card `ifName` and bound to
// `port` on any address. -1, with `error`, when there is no socket or it
// cannot be tied to the card; otherwise the socket, with `bound` false and
// `error` set when the port could not be bound.
int OpenPortSocket(const std::string& ifName, uint16_t port, bool& bound, int& error);
