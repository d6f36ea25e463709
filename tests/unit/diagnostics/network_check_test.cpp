// The network check's findings from recorded listings: /proc/net/udp,
// nftables and iptables rule sets, sysctls, kernel versions and cards.

#include "diagnostics/network_check.h"

#include <gtest/gtest.h>

#include <fstream>

using namespace quorvik;

namespace {

std::string Fixture(const std::string& name) {
  std::ifstream in(std::string(QUORVIK_NETWORK_CHECK_FIXTURES) + "/" + name);
  EXPECT_TRUE(in) << name;
  return {std::istreambuf_iterator<char>(in), {}};
}

TEST(FirewallRules, RecordedRuleSetsDropOrLetInTheAnswers) {
  using V = FirewallVerdict;
  struct Case {
    const char* fixture;
    const char* card;
    uint16_t port;
    V verdict;
    const char* where;
  } cases[] = {
      {"nft_debian_default", "eth0", 6454, V::kAccepted, ""},
      // Established-only rules never admit answers to a broadcast; a rule on
      // source addresses might.
      {"nft_stateful_drop", "eth0", 6454, V::kMayDrop,
       "nftables inet filter chain input: policy drop"},
      {"nft_stateful_drop", "eth0", 10010, V::kAccepted, ""},
      {"nft_stateful_drop", "lo", 10001, V::kAccepted, ""},
      {"nft_firewalld", "eth0", 10001, V::kAccepted, ""},
      {"nft_firewalld", "eth1", 6454, V::kAccepted, ""},
      {"nft_firewalld_without_service", "eth0", 6454, V::kDropped,
       "nftables inet firewalld chain filter_INPUT: reject with icmpx admin-prohibited"},
      {"iptables_ufw_default", "eth0", 10001, V::kDropped,
       "iptables filter chain INPUT: policy drop"},
      {"iptables_ufw_allow_quorvik", "eth0", 10010, V::kAccepted, ""},
  };
  for (const Case& c : cases) {
    const std::string text = Fixture(c.fixture);
    const auto chains = std::string(c.fixture).rfind("nft", 0) == 0 ? ParseNftRuleset(text)
                                                                    : ParseIptablesSave(text);
    const PortFilterResult r = FilterIncomingUdp(chains, c.port, c.card);
    EXPECT_EQ(r.verdict, c.verdict) << c.fixture << " " << c.card << " " << c.port;
    EXPECT_EQ(r.where, c.where) << c.fixture << " " << c.card << " " << c.port;
  }
  // ufw without the profile drops broadcast answers on their own path too.
  const auto ufw = ParseIptablesSave(Fixture("iptables_ufw_default"));
  EXPECT_EQ(FilterIncomingUdp(ufw, 6454, "eth0").broadcast, false);
  const auto broadcastOnly = ParseIptablesSave(
      "*filter\n:INPUT ACCEPT [0:0]\n-A INPUT -m pkttype --pkt-type broadcast -p udp --dport "
      "6454 -j DROP\nCOMMIT\n");
  const PortFilterResult r = FilterIncomingUdp(broadcastOnly, 6454, "eth0");
  EXPECT_EQ(r.verdict, V::kDropped);
  EXPECT_TRUE(r.broadcast);
}

TEST(NetworkCheck, FirewallFindingSaysWhatDropsOrThatTheRulesAreUnknown) {
  const RuleListing dropping{"nftables", true, Fixture("nft_firewalld_without_service"), ""};
  CheckResult r = CheckFirewall({dropping}, "eth0");
  EXPECT_EQ(r.status, CheckStatus::kFail);
  EXPECT_NE(r.advice.find("sudo ufw allow quorvik"), std::string::npos);
  EXPECT_NE(r.advice.find("--add-service=quorvik"), std::string::npos);

  const RuleListing hidden{"nftables", false, "", "reading the nftables rules needs root"};
  r = CheckFirewall({hidden}, "eth0");
  EXPECT_EQ(r.status, CheckStatus::kWarn);
  EXPECT_EQ(r.title, "Firewall rules: unknown");
  EXPECT_EQ(r.detail, "nftables: reading the nftables rules needs root");

  r = CheckFirewall({{"nftables", true, Fixture("nft_firewalld"), ""}}, "eth0");
  EXPECT_EQ(r.status, CheckStatus::kPass);
}

TEST(NetworkCheck, PortHoldersAreNamedOrSaidToBeHidden) {
  auto sockets = ParseProcNetUdp(Fixture("proc_net_udp"), false);
  const auto v6 = ParseProcNetUdp(Fixture("proc_net_udp6"), true);
  sockets.insert(sockets.end(), v6.begin(), v6.end());
  ASSERT_EQ(sockets.size(), 4u);
  EXPECT_EQ(sockets[1].local, "10.0.0.10");
  EXPECT_EQ(sockets[1].port, 10001);

  ProcessSockets processes;
  processes.owners[48211] = {{812, "olad"}};
  processes.unreadable = 3;
  auto results = CheckPortHolders(sockets, processes, 4242, 77);
  ASSERT_EQ(results.size(), 3u);
  EXPECT_EQ(results[0].title, "UDP 6454 is held by olad (pid 812, uid 4242, on 0.0.0.0)");
  EXPECT_EQ(results[0].advice.find("sudo"), std::string::npos);
  EXPECT_EQ(results[1].title,
            "UDP 10001 is held by a program of uid 4107 on 10.0.0.10 that /proc does not show to "
            "this user");
  EXPECT_NE(results[1].advice.find("Run the check as root"), std::string::npos);
  EXPECT_EQ(results[2].title,
            "UDP 10010 is held by a program of root on [::] that /proc does not show to this user");
  for (const auto& r : results) EXPECT_EQ(r.status, CheckStatus::kWarn);

  // The checking program's own socket is no other program's.
  processes.owners[61001] = {{77, "quorvik"}};
  results = CheckPortHolders(sockets, processes, 4242, 77);
  EXPECT_EQ(results[2].status, CheckStatus::kPass);
  EXPECT_EQ(results[2].title, "UDP 10010 is free");
}

TEST(NetworkCheck, CardsAndTheOneTheWindowWouldSearchOn) {
  const NetworkCard eth0{"eth0", {192, 168, 1, 10}, 24, true, true, false};
  const NetworkCard eth1{"eth1", {10, 0, 0, 1}, 8, true, false, false};
  const NetworkCard lo{"lo", {127, 0, 0, 1}, 8, true, true, true};
  struct Case {
    std::vector<NetworkCard> cards;
    std::string requested, stored;
    std::vector<std::string> findings;  // id:status
    std::string chosen;
  } cases[] = {
      {{lo, eth0, eth1}, "", "", {"interfaces:pass", "chosen:pass"}, "eth0"},
      {{lo, eth0, eth1}, "", "10.0.0.1", {"interfaces:pass", "chosen:warn"}, "eth1"},
      {{lo, eth0, eth1},
       "",
       "172.16.0.1",
       {"interfaces:pass", "stored:warn", "chosen:pass"},
       "eth0"},
      {{lo, eth0}, "1.2.3.4", "", {"interfaces:pass", "chosen:fail"}, ""},
      {{lo}, "", "", {"interfaces:fail", "chosen:warn"}, "lo"},
      {{}, "", "", {"interfaces:fail", "chosen:fail"}, ""},
  };
  for (const Case& c : cases) {
    std::optional<NetworkCard> chosen;
    std::vector<std::string> findings;
    for (const auto& r : CheckInterfaces(c.cards, c.requested, c.stored, chosen))
      findings.push_back(r.id + ":" + CheckStatusName(r.status));
    EXPECT_EQ(findings, c.findings) << c.requested << "/" << c.stored;
    EXPECT_EQ(chosen ? chosen->name : "", c.chosen) << c.requested << "/" << c.stored;
  }
  // The window's own network, gone from the cards: its user is not sent
  // to a command-line tool.
  std::optional<NetworkCard> chosen;
  const auto window = CheckInterfaces({lo, eth0}, "10.9.9.9", "", chosen, CheckCaller::kWindow);
  EXPECT_EQ(window.back().status, CheckStatus::kFail);
  EXPECT_EQ(window.back().advice.find("quorvik-cli"), std::string::npos);
}

TEST(NetworkCheck, ReversePathKernelAndSearchFindings) {
  struct Case {
    CheckResult result;
    CheckStatus status;
    const char* advice;  // a part of it
  } cases[] = {
      {CheckReversePath(0, 2, "eth0"), CheckStatus::kPass, ""},
      {CheckReversePath(1, 0, "eth0"), CheckStatus::kWarn,
       "sysctl -w net.ipv4.conf.all.rp_filter=2"},
      {CheckReversePath(0, 1, "eth0"), CheckStatus::kWarn,
       "sysctl -w net.ipv4.conf.eth0.rp_filter=2"},
      {CheckReversePath(std::nullopt, std::nullopt, "eth0"), CheckStatus::kWarn, ""},
      {CheckDeviceBinding("6.1.0-18-amd64", false), CheckStatus::kPass, ""},
      {CheckDeviceBinding("5.7.0", false), CheckStatus::kPass, ""},
      {CheckDeviceBinding("5.6.19", false), CheckStatus::kFail, "Linux 5.7 or later"},
      {CheckDeviceBinding("4.19.0", true), CheckStatus::kPass, ""},
      {CheckDeviceBinding("unknown", false), CheckStatus::kWarn, ""},
      {SearchResult({{10001, true, "", 2, 0}, {10010, true, "", 0, 0}, {6454, true, "", 1, 3}},
                    "eth0"),
       CheckStatus::kPass, ""},
      {SearchResult({{10001, true, "", 0, 0}, {10010, false, "Address already in use", 0, 0}},
                    "eth0"),
       CheckStatus::kWarn, "Check the cable"},
      {SearchResult({{10001, false, "binding to eth0: Operation not permitted", 0, 0}}, "eth0"),
       CheckStatus::kFail, "binding"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.result.status, c.status) << c.result.title << ": " << c.result.detail;
    EXPECT_NE(c.result.advice.find(c.advice), std::string::npos) << c.result.advice;
  }
  EXPECT_EQ(cases[9].result.detail,
            "answers per port 10001: 2, 10010: 0, 6454: 1; 3 other datagram(s)");
}

}  // namespace
