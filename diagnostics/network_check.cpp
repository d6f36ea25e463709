#include "diagnostics/network_check.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <pwd.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>

#include "commands/clock.h"
#include "net/frames.h"
#include "net/interfaces.h"
#include "net/network_session.h"
#include "net/protocol.h"

namespace quorvik {

namespace {

constexpr std::array<uint16_t, 3> kToolPorts = {kAppPort, kBootPortA, kBootPortB};
constexpr std::chrono::milliseconds kSearchStep{20};

const char* PortRole(uint16_t port) {
  return port == kAppPort ? "answers of running devices" : "answers of bootloaders";
}

std::string CardText(const NetworkCard& card) {
  return card.name + " " + FormatAddress(card.address) + "/" + std::to_string(card.prefixLength);
}

std::string Join(const std::vector<std::string>& parts, const char* separator) {
  std::string text;
  for (const auto& part : parts) text += (text.empty() ? "" : separator) + part;
  return text;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

std::optional<int> ReadInt(const std::string& path) {
  std::ifstream in(path);
  int value = 0;
  if (in >> value) return value;
  return std::nullopt;
}

std::string UserName(uint32_t uid) {
  std::array<char, 1024> buffer{};
  passwd entry{};
  passwd* found = nullptr;
  if (::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr)
    return found->pw_name;
  return "uid " + std::to_string(uid);
}

// Runs a listing program and collects its output; the program only reads.
RuleListing RunListing(const std::string& source, const std::vector<std::string>& argv) {
  RuleListing listing{source, false, "", ""};
  int out[2];
  if (::pipe2(out, O_CLOEXEC) != 0) {
    listing.why = "cannot run " + argv[0];
    return listing;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDERR_FILENO);
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid = -1;
  const int spawned = ::posix_spawn(&pid, argv[0].c_str(), &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(out[1]);
  std::string text;
  if (spawned == 0) {
    std::array<char, 4096> buffer;
    pollfd fd{out[0], POLLIN, 0};
    // A listing comes at once; a hung program is not waited for long.
    while (::poll(&fd, 1, 5000) > 0) {
      const ssize_t got = ::read(out[0], buffer.data(), buffer.size());
      if (got <= 0) break;
      text.append(buffer.data(), static_cast<size_t>(got));
    }
  }
  ::close(out[0]);
  int status = 0;
  if (spawned != 0) {
    listing.why = "cannot run " + argv[0];
    return listing;
  }
  ::kill(pid, SIGKILL);  // harmless when it has ended; ends one that hung
  ::waitpid(pid, &status, 0);
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0) {
    listing.read = true;
    listing.text = std::move(text);
  } else if (text.find("ermission denied") != std::string::npos ||
             text.find("ot permitted") != std::string::npos || ::geteuid() != 0) {
    listing.why = "reading the " + source + " rules needs root";
  } else {
    listing.why = argv[0] + " failed: " + text.substr(0, text.find('\n'));
  }
  return listing;
}

std::optional<std::string> FindProgram(std::initializer_list<const char*> paths) {
  for (const char* path : paths)
    if (::access(path, X_OK) == 0) return std::string(path);
  return std::nullopt;
}

std::vector<RuleListing> ReadRuleListings() {
  std::vector<RuleListing> listings;
  if (auto nft = FindProgram({"/usr/sbin/nft", "/sbin/nft"}))
    listings.push_back(RunListing("nftables", {*nft, "list", "ruleset"}));
  else
    listings.push_back({"nftables", false, "", "nft is not installed"});
  // Legacy iptables tables exist only when their module is loaded; listing
  // them otherwise could load it, and the check changes nothing. Rules made
  // with iptables-nft are in the nftables listing already.
  std::ifstream names("/proc/net/ip_tables_names");
  if (!names) {
    if (::access("/proc/net/ip_tables_names", F_OK) == 0)
      listings.push_back({"iptables", false, "", "reading the iptables rules needs root"});
  } else if (names.peek() != std::ifstream::traits_type::eof()) {
    if (auto save = FindProgram({"/usr/sbin/iptables-legacy-save", "/sbin/iptables-legacy-save",
                                 "/usr/sbin/iptables-save", "/sbin/iptables-save"}))
      listings.push_back(RunListing("iptables", {*save}));
    else
      listings.push_back({"iptables", false, "", "iptables-save is not installed"});
  }
  return listings;
}

bool Privileged() {
  if (::geteuid() == 0) return true;
  std::istringstream status(ReadFile("/proc/self/status"));
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("CapEff:", 0) != 0) continue;
    const unsigned long long caps = std::stoull(line.substr(7), nullptr, 16);
    return (caps >> 13) & 1;  // CAP_NET_RAW
  }
  return false;
}

class CSocket {
 public:
  explicit CSocket(int fd) : m_fd(fd) {}
  ~CSocket() {
    if (m_fd >= 0) ::close(m_fd);
  }
  CSocket(const CSocket&) = delete;
  CSocket& operator=(const CSocket&) = delete;
  int fd() const { return m_fd; }

