#pragma once
// Whether the packet filter lets device answers in: the rule listings of
// nftables (`nft list ruleset`) and iptables (`iptables-save`) read into
// one model of chains and rules, and walked for a UDP datagram to one of
// the tool's ports on the chosen card.
//
// Conntrack does not pair an answer with the broadcast that asked for it
// (the addresses differ), so every answer arrives as a new flow: a filter
// that admits only established traffic drops all of them. Answers come
// either to this computer's address or as a limited broadcast; both are
// walked, since devices use both.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quorvik {

struct FirewallRule {
  std::vector<std::string> conditions;  // tokens before the verdict, quoted text removed
  std::string verdict;                  // accept, drop, reject, jump, goto, return, or empty
  std::string target;                   // the chain of jump and goto
  std::string text;                     // the rule as listed, for messages
};

struct FirewallChain {
  std::string source;  // "nftables" or "iptables"
  std::string table;   // "inet filter", "filter", ...
  std::string name;
  bool baseChain = false;  // hooked into the incoming path (input or prerouting)
  bool policyDrop = false;
  std::vector<FirewallRule> rules;
};

std::vector<FirewallChain> ParseNftRuleset(std::string_view text);
std::vector<FirewallChain> ParseIptablesSave(std::string_view text);

enum class FirewallVerdict { kAccepted, kMayDrop, kDropped };

struct PortFilterResult {
  FirewallVerdict verdict = FirewallVerdict::kAccepted;
  std::string where;       // the rule or policy that drops (or may drop) it
  bool broadcast = false;  // the dropped form: limited broadcast, else unicast
};

// The worse outcome of a unicast and a broadcast answer to `port` on the
// card `ifName`, over every base chain in `chains`.
PortFilterResult FilterIncomingUdp(const std::vector<FirewallChain>& chains, uint16_t port,
                                   const std::string& ifName);

}  // namespace quorvik
