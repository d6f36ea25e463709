#pragma once
// The network check: why devices might not answer, one finding per line,
// each with what to do about it. It only reads the system (interfaces,
// /proc, the firewall's rule listings, sysctls) and searches; it never
// changes anything. No toolkit: quorvik-cli prints the findings and the
// window can show them.

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "commands/clock.h"
#include "diagnostics/firewall_rules.h"
#include "net/interfaces.h"

namespace quorvik {

enum class CheckStatus { kPass, kWarn, kFail };
const char* CheckStatusName(CheckStatus status);  // "pass", "warn", "fail"

struct CheckResult {
  CheckStatus status = CheckStatus::kPass;
  std::string id;  // stable, for scripts: "interfaces", "port-6454", "firewall", ...
  std::string title;
  std::string detail;
  std::string advice;  // what to do; empty when there is nothing to do
};

// One IPv4 address of a card, with what the check needs beyond the
// window's interface list.
struct NetworkCard {
  std::string name;
  Ipv4Address address{};
  int prefixLength = 0;
  bool up = false;
  bool running = false;  // link detected
  bool loopback = false;
};
std::vector<NetworkCard> QueryNetworkCards();

// Who asks for the check: the findings say where a requested address came
// from and what to do when no card holds it in that program's own terms.
enum class CheckCaller { kCommandLine, kWindow };

// The cards that are up with IPv4, and the one the window would use:
// `requested` (an address) when given, else `stored` (SELECTED_IP), else
// the first. `chosen` is set when there is one.
std::vector<CheckResult> CheckInterfaces(const std::vector<NetworkCard>& cards,
                                         const std::string& requested, const std::string& stored,
                                         std::optional<NetworkCard>& chosen,
                                         CheckCaller caller = CheckCaller::kCommandLine);

// A UDP socket from /proc/net/udp or udp6.
struct UdpSocket {
  std::string local;  // address as listed, for messages
  uint16_t port = 0;
  uint32_t uid = 0;
  uint64_t inode = 0;
};
std::vector<UdpSocket> ParseProcNetUdp(const std::string& text, bool ipv6);

struct SocketOwner {
  int pid = 0;
  std::string command;
};
// Which processes hold which socket inodes, from /proc/PID/fd, and how many
// processes could not be looked into.
struct ProcessSockets {
  std::map<uint64_t, std::vector<SocketOwner>> owners;
  int unreadable = 0;
};
ProcessSockets ScanProcessSockets(const std::string& procRoot);

// One finding per port of the tool: free, or who holds it. Sockets of
// `ownPid` alone are left out: the window checks with its own ports open.
std::vector<CheckResult> CheckPortHolders(const std::vector<UdpSocket>& sockets,
                                          const ProcessSockets& processes, uint32_t ownUid,
                                          int ownPid);

// A rule listing as read, or why it could not be.
struct RuleListing {
  std::string source;  // "nftables", "iptables"
  bool read = false;
  std::string text;
  std::string why;  // when not read
};
CheckResult CheckFirewall(const std::vector<RuleListing>& listings, const std::string& ifName);

// rp_filter of "all" and of the card; the kernel uses the larger.
CheckResult CheckReversePath(std::optional<int> all, std::optional<int> card,
                             const std::string& ifName);

// Unprivileged SO_BINDTODEVICE arrived with Linux 5.7.
CheckResult CheckDeviceBinding(const std::string& kernelRelease, bool privileged);

// Answers to one search, per port.
struct PortAnswers {
  uint16_t port = 0;
  bool bound = false;
  std::string bindError;
  int answers = 0;  // search answers of devices
  int other = 0;    // any other datagram but our own requests
};
CheckResult SearchResult(const std::vector<PortAnswers>& ports, const std::string& ifName);
// Binds the three ports on the card as the window does, sends both
// searches and counts what arrives during `wait` (in steps of the clock, so
// that a cancelling clock can end it).
std::vector<PortAnswers> SearchOnce(const std::string& ifName, std::chrono::milliseconds wait,
                                    IClock& clock);

struct NetworkCheckRequest {
  std::string requestedAddress;  // --iface, or the window's network; empty: as the window picks
  CheckCaller caller = CheckCaller::kCommandLine;
  std::string storedAddress;  // SELECTED_IP of the settings
  std::chrono::milliseconds searchWait{2000};
};

// Every check in order; `onResult` sees each finding as it is made (the
// search takes seconds).
std::vector<CheckResult> RunNetworkCheck(const NetworkCheckRequest& request, IClock& clock,
                                         const std::function<void(const CheckResult&)>& onResult);

}  // namespace quorvik