 private:
  int m_fd;
};

}  // namespace

const char* CheckStatusName(CheckStatus status) {
  switch (status) {
    case CheckStatus::kPass:
      return "pass";
    case CheckStatus::kWarn:
      return "warn";
    case CheckStatus::kFail:
      return "fail";
  }
  return "";
}

std::vector<NetworkCard> QueryNetworkCards() {
  std::vector<NetworkCard> cards;
  ifaddrs* list = nullptr;
  if (::getifaddrs(&list) != 0) return cards;
  for (ifaddrs* it = list; it != nullptr; it = it->ifa_next) {
    if (it->ifa_addr == nullptr || it->ifa_addr->sa_family != AF_INET) continue;
    NetworkCard card;
    card.name = it->ifa_name ? it->ifa_name : "";
    std::memcpy(card.address.data(),
                &reinterpret_cast<const sockaddr_in*>(it->ifa_addr)->sin_addr.s_addr, 4);
    if (it->ifa_netmask != nullptr)
      card.prefixLength =
          std::popcount(reinterpret_cast<const sockaddr_in*>(it->ifa_netmask)->sin_addr.s_addr);
    card.up = (it->ifa_flags & IFF_UP) != 0;
    card.running = (it->ifa_flags & IFF_RUNNING) != 0;
    card.loopback = (it->ifa_flags & IFF_LOOPBACK) != 0;
    cards.push_back(std::move(card));
  }
  ::freeifaddrs(list);
  return cards;
}

std::vector<CheckResult> CheckInterfaces(const std::vector<NetworkCard>& cards,
                                         const std::string& requested, const std::string& stored,
                                         std::optional<NetworkCard>& chosen, CheckCaller caller) {
  const bool window = caller == CheckCaller::kWindow;
  std::vector<CheckResult> results;
  std::vector<std::string> upCards;
  std::vector<InterfaceAddress> addresses;
  bool realCard = false;
  for (const NetworkCard& card : cards) {
    if (!card.up) continue;
    upCards.push_back(CardText(card) + (card.running ? "" : " (no link)"));
    addresses.push_back({card.name, card.address, card.up, card.loopback});
    realCard = realCard || !card.loopback;
  }
  if (!realCard)
    results.push_back({CheckStatus::kFail, "interfaces", "No network card is up with IPv4",
                       upCards.empty() ? "none at all" : "only " + Join(upCards, ", "),
                       "Connect the cable and give the card an IPv4 address in the devices' "
                       "network (network settings, or: sudo ip addr add 192.168.1.10/24 dev "
                       "CARD)"});
  else
    results.push_back(
        {CheckStatus::kPass, "interfaces", "Cards up with IPv4", Join(upCards, ", "), ""});

  // The window's own choice, from the list it shows.
  const InterfaceList list = BuildInterfaceList("", addresses);
  std::optional<int> index;
  std::string how;
  if (!requested.empty()) {
    index = InterfaceIndexOf(list, requested);
    how = window ? "the window's Network choice" : "given with --iface";
    if (!index) {
      results.push_back({CheckStatus::kFail, "chosen", "No card holds " + requested, "",
                         window ? "The card has gone since the window listed it: start Quorvik "
                                  "again to list the cards as they are now"
                                : "Use one of the addresses of quorvik-cli interfaces"});
      return results;
    }
  } else if (list.count > 0) {
    index = StoredInterfaceIndex(list, stored);
    how = stored.empty() ? "the first card" : "the one stored in the settings";
    if (!stored.empty() && !InterfaceIndexOf(list, stored)) {
      how = "the first card";
      results.push_back({CheckStatus::kWarn, "stored",
                         "The stored network " + stored + " is on no card",
                         "the window uses the first card instead",
                         "Pick the network in the window's Network list; it is remembered"});
    }
  }
  if (!index) {
    results.push_back({CheckStatus::kFail, "chosen", "No card to search on", "", ""});
    return results;
  }
  for (const NetworkCard& card : cards)
    if (card.up && card.address == list.addresses[*index]) chosen = card;
  if (!chosen) return results;
  CheckResult result{CheckStatus::kPass, "chosen", "Searching on " + CardText(*chosen), how, ""};
  if (chosen->loopback) {
    result.status = CheckStatus::kWarn;
    result.detail += "; a loopback card reaches only this computer";
    result.advice = "Choose the card the devices are cabled to";
  } else if (!chosen->running) {
    result.status = CheckStatus::kWarn;
    result.detail += "; the card reports no link";
    result.advice = "Check the cable and the switch";
  }
  results.push_back(result);
  return results;
}

