#include "diagnostics/firewall_rules.h"

#include <fnmatch.h>

#include <algorithm>
#include <cstdlib>
#include <sstream>

namespace quorvik {

namespace {

enum class Match { kNo, kMaybe, kYes };

Match And(Match a, Match b) {
  return std::min(a, b);
}
Match Negate(Match m, bool negated) {
  if (!negated || m == Match::kMaybe) return m;
  return m == Match::kYes ? Match::kNo : Match::kYes;
}
Match FromBool(bool b) {
  return b ? Match::kYes : Match::kNo;
}

// The datagram walked through the rules.
struct Packet {
  uint16_t port;
  const std::string& ifName;
  bool broadcast;
};

// Splits a listing line into words; quoted text is one word without its
// quotes, and braces and commas stand alone, so that "{ 1, 2 }" and "{1,2}"
// read alike.
std::vector<std::string> Words(std::string_view line) {
  std::vector<std::string> words;
  std::string current;
  auto flush = [&] {
    if (!current.empty()) words.push_back(std::move(current));
    current.clear();
  };
  for (size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (c == '"') {
      flush();
      const size_t end = line.find('"', i + 1);
      words.emplace_back(line.substr(i + 1, end == std::string_view::npos ? end : end - i - 1));
      if (end == std::string_view::npos) break;
      i = end;
    } else if (c == ' ' || c == '\t' || c == ';') {
      flush();
    } else if (c == '{' || c == '}' || c == ',') {
      flush();
      words.emplace_back(1, c);
    } else {
      current += c;
    }
  }
  flush();
  return words;
}

std::string Trim(std::string_view s) {
  const auto first = s.find_first_not_of(" \t\r");
  if (first == std::string_view::npos) return {};
  const auto last = s.find_last_not_of(" \t\r");
  return std::string(s.substr(first, last - first + 1));
}

bool StartsWith(std::string_view s, std::string_view prefix) {
  return s.substr(0, prefix.size()) == prefix;
}

// A value after an expression's key: one word, or every word of a "{ ... }"
// set. `at` moves past it.
std::vector<std::string> TakeValues(const std::vector<std::string>& w, size_t& at) {
  std::vector<std::string> values;
  if (at >= w.size()) return values;
  if (w[at] != "{") {
    values.push_back(w[at++]);
    while (at + 1 < w.size() && w[at] == ",") {  // "established,related"
      values.push_back(w[at + 1]);
      at += 2;
    }
    return values;
  }
  for (++at; at < w.size() && w[at] != "}"; ++at)
    if (w[at] != ",") values.push_back(w[at]);
  if (at < w.size()) ++at;
  return values;
}

// "6454", "10000-10010" (nft) or "10000:10010" (iptables).
bool PortInRange(const std::string& text, uint16_t port) {
  const auto dash = text.find_first_of("-:");
  char* end = nullptr;
  const long low = std::strtol(text.c_str(), &end, 10);
  if (end == text.c_str()) return false;
  const long high =
      dash == std::string::npos ? low : std::strtol(text.c_str() + dash + 1, nullptr, 10);
  return port >= low && port <= high;
}

Match PortMatch(const std::vector<std::string>& values, uint16_t port) {
  for (const auto& v : values) {
    if (!v.empty() && v[0] == '@') return Match::kMaybe;  // a named set: its elements are elsewhere
    if (PortInRange(v, port)) return Match::kYes;
  }
  return Match::kNo;
}

Match InterfaceMatch(const std::vector<std::string>& values, const std::string& ifName) {
  for (std::string v : values) {
    if (!v.empty() && v.back() == '+') v.back() = '*';  // iptables' wildcard
    if (::fnmatch(v.c_str(), ifName.c_str(), 0) == 0) return Match::kYes;
  }
  return Match::kNo;
}

bool Contains(const std::vector<std::string>& values, std::string_view wanted) {
  return std::any_of(values.begin(), values.end(), [&](const std::string& v) {
    std::string lower = v;
    std::transform(lower.begin(), lower.end(), lower.begin(), ::tolower);
    return lower == wanted;
  });
}

// Conntrack states as listed: "new", "established,related" or a set.
Match NewFlowMatch(const std::vector<std::string>& values) {
  std::vector<std::string> states;
  for (const auto& v : values) {
    std::stringstream split(v);
    for (std::string s; std::getline(split, s, ',');) states.push_back(s);
  }
  return FromBool(Contains(states, "new"));
}

Match AddressTypeMatch(const std::vector<std::string>& values, bool broadcast) {
  if (Contains(values, broadcast ? "broadcast" : "local")) return Match::kYes;
  if (!broadcast && Contains(values, "unicast")) return Match::kYes;
  return Match::kNo;
}

Match NftMatch(const std::vector<std::string>& w, const Packet& p) {
  Match result = Match::kYes;
  for (size_t at = 0; at < w.size() && result != Match::kNo;) {
    std::string key = w[at++];
    if (key == "meta" && at < w.size()) key = w[at++];
    bool negated = false;
    auto value = [&] {
      if (at < w.size() && (w[at] == "!=" || w[at] == "==")) negated = w[at++] == "!=";
      return TakeValues(w, at);
    };
    Match m = Match::kMaybe;
    if ((key == "udp" || key == "th") && at < w.size()) {
      const std::string field = w[at++];
      const auto values = value();
      m = field == "dport" ? Negate(PortMatch(values, p.port), negated) : Match::kMaybe;
    } else if (key == "tcp" || key == "icmp" || key == "icmpv6" || key == "ip6" || key == "sctp" ||
               key == "dccp" || key == "igmp" || key == "esp" || key == "ah" || key == "arp") {
      m = Match::kNo;  // another protocol, or IPv6 only
    } else if (key == "l4proto" || (key == "ip" && at < w.size() && w[at] == "protocol")) {
      if (key == "ip") ++at;
      const auto values = value();
      m = Negate(FromBool(Contains(values, "udp") || Contains(values, "17")), negated);
    } else if (key == "nfproto") {
      const auto values = value();
      m = Negate(FromBool(Contains(values, "ipv4")), negated);
    } else if (key == "iifname" || key == "iif") {
      const auto values = value();
      m = Negate(InterfaceMatch(values, p.ifName), negated);
    } else if (key == "oifname" || key == "oif") {
      value();
      m = Match::kNo;  // incoming datagrams have no output card yet
    } else if (key == "ct" && at < w.size()) {
      const std::string field = w[at++];
      const auto values = value();
      if (field == "state")
        m = Negate(NewFlowMatch(values), negated);
      else if (field == "status")
        m = Negate(FromBool(false), negated);  // answers are neither NATed nor expected
    } else if (key == "pkttype") {
      const auto values = value();
      m = Negate(FromBool(Contains(values, p.broadcast ? "broadcast" : "host")), negated);
    } else if (key == "ip" && at < w.size()) {
      const std::string field = w[at++];
      const auto values = value();
      if (field == "daddr" && Contains(values, "255.255.255.255"))
        m = Negate(FromBool(p.broadcast), negated);
    } else if (key == "fib") {
      // "fib daddr type local", "fib saddr . iif oif missing": routing
      // lookups this check cannot repeat.
      static const char* const kEnds[] = {"missing",   "exists",   "local",
                                          "broadcast", "unicast",  "multicast",
                                          "blackhole", "prohibit", "unreachable"};
      while (at < w.size() &&
             std::find(std::begin(kEnds), std::end(kEnds), w[at]) == std::end(kEnds))
        ++at;
      if (at < w.size()) {
        const std::string type = w[at++];
        if (type == "local" || type == "broadcast")
          m = FromBool(type == (p.broadcast ? "broadcast" : "local"));
      }
    } else if (key == "counter") {
      m = Match::kYes;
      while (at + 1 < w.size() && (w[at] == "packets" || w[at] == "bytes")) at += 2;
    } else if (key == "log") {
      m = Match::kYes;
      while (at + 1 < w.size() && (w[at] == "prefix" || w[at] == "level" || w[at] == "flags" ||
                                   w[at] == "group" || w[at] == "snaplen"))
        at += 2;
    } else if (key == "comment") {
      m = Match::kYes;
      ++at;
    }
    result = And(result, m);
  }
  return result;
}

Match IptablesMatch(const std::vector<std::string>& w, const Packet& p) {
  Match result = Match::kYes;
  bool negated = false;
  for (size_t at = 0; at < w.size() && result != Match::kNo;) {
    const std::string key = w[at++];
    if (key == "!") {
      negated = true;
      continue;
    }
    // A value, possibly a comma-separated list ("RELATED,ESTABLISHED").
    std::vector<std::string> values;
    if (at < w.size() && w[at][0] != '-' && w[at] != "!") {
      values.push_back(w[at++]);
      while (at + 1 < w.size() && w[at] == ",") {
        values.push_back(w[at + 1]);
        at += 2;
      }
    }
    Match m = Match::kMaybe;
    if (key == "-m" || key == "--match" || key == "--comment") {
      m = Match::kYes;
    } else if (key == "-p" || key == "--protocol") {
      m = FromBool(Contains(values, "udp") || Contains(values, "17") || Contains(values, "all"));
    } else if (key == "--dport" || key == "--dports" || key == "--destination-port" ||
               key == "--destination-ports") {
      m = PortMatch(values, p.port);
    } else if (key == "-i" || key == "--in-interface") {
      m = InterfaceMatch(values, p.ifName);
    } else if (key == "-o" || key == "--out-interface") {
      m = Match::kNo;
    } else if (key == "--ctstate" || key == "--state") {
      m = NewFlowMatch(values);
    } else if (key == "--dst-type") {
      m = AddressTypeMatch(values, p.broadcast);
    } else if (key == "--pkt-type") {
      m = FromBool(Contains(values, p.broadcast ? "broadcast" : "host"));
    } else if (key == "-d" || key == "--destination") {
      if (Contains(values, "255.255.255.255/32") || Contains(values, "255.255.255.255"))
        m = FromBool(p.broadcast);
    } else if (key == "--icmp-type" || key == "--tcp-flags" || key == "--syn") {
      m = Match::kNo;
    }
    result = And(result, Negate(m, negated));
    negated = false;
  }
  return result;
}

Match RuleMatch(const FirewallChain& chain, const FirewallRule& rule, const Packet& p) {
  return chain.source == "nftables" ? NftMatch(rule.conditions, p)
                                    : IptablesMatch(rule.conditions, p);
}

enum class Flow { kContinue, kAccept, kDrop, kReturn };

struct Walk {
  const std::vector<FirewallChain>& chains;
  Packet packet;
  bool uncertain = false;    // a rule that may have decided was passed over
  std::string dropWhere;     // the rule that drops
  std::string mayDropWhere;  // the first rule that may drop
};

const FirewallChain* FindChain(const Walk& walk, const FirewallChain& from,
                               const std::string& name) {
  for (const auto& c : walk.chains)
    if (c.source == from.source && c.table == from.table && c.name == name) return &c;
  return nullptr;
}

std::string Where(const FirewallChain& chain, const std::string& what) {
  return chain.source + " " + chain.table + " chain " + chain.name + ": " + what;
}

Flow RunChain(Walk& walk, const FirewallChain& chain, int depth) {
  if (depth > 16) {
    walk.uncertain = true;
    return Flow::kContinue;
  }
  for (const FirewallRule& rule : chain.rules) {
    if (rule.verdict.empty()) continue;
    const Match m = RuleMatch(chain, rule, walk.packet);
    if (m == Match::kNo) continue;
    const bool sure = m == Match::kYes;
    if (rule.verdict == "accept") {
      if (sure) return Flow::kAccept;
      walk.uncertain = true;
    } else if (rule.verdict == "drop" || rule.verdict == "reject") {
      if (sure) {
        walk.dropWhere = Where(chain, rule.text);
        return Flow::kDrop;
      }
      if (walk.mayDropWhere.empty()) walk.mayDropWhere = Where(chain, rule.text);
    } else if (rule.verdict == "return") {
      if (sure) return Flow::kReturn;
      walk.uncertain = true;
    } else if (rule.verdict == "jump" || rule.verdict == "goto") {
      const FirewallChain* target = FindChain(walk, chain, rule.target);
      if (target == nullptr) {
        walk.uncertain = true;
        continue;
      }
      const Flow flow = RunChain(walk, *target, depth + 1);
      if (!sure) {
        if (flow == Flow::kDrop && walk.mayDropWhere.empty()) walk.mayDropWhere = walk.dropWhere;
        if (flow != Flow::kContinue) walk.uncertain = true;
        continue;
      }
      if (flow == Flow::kAccept || flow == Flow::kDrop) return flow;
      if (rule.verdict == "goto") return Flow::kReturn;
    }
  }
  return Flow::kContinue;
}

PortFilterResult WalkBaseChains(const std::vector<FirewallChain>& chains, const Packet& packet) {
  PortFilterResult worst;
  for (const FirewallChain& chain : chains) {
    if (!chain.baseChain) continue;
    Walk walk{chains, packet, false, {}, {}};
    Flow flow = RunChain(walk, chain, 0);
    if (flow != Flow::kAccept && flow != Flow::kDrop && chain.policyDrop) {
      flow = Flow::kDrop;
      walk.dropWhere = Where(chain, "policy drop");
    }
    PortFilterResult here;
    here.broadcast = packet.broadcast;
    if (flow == Flow::kDrop) {
      here.verdict = walk.uncertain ? FirewallVerdict::kMayDrop : FirewallVerdict::kDropped;
      here.where = walk.dropWhere;
    } else if (!walk.mayDropWhere.empty()) {
      here.verdict = FirewallVerdict::kMayDrop;
      here.where = walk.mayDropWhere;
    }
    if (here.verdict > worst.verdict) worst = here;
  }
  return worst;
}

const char* const kVerdicts[] = {"accept", "drop", "reject", "jump", "goto", "return", "queue"};

FirewallRule NftRule(const std::string& line) {
  FirewallRule rule;
  rule.text = line;
  const auto words = Words(line);
  int depth = 0;
  for (size_t i = 0; i < words.size(); ++i) {
    const std::string& w = words[i];
    depth += w == "{" ? 1 : w == "}" ? -1 : 0;
    if (depth == 0 &&
        std::find(std::begin(kVerdicts), std::end(kVerdicts), w) != std::end(kVerdicts)) {
      rule.verdict = w == "queue" ? "" : w;
      if ((w == "jump" || w == "goto") && i + 1 < words.size()) rule.target = words[i + 1];
      break;
    }
    rule.conditions.push_back(w);
  }
  return rule;
}

}  // namespace

std::vector<FirewallChain> ParseNftRuleset(std::string_view text) {
  std::vector<FirewallChain> chains;
  std::string table;
  bool tableUsed = false;  // IPv4 traffic passes through it (families ip and inet)
  bool inChain = false;
  int skipDepth = 0;  // inside a set, map or other object block
  std::istringstream lines{std::string(text)};
  for (std::string raw; std::getline(lines, raw);) {
    const std::string line = Trim(raw);
    const auto opens = std::count(line.begin(), line.end(), '{');
    const auto closes = std::count(line.begin(), line.end(), '}');
    if (skipDepth > 0) {
      skipDepth += static_cast<int>(opens - closes);
      continue;
    }
    if (line.empty() || line[0] == '#') continue;
    const auto words = Words(line);
    if (words[0] == "table" && words.size() >= 3) {
      table = words[1] + " " + words[2];
      tableUsed = words[1] == "ip" || words[1] == "inet";
    } else if (words[0] == "chain" && words.size() >= 2 && !inChain) {
      inChain = true;
      chains.push_back({"nftables", table, words[1], false, false, {}});
    } else if (line == "}") {
      if (inChain)
        inChain = false;
      else
        table.clear();
    } else if (!inChain && opens > closes) {
      skipDepth = static_cast<int>(opens - closes);
    } else if (inChain && words[0] == "type") {
      const auto hook = std::find(words.begin(), words.end(), "hook");
      chains.back().baseChain = tableUsed && hook != words.end() && hook + 1 != words.end() &&
                                (hook[1] == "input" || hook[1] == "prerouting");
      const auto policy = std::find(words.begin(), words.end(), "policy");
      chains.back().policyDrop =
          policy != words.end() && policy + 1 != words.end() && policy[1] == "drop";
    } else if (inChain && words[0] == "policy" && words.size() >= 2) {
      chains.back().policyDrop = words[1] == "drop";
    } else if (inChain) {
      chains.back().rules.push_back(NftRule(line));
    }
  }
  return chains;
}

std::vector<FirewallChain> ParseIptablesSave(std::string_view text) {
  std::vector<FirewallChain> chains;
  std::string table;
  std::istringstream lines{std::string(text)};
  auto find = [&](const std::string& name) -> FirewallChain* {
    for (auto& c : chains)
      if (c.table == table && c.name == name) return &c;
    return nullptr;
  };
  for (std::string raw; std::getline(lines, raw);) {
    const std::string line = Trim(raw);
    if (line.empty() || line[0] == '#') continue;
    if (line[0] == '*') {
      table = line.substr(1);
    } else if (line[0] == ':') {
      const auto words = Words(line.substr(1));
      if (words.empty()) continue;
      FirewallChain chain{"iptables", table, words[0], false, false, {}};
      chain.baseChain = ((table == "filter" || table == "mangle") && words[0] == "INPUT") ||
                        ((table == "raw" || table == "mangle") && words[0] == "PREROUTING");
      chain.policyDrop = words.size() > 1 && words[1] == "DROP";
      chains.push_back(std::move(chain));
    } else if (StartsWith(line, "-A ")) {
      const auto words = Words(line);
      if (words.size() < 2) continue;
      FirewallChain* chain = find(words[1]);
      if (chain == nullptr) continue;
      FirewallRule rule;
      rule.text = Trim(std::string_view(line).substr(3 + words[1].size()));
      for (size_t i = 2; i < words.size(); ++i) {
        if ((words[i] == "-j" || words[i] == "--jump" || words[i] == "-g" ||
             words[i] == "--goto") &&
            i + 1 < words.size()) {
          const std::string& target = words[++i];
          const bool isGoto = words[i - 1] == "-g" || words[i - 1] == "--goto";
          if (target == "ACCEPT" || target == "DROP" || target == "REJECT" || target == "RETURN") {
            rule.verdict = target == "ACCEPT"   ? "accept"
                           : target == "DROP"   ? "drop"
                           : target == "REJECT" ? "reject"
                                                : "return";
          } else if (target == "LOG" || target == "NFLOG" || target == "MARK" ||
                     target == "CONNMARK" || target == "CT" || target == "TCPMSS" ||
                     target == "ULOG") {
            // Non-terminating targets: the datagram walks on.
          } else {
            rule.verdict = isGoto ? "goto" : "jump";
            rule.target = target;
          }
          // Options of the target itself are no conditions.
          while (i + 1 < words.size() && StartsWith(words[i + 1], "--")) i += 2;
          continue;
        }
        rule.conditions.push_back(words[i]);
      }
      chain->rules.push_back(std::move(rule));
    }
  }
  return chains;
}

PortFilterResult FilterIncomingUdp(const std::vector<FirewallChain>& chains, uint16_t port,
                                   const std::string& ifName) {
  const PortFilterResult unicast = WalkBaseChains(chains, {port, ifName, false});
  const PortFilterResult broadcast = WalkBaseChains(chains, {port, ifName, true});
  return broadcast.verdict > unicast.verdict ? broadcast : unicast;
}

}  // namespace quorvik
