// The real sockets and receiver threads, on lo inside a private network
// namespace: binding, re-opening, ports held by other programs, and what the
// receivers make of datagrams of any length.

#include <gtest/gtest.h>
#include <unistd.h>

#include "net/interfaces.h"
#include "net/network_session.h"
#include "net/reply_processing.h"
#include "net/requests.h"
#include "tests/support/datagram_builder.h"
#include "tests/support/loopback.h"
#include "tests/support/netns_guard.h"

using namespace quorvik;

namespace {

const std::vector<uint8_t> kMac = {0x00, 0x0A, 0x95, 0x9D, 0x68, 0x16};

class NetworkSession : public ::testing::Test {
 protected:
  void SetUp() override { QUORVIK_REQUIRE_PRIVATE_NETNS(); }

  int Used() const {
    std::lock_guard lock(devices.deviceMutex);
    return CountUsedRecords(devices.deviceTable);
  }
  bool WaitForUsed(int n) const {
    return WaitUntil([this, n] { return Used() == n; });
  }

  DeviceSession devices;
  COpenNetwork network{devices};
};

TEST_F(NetworkSession, ReopeningClosesTheOldSessionAndEmptiesTheTable) {
  ASSERT_TRUE(network.Open("127.0.0.1"));
  EXPECT_EQ(network.RunningReceivers(), 3);
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round);
    ASSERT_TRUE(BroadcastOnLoopback(
        kBootPortA, Gen1Answer(1, 0x0100, 0x2000, 256, kMac, IdentityBytes(0x10, 11)).Span()));
    ASSERT_TRUE(WaitForUsed(1));
    ASSERT_TRUE(network.Open("127.0.0.1"));
    EXPECT_EQ(Used(), 0);
    EXPECT_EQ(network.RunningReceivers(), 3);
  }
  // Each new receiver reads its own new socket.
  ASSERT_TRUE(BroadcastOnLoopback(kAppPort,
                                  AppAnswer(0x0100, kMac, "Node", IdentityBytes(0x20, 11)).Span()));
  EXPECT_TRUE(WaitForUsed(1));
  network.Close();
  EXPECT_EQ(network.RunningReceivers(), 0);
  EXPECT_FALSE(RequestBootSearch(network));
}

TEST_F(NetworkSession, AnAddressOfNoInterfaceOpensNothingAndSendsNothing) {
  EXPECT_FALSE(network.Open("203.0.113.5"));
  EXPECT_FALSE(network.Open("No Ethernet connection !"));
  EXPECT_EQ(network.RunningReceivers(), 0);
  EXPECT_FALSE(RequestBootSearch(network));
  EXPECT_FALSE(RequestAppSearch(network));
}

TEST_F(NetworkSession, APortHeldByAnotherProgramOnlyLosesThatPort) {
  const int holder = HoldPort(kAppPort);
  ASSERT_GE(holder, 0);
  ASSERT_TRUE(network.Open("127.0.0.1"));
  EXPECT_EQ(network.RunningReceivers(), 2);
  // Requests still leave through the unbound socket.
  EXPECT_TRUE(RequestAppSearch(network));
  ASSERT_TRUE(BroadcastOnLoopback(kAppPort,
                                  AppAnswer(0x0100, kMac, "Node", IdentityBytes(0x20, 11)).Span()));
  ASSERT_TRUE(BroadcastOnLoopback(
      kBootPortB, Gen1Answer(1, 0x0100, 0x2000, 256, kMac, IdentityBytes(0x10, 11)).Span()));
  ASSERT_TRUE(WaitForUsed(1));
  {
    std::lock_guard lock(devices.deviceMutex);
    EXPECT_EQ(devices.deviceTable[0].port, kBootPortB);
  }
  ::close(holder);
}

TEST_F(NetworkSession, EveryNetworkTagsWhatEachCardHearsAndReachesADeviceOnlyThroughItsCard) {
  // lo is the only card here.
  ASSERT_TRUE(network.Open(kAllNetworks));
  EXPECT_EQ(network.RunningReceivers(), 3);
  EXPECT_TRUE(network.Problems().empty());
  EXPECT_TRUE(RequestBootSearch(network));
  ASSERT_TRUE(BroadcastOnLoopback(kAppPort,
                                  AppAnswer(0x0100, kMac, "Node", IdentityBytes(0x20, 11)).Span()));
  ASSERT_TRUE(WaitForUsed(1));
  DeviceRecord heard = devices.Listed().at(0);
  EXPECT_EQ(heard.card, (Ipv4Address{127, 0, 0, 1}));
  EXPECT_TRUE(RequestEnterBootloader(network, heard));
  heard.card = {10, 9, 9, 9};  // heard on a card that is no longer open
  EXPECT_FALSE(RequestEnterBootloader(network, heard));

  // A port held on a card is reported with the card.
  network.Close();
  const int holder = HoldPort(kAppPort);
  ASSERT_GE(holder, 0);
  ASSERT_TRUE(network.Open(kAllNetworks));
  const std::vector<PortProblem> problems = network.Problems();
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_EQ(problems[0].card, "127.0.0.1");
  EXPECT_EQ(PortProblemText(problems[0]).rfind("127.0.0.1: UDP port 6454 ", 0), 0u);
  ::close(holder);
}

TEST_F(NetworkSession, AllPortsHeldFailsTheOpening) {
  const int a = HoldPort(kBootPortA), b = HoldPort(kBootPortB), c = HoldPort(kAppPort);
  ASSERT_TRUE(a >= 0 && b >= 0 && c >= 0);
  EXPECT_FALSE(network.Open("127.0.0.1"));
  EXPECT_EQ(network.RunningReceivers(), 0);
  ::close(a);
  ::close(b);
  ::close(c);
}

TEST_F(NetworkSession, ReceiversCutLongDatagramsAndNeverReuseOldBytes) {
  ASSERT_TRUE(network.Open("127.0.0.1"));
  // 1500 bytes: processed as its first 1024.
  CDatagram longAnswer = AppAnswer(0x0100, kMac, "Long", IdentityBytes(0x30, 11)).Resize(1500);
  longAnswer.Bytes(1400, {0xFF, 0xFF});
  ASSERT_TRUE(BroadcastOnLoopback(kAppPort, longAnswer.Span()));
  ASSERT_TRUE(WaitForUsed(1));

  // A short answer after a long one: the identity it does not carry is zero,
  // not the previous datagram's bytes still in the receive buffer.
  CDatagram full = Gen1Answer(1, 0x0100, 0x2000, 256, kMac, IdentityBytes(0x40, 11));
  ASSERT_TRUE(BroadcastOnLoopback(kBootPortA, full.Span()));
  ASSERT_TRUE(WaitForUsed(2));
  CDatagram cut = Gen1Answer(1, 0x0100, 0x2000, 256, kMac, IdentityBytes(0x77, 11)).Resize(27);
  ASSERT_TRUE(BroadcastOnLoopback(kBootPortA, cut.Span()));
  ASSERT_TRUE(WaitForUsed(3));
  std::lock_guard lock(devices.deviceMutex);
  const DeviceRecord& r = devices.deviceTable[2];
  EXPECT_EQ(r.identity[0], 0x77);
  EXPECT_EQ(r.identity[2], 0x79);
  for (int i = 3; i < 16; ++i) EXPECT_EQ(r.identity[i], 0) << i;
}

}  // namespace