std::vector<UdpSocket> ParseProcNetUdp(const std::string& text, bool ipv6) {
  std::vector<UdpSocket> sockets;
  std::istringstream lines(text);
  std::string line;
  std::getline(lines, line);  // the header
  while (std::getline(lines, line)) {
    std::istringstream fields(line);
    std::string slot, local, remote, state, queues, timer, retransmits;
    UdpSocket socket;
    if (!(fields >> slot >> local >> remote >> state >> queues >> timer >> retransmits >>
          socket.uid))
      continue;
    std::string timeout;
    if (!(fields >> timeout >> socket.inode)) continue;
    const auto colon = local.find(':');
    if (colon == std::string::npos) continue;
    socket.port = static_cast<uint16_t>(std::stoul(local.substr(colon + 1), nullptr, 16));
    const std::string hex = local.substr(0, colon);
    if (!ipv6 && hex.size() == 8) {
      // The kernel prints the address as one word in host order.
      const uint32_t word = static_cast<uint32_t>(std::stoul(hex, nullptr, 16));
      Ipv4Address a;
      std::memcpy(a.data(), &word, 4);
      socket.local = FormatAddress(a);
    } else {
      socket.local = hex.find_first_not_of('0') == std::string::npos ? "[::]" : "[" + hex + "]";
    }
    sockets.push_back(std::move(socket));
  }
  return sockets;
}

ProcessSockets ScanProcessSockets(const std::string& procRoot) {
  ProcessSockets result;
  DIR* proc = ::opendir(procRoot.c_str());
  if (proc == nullptr) return result;
  while (dirent* entry = ::readdir(proc)) {
    const std::string name = entry->d_name;
    if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) continue;
    const std::string base = procRoot + "/" + name;
    DIR* fds = ::opendir((base + "/fd").c_str());
    if (fds == nullptr) {
      if (errno == EACCES || errno == EPERM) ++result.unreadable;
      continue;
    }
    std::string command = ReadFile(base + "/comm");
    if (!command.empty() && command.back() == '\n') command.pop_back();
    while (dirent* fd = ::readdir(fds)) {
      std::array<char, 64> target{};
      const std::string link = base + "/fd/" + fd->d_name;
      const ssize_t n = ::readlink(link.c_str(), target.data(), target.size() - 1);
      if (n <= 0) continue;
      const std::string text(target.data(), static_cast<size_t>(n));
      if (text.rfind("socket:[", 0) != 0) continue;
      const uint64_t inode = std::stoull(text.substr(8));
      auto& owners = result.owners[inode];
      if (owners.empty() || owners.back().pid != std::stoi(name))
        owners.push_back({std::stoi(name), command});
    }
    ::closedir(fds);
  }
  ::closedir(proc);
  return result;
}

