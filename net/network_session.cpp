#include "net/network_session.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <memory>

#include "net/interfaces.h"
#include "net/protocol.h"
#include "net/reply_processing.h"

namespace quorvik {

namespace {

// A flood can keep a socket readable for ever; after this many datagrams the
// receiver looks at its stop signal again.
constexpr int kBurst = 64;
constexpr int kReceiveBufferBytes = 1 << 20;

// Counted from its start by the session, so the count is exact as soon as
// the opening returns.
void RunReceiver(int fd, int stopFd, uint16_t port, DeviceSession* devices, Ipv4Address card,
                 std::atomic<int>* running) {
  // Each receiver has its own buffer; a datagram longer than it is cut.
  std::array<uint8_t, kReceiveBufferSize> buffer;
  pollfd fds[2] = {{fd, POLLIN, 0}, {stopFd, POLLIN, 0}};
  for (;;) {
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (fds[1].revents != 0 || (fds[0].revents & POLLNVAL) != 0) break;
    for (int i = 0; i < kBurst; ++i) {
      sockaddr_in from{};
      socklen_t fromLength = sizeof from;
      ssize_t got = ::recvfrom(fd, buffer.data(), buffer.size(), MSG_DONTWAIT,
                               reinterpret_cast<sockaddr*>(&from), &fromLength);
      if (got < 0) break;  // drained, or an error report: nothing to process
      Ipv4Address sender{};
      if (fromLength >= sizeof from && from.sin_family == AF_INET)
        std::memcpy(sender.data(), &from.sin_addr.s_addr, sender.size());
      ProcessDatagram(*devices, port, buffer.data(), static_cast<size_t>(got), sender, card);
    }
  }
  --*running;
}

const char* PortRole(uint16_t port) {
  return port == kAppPort ? "devices running their application" : "devices in their bootloader";
}

}  // namespace

int OpenPortSocket(const std::string& ifName, uint16_t port, bool& bound, int& error) {
  bound = false;
  int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    error = errno;
    return -1;
  }
  // Without the device binding a broadcast would leave by the default route,
  // which may be a network the operator did not choose: such a socket is
  // not used at all.
  if (::setsockopt(fd, SOL_SOCKET, SO_BINDTODEVICE, ifName.c_str(),
                   static_cast<socklen_t>(ifName.size())) != 0) {
    error = errno;
    ::close(fd);
    return -1;
  }
  int on = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  ::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
  ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &kReceiveBufferBytes, sizeof kReceiveBufferBytes);
  // Devices may answer by limited broadcast, which a socket bound to a
  // unicast address never sees; the device binding keeps it to one interface.
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_addr.s_addr = htonl(INADDR_ANY);
  local.sin_port = htons(port);
  bound = ::bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) == 0;
  if (!bound) error = errno;
  return fd;
}

CNetworkSession::CNetworkSession(const std::string& dotted, DeviceSession& devices,
                                 std::atomic<int>& running, const Ipv4Address& card)
    : m_devices(devices), m_running(running), m_card(card) {
  m_endpoints[0].port = kBootPortA;
  m_endpoints[1].port = kBootPortB;
  m_endpoints[2].port = kAppPort;
  m_stopFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  const int stopError = m_stopFd < 0 ? errno : 0;
  auto address = ParseAddress(dotted);
  auto ifName = address ? InterfaceNameFor(*address) : std::nullopt;
  if (!ifName || m_stopFd < 0) {
    for (Endpoint& e : m_endpoints) e.error = m_stopFd < 0 ? stopError : ENODEV;
    return;
  }
  for (Endpoint& e : m_endpoints) {
    e.fd = OpenPortSocket(*ifName, e.port, e.bound, e.error);
    if (!e.bound) continue;
    ++m_running;
    e.receiver = std::thread(RunReceiver, e.fd, m_stopFd, e.port, &m_devices, m_card, &m_running);
  }
}

CNetworkSession::~CNetworkSession() {
  Stop();
}

