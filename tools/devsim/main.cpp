// quorvik-devsim: simulated devices on the real UDP protocol, for the tests,
// the benchmarks and the demo. It broadcasts every answer, so it must only
// ever run on a loopback interface inside a private network namespace.

#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "base/fd.h"
#include "net/protocol.h"
#include "tools/devsim/flood.h"
#include "tools/devsim/simulation.h"

using namespace quorvik;

namespace {

constexpr int kExitRuntime = 1;
constexpr int kExitUsage = 2;
constexpr std::array<uint16_t, 3> kPorts = {kBootPortA, kBootPortB, kAppPort};

void PrintLine(const std::string& line) {
  std::fputs(line.c_str(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

uint64_t NowMs() {
  using namespace std::chrono;
  return static_cast<uint64_t>(
      duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

// Checks that the interface exists and, unless the operator insists,
// that it is a loopback one: answers go out as broadcasts and would
// otherwise reach every real device and tool on the segment.
bool CheckInterface(const std::string& iface, bool allowRealNetwork) {
  if (iface.empty() || iface.size() >= IFNAMSIZ || ::if_nametoindex(iface.c_str()) == 0) {
    std::fprintf(stderr, "quorvik-devsim: no network interface named '%s'\n", iface.c_str());
    return false;
  }
  CFd probe(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  ifreq request{};
  std::memcpy(request.ifr_name, iface.c_str(), iface.size());
  if (probe.Get() < 0 || ::ioctl(probe.Get(), SIOCGIFFLAGS, &request) != 0) {
    std::fprintf(stderr, "quorvik-devsim: cannot read the flags of '%s': %s\n", iface.c_str(),
                 std::strerror(errno));
    return false;
  }
  if ((request.ifr_flags & IFF_LOOPBACK) == 0 && !allowRealNetwork) {
    std::fprintf(stderr,
                 "quorvik-devsim: '%s' is not a loopback interface; the simulator broadcasts "
                 "its answers and refuses to run on a real network without "
                 "--allow-real-network\n",
                 iface.c_str());
    return false;
  }
  return true;
}

// Every socket listens on INADDR_ANY so that it hears limited broadcasts,
// and is tied to the interface so that it hears nothing from elsewhere and
// its broadcasts leave only there. The tool binds the same ports on the same
// host, hence SO_REUSEADDR.
CFd OpenPort(uint16_t port, const std::string& iface) {
  CFd fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  const int on = 1;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_ANY);
  address.sin_port = htons(port);
  if (fd.Get() < 0 || ::setsockopt(fd.Get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
      ::setsockopt(fd.Get(), SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0 ||
      ::setsockopt(fd.Get(), SOL_SOCKET, SO_BINDTODEVICE, iface.c_str(),
                   static_cast<socklen_t>(iface.size())) != 0 ||
      ::bind(fd.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    std::fprintf(stderr, "quorvik-devsim: cannot bind UDP port %u on '%s': %s\n", port,
                 iface.c_str(), std::strerror(errno));
    return CFd();
  }
  return fd;
}

// The tool tells devices apart by the address they answer from; on lo every
// answer would come from 127.0.0.1. With a source, the answer carries that
// address instead (IP_PKTINFO picks the source of one datagram), so several
// simulators on one lo play devices on addresses of their own.
ssize_t SendFrom(int fd, const sockaddr_in& target, std::span<const uint8_t> bytes,
                 const in_addr& source) {
  iovec data{const_cast<uint8_t*>(bytes.data()), bytes.size()};
  alignas(cmsghdr) std::array<char, CMSG_SPACE(sizeof(in_pktinfo))> control{};
  msghdr message{};
  message.msg_name = const_cast<sockaddr_in*>(&target);
  message.msg_namelen = sizeof target;
  message.msg_iov = &data;
  message.msg_iovlen = 1;
  message.msg_control = control.data();
  message.msg_controllen = control.size();
  cmsghdr* header = CMSG_FIRSTHDR(&message);
  header->cmsg_level = IPPROTO_IP;
  header->cmsg_type = IP_PKTINFO;
  header->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
  in_pktinfo info{};
  info.ipi_spec_dst = source;
  std::memcpy(CMSG_DATA(header), &info, sizeof info);
  return ::sendmsg(fd, &message, 0);
}

bool Broadcast(int fd, uint16_t port, std::span<const uint8_t> bytes,
               const std::optional<in_addr>& source) {
  sockaddr_in target{};
  target.sin_family = AF_INET;
  target.sin_addr.s_addr = htonl(INADDR_BROADCAST);
  target.sin_port = htons(port);
  const ssize_t sent = source ? SendFrom(fd, target, bytes, *source)
                              : ::sendto(fd, bytes.data(), bytes.size(), 0,
                                         reinterpret_cast<const sockaddr*>(&target), sizeof target);
  if (sent != static_cast<ssize_t>(bytes.size())) {
    std::fprintf(stderr, "quorvik-devsim: sending to port %u failed: %s\n", port,
                 std::strerror(errno));
    return false;
  }
  return true;
}

// An answer from an address that no interface holds would be refused at
// the first send; better to say so before printing "ready".
std::optional<in_addr> LocalSource(const std::string& dotted) {
  in_addr address{};
  if (::inet_pton(AF_INET, dotted.c_str(), &address) != 1) {
    std::fprintf(stderr, "quorvik-devsim: '%s' is no IPv4 address\n", dotted.c_str());
    return std::nullopt;
  }
  CFd probe(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_addr = address;
  if (probe.Get() < 0 ||
      ::bind(probe.Get(), reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
    std::fprintf(stderr, "quorvik-devsim: cannot answer from %s: %s\n", dotted.c_str(),
                 std::strerror(errno));
    return std::nullopt;
  }
  return address;
}

// Drains one socket; it is non-blocking, so a burst of requests is taken in
// one wake-up.
void ReceiveAll(int fd, uint16_t port, CSimulation& simulation) {
  std::array<uint8_t, 2048> buffer;
  for (;;) {
    const ssize_t length = ::recv(fd, buffer.data(), buffer.size(), 0);
    if (length < 0) {
      if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
        std::fprintf(stderr, "quorvik-devsim: receiving on port %u failed: %s\n", port,
                     std::strerror(errno));
      if (errno == EINTR) continue;
      return;
    }
    simulation.OnDatagram(port, std::span(buffer.data(), static_cast<size_t>(length)), NowMs());
  }
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"Simulated Quorvik devices on the local UDP bootloader protocol"};
  app.set_version_flag("--version", "quorvik-devsim " QUORVIK_VERSION);
  std::string configPath;
  std::string iface = "lo";
  std::string dumpDir;
  std::string source;
  bool log = false;
  bool allowRealNetwork = false;
  uint32_t floodRate = 0;
  int floodDevices = 150;
  uint32_t floodSeconds = 0;
  app.add_option("--config", configPath, "device configuration (JSON)")->required();
  app.add_option("--iface", iface, "network interface to serve (default lo)");
  app.add_flag("--log", log, "print one line per received request, sent answer and event");
  app.add_option("--dump-dir", dumpDir, "write each device's received image here at exit");
  app.add_option("--source", source,
                 "answer from this address of the interface (default: the system's choice)");
  app.add_flag("--allow-real-network", allowRealNetwork,
               "allow a non-loopback interface (answers are broadcast onto it)");
  auto* flood = app.add_option("--flood", floodRate,
                               "also flood all three ports with this many datagrams a second "
                               "(0: as fast as possible): answers of many devices, duplicates, "
                               "truncated, oversized and wrong frames, stray acknowledgements");
  app.add_option("--flood-devices", floodDevices, "distinct devices in the flood (default 150)")
      ->check(CLI::Range(1, 60000));
  app.add_option("--flood-seconds", floodSeconds, "stop the flood after this long (0: never)");
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int code = app.exit(e);
    return code == 0 ? 0 : kExitUsage;
  }

  // A simulator whose test or demo died would keep answering, and keep the
  // test runner's output pipe open, for ever.
  ::prctl(PR_SET_PDEATHSIG, SIGTERM);

  ConfigResult loaded = LoadSimConfigFile(configPath);
  if (!loaded.config) {
    std::fprintf(stderr, "quorvik-devsim: %s\n", loaded.error.c_str());
    return kExitUsage;
  }
  if (!CheckInterface(iface, allowRealNetwork)) return kExitUsage;
  std::optional<in_addr> sourceAddress;
  if (!source.empty() && !(sourceAddress = LocalSource(source))) return kExitUsage;

  // Blocked before any socket exists, so a signal that arrives early still
  // ends up in the signal descriptor and the summary is printed.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  if (::sigprocmask(SIG_BLOCK, &signals, nullptr) != 0) {
    std::perror("quorvik-devsim: sigprocmask");
    return kExitRuntime;
  }
  CFd signalFd(::signalfd(-1, &signals, SFD_CLOEXEC | SFD_NONBLOCK));
  if (signalFd.Get() < 0) {
    std::perror("quorvik-devsim: signalfd");
    return kExitRuntime;
  }

  std::vector<CFd> sockets;
  for (uint16_t port : kPorts) {
    sockets.push_back(OpenPort(port, iface));
    if (sockets.back().Get() < 0) return kExitRuntime;
  }

  auto socketFor = [&](uint16_t port) {
    for (size_t i = 0; i < kPorts.size(); ++i) {
      if (kPorts[i] == port) return sockets[i].Get();
    }
    return -1;
  };
  // Each loader's own address, checked before the first answer.
  std::map<std::string, in_addr> loaderSources;
  for (const DeviceConfig& device : loaded.config->devices) {
    if (device.loaderSource.empty() || loaderSources.count(device.loaderSource) != 0) continue;
    const auto address = LocalSource(device.loaderSource);
    if (!address) return kExitUsage;
    loaderSources[device.loaderSource] = *address;
  }
  CSimulation simulation(
      std::move(loaded.config->devices),
      [&](uint16_t port, std::span<const uint8_t> bytes, const std::string& from) {
        return Broadcast(socketFor(port), port, bytes,
                         from.empty() ? sourceAddress : std::optional(loaderSources.at(from)));
      },
      log ? CSimulation::LogSink(PrintLine) : CSimulation::LogSink());

  CFlood flooder(iface, floodDevices, floodRate, floodSeconds);
  if (flood->count() > 0 && !flooder.Start()) {
    std::fprintf(stderr, "quorvik-devsim: cannot open the flood socket: %s\n",
                 std::strerror(errno));
    return kExitRuntime;
  }

  simulation.SetReady(NowMs());
  PrintLine("ready");

  std::vector<pollfd> fds;
  for (const CFd& socket : sockets) fds.push_back({socket.Get(), POLLIN, 0});
  fds.push_back({signalFd.Get(), POLLIN, 0});

  bool running = true;
  while (running) {
    int timeout = -1;
    if (auto due = simulation.NextDueMs()) {
      const uint64_t now = NowMs();
      timeout = *due <= now ? 0 : static_cast<int>(std::min<uint64_t>(*due - now, 60'000));
    }
    const int ready = ::poll(fds.data(), fds.size(), timeout);
    if (ready < 0 && errno != EINTR) {
      std::perror("quorvik-devsim: poll");
      return kExitRuntime;
    }
    if (ready > 0) {
      for (size_t i = 0; i < kPorts.size(); ++i) {
        if (fds[i].revents & POLLIN) ReceiveAll(fds[i].fd, kPorts[i], simulation);
      }
      if (fds.back().revents & POLLIN) running = false;
    }
    simulation.RunDue(NowMs());
  }

  flooder.Stop();
  if (flood->count() > 0) PrintLine("summary flood sent=" + std::to_string(flooder.Sent()));
  for (const std::string& line : simulation.SummaryLines()) PrintLine(line);
  if (!dumpDir.empty()) {
    std::string error = simulation.WriteImages(dumpDir);
    if (!error.empty()) {
      std::fprintf(stderr, "quorvik-devsim: %s\n", error.c_str());
      return kExitRuntime;
    }
  }
  return 0;
}