std::vector<CheckResult> CheckPortHolders(const std::vector<UdpSocket>& sockets,
                                          const ProcessSockets& processes, uint32_t ownUid,
                                          int ownPid) {
  std::vector<CheckResult> results;
  for (uint16_t port : kToolPorts) {
    CheckResult result{CheckStatus::kPass, "port-" + std::to_string(port),
                       "UDP " + std::to_string(port) + " is free", PortRole(port), ""};
    std::vector<std::string> holders;
    bool hidden = false;
    for (const UdpSocket& socket : sockets) {
      if (socket.port != port) continue;
      const auto found = processes.owners.find(socket.inode);
      if (found != processes.owners.end() &&
          std::all_of(found->second.begin(), found->second.end(),
                      [&](const SocketOwner& owner) { return owner.pid == ownPid; }))
        continue;
      if (found != processes.owners.end()) {
        for (const SocketOwner& owner : found->second)
          holders.push_back(owner.command + " (pid " + std::to_string(owner.pid) + ", " +
                            UserName(socket.uid) + ", on " + socket.local + ")");
      } else if (socket.uid != ownUid || processes.unreadable > 0) {
        hidden = true;
        holders.push_back("a program of " + UserName(socket.uid) + " on " + socket.local +
                          " that /proc does not show to this user");
      } else {
        holders.push_back("a program of " + UserName(socket.uid) + " on " + socket.local);
      }
    }
    std::sort(holders.begin(), holders.end());
    holders.erase(std::unique(holders.begin(), holders.end()), holders.end());
    if (!holders.empty()) {
      result.status = CheckStatus::kWarn;
      result.title = "UDP " + std::to_string(port) + " is held by " + Join(holders, "; ");
      result.advice =
          "Close that program while you work with devices: a program that does not share the "
          "port keeps Quorvik from opening the network, and one that shares it may take answers "
          "meant for Quorvik";
      if (hidden) result.advice += ". Run the check as root (sudo) to see every program";
    }
    results.push_back(std::move(result));
  }
  return results;
}

CheckResult CheckFirewall(const std::vector<RuleListing>& listings, const std::string& ifName) {
  std::vector<FirewallChain> chains;
  std::vector<std::string> unread, read;
  for (const RuleListing& listing : listings) {
    if (!listing.read) {
      unread.push_back(listing.source + ": " + listing.why);
      continue;
    }
    read.push_back(listing.source);
    auto parsed = listing.source == "nftables" ? ParseNftRuleset(listing.text)
                                               : ParseIptablesSave(listing.text);
    chains.insert(chains.end(), parsed.begin(), parsed.end());
  }
  std::vector<std::string> dropped, mayDrop;
  for (uint16_t port : kToolPorts) {
    const PortFilterResult r = FilterIncomingUdp(chains, port, ifName);
    const std::string line = "UDP " + std::to_string(port) + " (" +
                             (r.broadcast ? "broadcast" : "unicast") + ") by " + r.where;
    if (r.verdict == FirewallVerdict::kDropped) dropped.push_back(line);
    if (r.verdict == FirewallVerdict::kMayDrop) mayDrop.push_back(line);
  }
  const std::string ports = "UDP 6454, 10001 and 10010";
  const std::string letIn =
      "Let the answers in: sudo ufw allow quorvik (ufw), or sudo firewall-cmd --permanent "
      "--add-service=quorvik && sudo firewall-cmd --reload (firewalld), or an accept rule for " +
      ports + " on " + ifName + " before the dropping one";
  if (!dropped.empty())
    return {CheckStatus::kFail, "firewall", "The firewall drops device answers",
            Join(dropped, "; "), letIn};
  if (!mayDrop.empty())
    return {CheckStatus::kWarn, "firewall", "The firewall may drop device answers",
            Join(mayDrop, "; "), letIn};
  if (!unread.empty())
    return {CheckStatus::kWarn, "firewall", "Firewall rules: unknown",
            Join(unread, "; ") +
                (read.empty() ? "" : "; no rule of " + Join(read, ", ") + " drops " + ports),
            "Run the check as root (sudo quorvik-cli doctor) to read them"};
  return {CheckStatus::kPass, "firewall", "No firewall rule drops " + ports,
          "read: " + Join(read, ", "), ""};
}

CheckResult CheckReversePath(std::optional<int> all, std::optional<int> card,
                             const std::string& ifName) {
  CheckResult result{CheckStatus::kPass, "rp_filter", "Reverse-path filtering", "", ""};
  if (!all && !card) {
    result.status = CheckStatus::kWarn;
    result.title += ": unknown";
    result.detail = "net.ipv4.conf.*.rp_filter could not be read";
    return result;
  }
  const int value = std::max(all.value_or(0), card.value_or(0));
  result.detail = "rp_filter " + std::to_string(value) + " on " + ifName + " (all " +
                  (all ? std::to_string(*all) : "?") + ", " + ifName + " " +
                  (card ? std::to_string(*card) : "?") + ")";
  if (value != 1) {
    result.title += value == 0 ? " is off" : " is loose";
    return result;
  }
  result.status = CheckStatus::kWarn;
  result.title += " is strict";
  result.detail +=
      ": answers from a device whose address is outside " + ifName + "'s network are dropped";
  std::string keys;
  if (all.value_or(0) == 1) keys += " net.ipv4.conf.all.rp_filter=2";
  if (card.value_or(0) == 1) keys += " net.ipv4.conf." + ifName + ".rp_filter=2";
  result.advice = "Give " + ifName +
                  " an address in the devices' network, or make the filter loose while you "
                  "work: sudo sysctl -w" +
                  keys;
  return result;
}