void CNetworkSession::Stop() {
  if (m_stopFd >= 0) {
    uint64_t one = 1;
    [[maybe_unused]] ssize_t ignored = ::write(m_stopFd, &one, sizeof one);
  }
  for (Endpoint& e : m_endpoints)
    if (e.receiver.joinable()) e.receiver.join();
  for (Endpoint& e : m_endpoints) {
    if (e.fd >= 0) ::close(e.fd);
    e.fd = -1;
  }
  if (m_stopFd >= 0) ::close(m_stopFd);
  m_stopFd = -1;
}

bool CNetworkSession::Send(SocketSlot slot, uint16_t port, std::span<const uint8_t> datagram) {
  const Endpoint& e = m_endpoints[static_cast<size_t>(slot)];
  if (e.fd < 0) return false;
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_addr.s_addr = htonl(INADDR_BROADCAST);
  to.sin_port = htons(port);
  ssize_t sent = ::sendto(e.fd, datagram.data(), datagram.size(), 0,
                          reinterpret_cast<const sockaddr*>(&to), sizeof to);
  return sent == static_cast<ssize_t>(datagram.size());
}

std::vector<PortProblem> CNetworkSession::Problems() const {
  std::vector<PortProblem> problems;
  for (const Endpoint& e : m_endpoints)
    if (!e.bound) problems.push_back({e.port, e.error, {}});
  return problems;
}

int CNetworkSession::BoundCount() const {
  int n = 0;
  for (const Endpoint& e : m_endpoints) n += e.bound ? 1 : 0;
  return n;
}

COpenNetwork::~COpenNetwork() {
  Close();
}

void COpenNetwork::Close() {
  m_cards.clear();
}

bool COpenNetwork::Open(const std::string& dotted) {
  Close();
  m_all = dotted == kAllNetworks;
  if (!m_all)
    m_cards.push_back(std::make_unique<CNetworkSession>(dotted, m_devices, m_running));
  else
    for (const InterfaceAddress& card : AllNetworkCards(QueryInterfaceAddresses()))
      m_cards.push_back(std::make_unique<CNetworkSession>(FormatAddress(card.address), m_devices,
                                                          m_running, card.address));
  {
    std::lock_guard lock(m_devices.deviceMutex);
    ClearDeviceTable(m_devices.deviceTable);
    m_devices.droppedCount = 0;
  }
  int bound = 0;
  for (const auto& card : m_cards) bound += card->BoundCount();
  return bound > 0;
}

bool COpenNetwork::Send(SocketSlot slot, uint16_t port, std::span<const uint8_t> datagram) {
  if (!m_all) return !m_cards.empty() && m_cards[0]->Send(slot, port, datagram);
  bool any = false;
  for (const auto& card : m_cards) any = card->Send(slot, port, datagram) || any;
  return any;
}

bool COpenNetwork::SendVia(const Ipv4Address& card, SocketSlot slot, uint16_t port,
                           std::span<const uint8_t> datagram) {
  if (!m_all) return Send(slot, port, datagram);
  // A record heard on no open card (the network was opened again since)
  // has no way out: broadcasting it everywhere would reach devices it does
  // not name on networks the operator did not pick for it.
  for (const auto& open : m_cards)
    if (open->card() == card) return open->Send(slot, port, datagram);
  return false;
}

std::vector<PortProblem> COpenNetwork::Problems() const {
  if (m_all && m_cards.empty()) return {{kBootPortA, ENODEV, ""}};
  std::vector<PortProblem> problems;
  for (const auto& card : m_cards)
    for (PortProblem& p : card->Problems()) {
      if (m_all) p.card = FormatAddress(card->card());
      problems.push_back(std::move(p));
    }
  return problems;
}

std::string PortProblemText(const PortProblem& problem) {
  std::string text = (problem.card.empty() ? "" : problem.card + ": ") + "UDP port " +
                     std::to_string(problem.port) + " (" + PortRole(problem.port) + "): " +
                     (problem.error == ENODEV ? "no interface holds the chosen address"
                                              : std::strerror(problem.error));
  if (problem.error == EADDRINUSE) text += "; another program holds it";
  if (problem.error == EPERM || problem.error == EACCES)
    text += "; this system does not let the program bind to the interface";
  return text;
}

}  // namespace quorvik
