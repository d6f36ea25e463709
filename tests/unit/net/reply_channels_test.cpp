// Acknowledgements carry no reference to their request: the sender's
// address is all that keeps two devices' waits apart.

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <vector>

#include "net/reply_state.h"

using namespace quorvik;

namespace {

using std::chrono::milliseconds;

constexpr Ipv4Address kA = {10, 0, 0, 1}, kB = {10, 0, 0, 2}, kStranger = {10, 0, 0, 9};

TEST(ReplyChannels, EachAddressWaitedOnHearsItsOwnSenderOnly) {
  auto channels = std::make_unique<CReplyChannels>();
  CReplyChannels::CClaim b = channels->Claim(kB);
  {
    CReplyChannels::CClaim a = channels->Claim(kA);
    ASSERT_TRUE(a && b);
    a->Arm(kA);
    b->Arm(kB, CReplyChannel::Awaited::kVerifyAnswer);

    channels->PublishVerify(0x1234, 7, kB);
    EXPECT_FALSE(b->replyPending());
    EXPECT_EQ(b->replyStatus(), 7);
    EXPECT_TRUE(a->replyPending());
    EXPECT_EQ(a->replyStatus(), 0);

    // Nobody waits on the stranger: the shared channel takes it, as any
    // sender's when it waits without one.
    channels->Shared().Arm();
    channels->PublishWriteAck(kStranger);
    EXPECT_FALSE(channels->Shared().replyPending());
    EXPECT_TRUE(a->replyPending());

    channels->PublishWriteAck(kA);
    EXPECT_FALSE(a->replyPending());
  }
  // A's late acknowledgement, after its request gave up, ends no wait of B.
  b->Arm(kB);
  channels->PublishWriteAck(kA);
  EXPECT_TRUE(b->replyPending());
}

TEST(ReplyChannels, AChannelServesOneWaitAtATime) {
  auto channels = std::make_unique<CReplyChannels>();
  {
    CReplyChannels::CClaim a = channels->Claim(kA), shared = channels->Claim(std::nullopt);
    ASSERT_TRUE(a && shared);
    EXPECT_FALSE(channels->Claim(kA));
    EXPECT_FALSE(channels->Claim(std::nullopt));
    EXPECT_TRUE(channels->Claim(kB));
  }
  EXPECT_TRUE(channels->Claim(kA));

  // Every address the table can list waits at once; one more cannot.
  std::vector<CReplyChannels::CClaim> held;
  for (uint8_t i = 0; i < kDeviceTableCapacity; ++i) {
    held.push_back(channels->Claim(Ipv4Address{10, 1, 0, i}));
    ASSERT_TRUE(held.back()) << int{i};
  }
  EXPECT_FALSE(channels->Claim(kA));
  held.clear();

  // Closing ends the waits of channels taken over afterwards too.
  channels->AbortWaits();
  CReplyChannels::CClaim a = channels->Claim(kA);
  a->Arm(kA);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(a->WaitForReply(milliseconds(5000)));
  EXPECT_LT(std::chrono::steady_clock::now() - start, milliseconds(1000));
}

}  // namespace