CheckResult CheckDeviceBinding(const std::string& kernelRelease, bool privileged) {
  int major = 0, minor = 0;
  CheckResult result{CheckStatus::kPass, "bind-to-device", "", "Linux " + kernelRelease, ""};
  if (std::sscanf(kernelRelease.c_str(), "%d.%d", &major, &minor) != 2) {
    result.status = CheckStatus::kWarn;
    result.title = "Binding sockets to a card: unknown kernel version";
    return result;
  }
  if (major > 5 || (major == 5 && minor >= 7)) {
    result.title = "Sockets can be bound to a card without privileges";
    return result;
  }
  if (privileged) {
    result.title = "Binding sockets to a card needs privileges, which this run has";
    return result;
  }
  result.status = CheckStatus::kFail;
  result.title = "Only privileged programs can bind sockets to a card (Linux before 5.7)";
  result.detail += ": the window cannot open the network";
  result.advice =
      "Update to Linux 5.7 or later, or allow it: sudo setcap cap_net_raw+ep /usr/bin/quorvik";
  return result;
}

std::vector<PortAnswers> SearchOnce(const std::string& ifName, std::chrono::milliseconds wait,
                                    IClock& clock) {
  std::vector<PortAnswers> ports;
  std::vector<std::unique_ptr<CSocket>> sockets;
  for (uint16_t port : {kBootPortA, kBootPortB, kAppPort}) {
    PortAnswers answers;
    answers.port = port;
    int error = 0;
    auto socket = std::make_unique<CSocket>(OpenPortSocket(ifName, port, answers.bound, error));
    if (socket->fd() < 0)
      answers.bindError = std::string("binding to ") + ifName + ": " + std::strerror(error);
    else if (!answers.bound)
      answers.bindError = std::strerror(error);
    ports.push_back(answers);
    sockets.push_back(std::move(socket));
  }
  std::array<uint8_t, kMaxRequestLength> frame;
  for (size_t i = 0; i < ports.size(); ++i) {
    if (!ports[i].bound) continue;
    const size_t length =
        ports[i].port == kAppPort ? EncodeAppSearch(frame) : EncodeBootSearch(frame);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_BROADCAST);
    to.sin_port = htons(ports[i].port);
    ::sendto(sockets[i]->fd(), frame.data(), length, 0, reinterpret_cast<const sockaddr*>(&to),
             sizeof to);
  }
  std::array<uint8_t, kReceiveBufferSize> buffer;
  for (std::chrono::milliseconds waited{0};; waited += kSearchStep) {
    for (size_t i = 0; i < ports.size(); ++i) {
      if (!ports[i].bound) continue;
      for (;;) {
        const ssize_t got = ::recv(sockets[i]->fd(), buffer.data(), buffer.size(), MSG_DONTWAIT);
        if (got < 0) break;
        const std::span<const uint8_t> datagram(buffer.data(), static_cast<size_t>(got));
        const bool ours = HasMagic(datagram, kBootMagic) || HasMagic(datagram, kAppMagic);
        const uint16_t opcode =
            got >= static_cast<ssize_t>(kHeaderLength) ? buffer[8] | (buffer[9] << 8) : 0;
        if (ours && opcode == kOpSearch) continue;  // a search: ours, or another tool's
        if (ours && opcode == kOpSearchReply)
          ++ports[i].answers;
        else
          ++ports[i].other;
      }
    }
    if (waited >= wait) break;
    clock.SleepFor(kSearchStep);
  }
  return ports;
}

CheckResult SearchResult(const std::vector<PortAnswers>& ports, const std::string& ifName) {
  std::vector<std::string> counts, errors;
  int answers = 0, other = 0, bound = 0;
  for (const PortAnswers& p : ports) {
    if (p.bound) {
      ++bound;
      counts.push_back(std::to_string(p.port) + ": " + std::to_string(p.answers));
    } else {
      errors.push_back(std::to_string(p.port) + ": " + p.bindError);
    }
    answers += p.answers;
    other += p.other;
  }
  CheckResult result{CheckStatus::kPass, "search", "", "", ""};
  result.detail = "answers per port " + Join(counts, ", ");
  if (other > 0) result.detail += "; " + std::to_string(other) + " other datagram(s)";
  if (!errors.empty())
    result.detail += (counts.empty() ? "" : "; ") + std::string("not opened ") + Join(errors, ", ");
  if (bound == 0) {
    result.status = CheckStatus::kFail;
    result.title = "No port could be opened on " + ifName;
    result.detail = "not opened " + Join(errors, ", ");
    result.advice = "See the lines about the ports and binding above";
    return result;
  }
  result.title = std::to_string(answers) + " answer(s) to a search on " + ifName;
  if (answers == 0) {
    result.status = CheckStatus::kWarn;
    result.advice =
        "Check the cable and that the devices are powered; then the firewall, reverse-path "
        "and port lines above";
  } else if (!errors.empty()) {
    result.status = CheckStatus::kWarn;
    result.advice = "See the lines about the ports above";
  }
  return result;
}

std::vector<CheckResult> RunNetworkCheck(const NetworkCheckRequest& request, IClock& clock,
                                         const std::function<void(const CheckResult&)>& onResult) {
  std::vector<CheckResult> results;
  auto add = [&](const CheckResult& r) {
    results.push_back(r);
    if (onResult) onResult(r);
  };
  std::vector<NetworkCard> chosen;
  const std::vector<NetworkCard> cards = QueryNetworkCards();
  const bool all = request.requestedAddress == kAllNetworks ||
                   (request.requestedAddress.empty() && request.storedAddress == kAllNetworks);
  if (all) {
    std::optional<NetworkCard> first;
    add(CheckInterfaces(cards, "", "", first, request.caller).front());
    std::vector<InterfaceAddress> addresses;
    for (const NetworkCard& card : cards)
      addresses.push_back({card.name, card.address, card.up, card.loopback});
    std::vector<std::string> names;
    for (const InterfaceAddress& a : AllNetworkCards(addresses))
      for (const NetworkCard& card : cards)
        if (card.name == a.name && card.address == a.address) {
          chosen.push_back(card);
          names.push_back(CardText(card));
          break;
        }
    if (chosen.empty())
      add({CheckStatus::kFail, "chosen", "No card to search on", "", ""});
    else
      add({CheckStatus::kPass, "chosen", "Searching on every card: " + Join(names, ", "),
           request.requestedAddress.empty() ? "All networks, as stored in the settings"
                                            : "given with --iface all",
           ""});
  } else {
    std::optional<NetworkCard> one;
    for (const auto& r : CheckInterfaces(cards, request.requestedAddress, request.storedAddress,
                                         one, request.caller))
      add(r);
    if (one) chosen.push_back(*one);
  }
  utsname system{};
  ::uname(&system);
  add(CheckDeviceBinding(system.release, Privileged()));

  std::vector<UdpSocket> sockets = ParseProcNetUdp(ReadFile("/proc/net/udp"), false);
  const auto v6 = ParseProcNetUdp(ReadFile("/proc/net/udp6"), true);
  sockets.insert(sockets.end(), v6.begin(), v6.end());
  for (const auto& r :
       CheckPortHolders(sockets, ScanProcessSockets("/proc"), ::getuid(), ::getpid()))
    add(r);

  if (chosen.empty()) {
    add(CheckFirewall(ReadRuleListings(), std::string()));
    return results;
  }
  // With every network, each card gets the checks that depend on it.
  for (const NetworkCard& card : chosen) {
    const std::string& ifName = card.name;
    add(CheckFirewall(ReadRuleListings(), ifName));
    add(CheckReversePath(ReadInt("/proc/sys/net/ipv4/conf/all/rp_filter"),
                         ReadInt("/proc/sys/net/ipv4/conf/" + ifName + "/rp_filter"), ifName));
    add(SearchResult(SearchOnce(ifName, request.searchWait, clock), ifName));
  }
  return results;
}

}  // namespace quorvik
