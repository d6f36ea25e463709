// Which socket and port each request leaves through, and how a waiting
// request behaves when its acknowledgement comes early, late or never.

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <thread>
#include <vector>

#include "net/network_session.h"
#include "net/protocol.h"
#include "net/reply_processing.h"
#include "net/reply_state.h"
#include "net/requests.h"
#include "net/transport.h"
#include "tests/support/datagram_builder.h"
#include "tests/support/transport_recorder.h"

using namespace quorvik;

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

uint16_t Opcode(const Sent& s) {
  return static_cast<uint16_t>(s.bytes[8] | s.bytes[9] << 8);
}

DeviceRecord Device(uint16_t loaderType, int port) {
  DeviceRecord r;
  r.loaderType = loaderType;
  r.version = 0x0100;
  r.blockSize = 16;
  r.identityLength = 16;
  r.port = port;
  return r;
}

class Requests : public ::testing::Test {
 protected:
  void AckWrite(const Sent&) {
    ProcessDatagram(devices, kBootPortA, CDatagram(kBootMagic, kOpWriteBlockReply, 10).Span());
  }
  std::function<void(const Sent&)> Acknowledging() {
    return [this](const Sent& s) { AckWrite(s); };
  }

  DeviceSession devices;
  CRecordingTransport transport;
  const std::vector<uint8_t> block = std::vector<uint8_t>(16, 0xAB);
};

TEST_F(Requests, SearchesGoToBothBootPortsThenTheApplicationPort) {
  EXPECT_TRUE(RequestBootSearch(transport));
  EXPECT_TRUE(RequestAppSearch(transport));
  ASSERT_EQ(transport.sent.size(), 3u);
  EXPECT_EQ(transport.sent[0].slot, SocketSlot::kBootA);
  EXPECT_EQ(transport.sent[0].port, kBootPortA);
  EXPECT_EQ(transport.sent[1].slot, SocketSlot::kBootB);
  EXPECT_EQ(transport.sent[1].port, kBootPortB);
  EXPECT_EQ(transport.sent[2].slot, SocketSlot::kApp);
  EXPECT_EQ(transport.sent[2].port, kAppPort);
  for (const Sent& s : transport.sent) EXPECT_EQ(s.bytes.size(), 10u);
}

// A wait for some devices asks on their cards only, the same frames in the
// same order on each.
TEST_F(Requests, SearchesThroughCardsGoOnlyThroughThoseCards) {
  const std::vector<uint8_t> global = [&] {
    RequestBootSearch(transport);
    RequestAppSearch(transport);
    std::vector<uint8_t> all;
    for (const Sent& s : transport.sent) all.insert(all.end(), s.bytes.begin(), s.bytes.end());
    transport.sent.clear();
    return all;
  }();
  const Ipv4Address cards[] = {{10, 0, 0, 1}, {192, 168, 1, 7}};
  EXPECT_TRUE(RequestSearchesVia(transport, cards, false));
  ASSERT_EQ(transport.sent.size(), 6u);
  for (size_t card = 0; card < 2; ++card) {
    std::vector<uint8_t> same;
    for (size_t i = 3 * card; i < 3 * card + 3; ++i) {
      EXPECT_EQ(transport.sent[i].card, cards[card]);
      same.insert(same.end(), transport.sent[i].bytes.begin(), transport.sent[i].bytes.end());
    }
    EXPECT_EQ(same, global);
  }
  transport.sent.clear();
  EXPECT_TRUE(RequestSearchesVia(transport, std::span(cards).first(1), true));
  EXPECT_EQ(transport.sent.size(), 2u);  // the loaders' ports only
}

TEST_F(Requests, BootSearchStopsWhenTheFirstSendFails) {
  transport.failAfter = 0;
  EXPECT_FALSE(RequestBootSearch(transport));
  EXPECT_EQ(transport.sent.size(), 1u);
}

TEST_F(Requests, EachRequestUsesItsSocketAndTheDevicesPort) {
  transport.onSend = [this](const Sent& s) {
    if (Opcode(s) == kOpWriteBlock) AckWrite(s);
    if (Opcode(s) == kOpVerify)
      ProcessDatagram(devices, kBootPortB, CDatagram(kBootMagic, kOpVerifyReply, 14).Span());
  };
  uint16_t value = 0, status = 0;
  const DeviceRecord gen1 = Device(1, kBootPortB), gen2 = Device(600, kBootPortB),
                     gen3 = Device(0x0300, kBootPortA), app = Device(0, kAppPort);
  ASSERT_TRUE(RequestWriteBlock(transport, devices, &gen1, 0, block, 16, 0, 500).acknowledged);
  ASSERT_TRUE(RequestWriteBlock(transport, devices, &gen2, 0, block, 16, 0, 500).acknowledged);
  ASSERT_TRUE(RequestWriteBlock(transport, devices, &gen3, 0, block, 16, 0, 500).acknowledged);
  ASSERT_TRUE(RequestVerify(transport, devices, &gen2, value, status));
  ASSERT_TRUE(RequestRunApplication(transport, gen2));
  ASSERT_TRUE(RequestEnterBootloader(transport, app));
  ASSERT_TRUE(RequestFactoryReset(transport, gen1));

  struct Expected {
    SocketSlot slot;
    uint16_t port;
    uint16_t opcode;
    size_t length;
  };
  const std::vector<Expected> expected = {
      {SocketSlot::kBootA, kBootPortB, kOpWriteBlock, 548},
      {SocketSlot::kBootB, kBootPortB, kOpWriteBlock, 552},
      {SocketSlot::kBootA, kBootPortA, kOpWriteBlock, 554},
      {SocketSlot::kBootA, kBootPortB, kOpVerify, 548},
      {SocketSlot::kBootA, kBootPortB, kOpRunApplication, 26},
      {SocketSlot::kApp, kAppPort, kOpEnterBootloader, 16},
      {SocketSlot::kApp, kBootPortB, kOpFactoryReset, 30},
  };
  ASSERT_EQ(transport.sent.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(transport.sent[i].slot, expected[i].slot);
    EXPECT_EQ(transport.sent[i].port, expected[i].port);
    EXPECT_EQ(Opcode(transport.sent[i]), expected[i].opcode);
    EXPECT_EQ(transport.sent[i].bytes.size(), expected[i].length);
  }
}

TEST_F(Requests, AnEarlyAcknowledgementEndsTheWaitButKeepsTheTenMillisecondPause) {
  transport.onSend = Acknowledging();
  const DeviceRecord d = Device(1, kBootPortA);
  const auto start = Clock::now();
  EXPECT_TRUE(RequestWriteBlock(transport, devices, &d, 0, block, 16, 0, 500).acknowledged);
  const auto took = Clock::now() - start;
  EXPECT_GE(took, milliseconds(10));
  EXPECT_LT(took, milliseconds(1000));  // not the 5 s limit
}

TEST_F(Requests, ALateAcknowledgementWakesTheWaiterWithoutPolling) {
  std::thread device;
  transport.onSend = [&](const Sent& s) {
    device = std::thread([this, s] {
      std::this_thread::sleep_for(milliseconds(30));
      AckWrite(s);
    });
  };
  const DeviceRecord d = Device(1, kBootPortA);
  EXPECT_TRUE(RequestWriteBlock(transport, devices, &d, 0, block, 16, 0, 500).acknowledged);
  device.join();
}

TEST_F(Requests, NoAcknowledgementGivesUpAfterTheTriesAndFailedSendsDoNotWait) {
  const DeviceRecord d = Device(1, kBootPortA);
  auto start = Clock::now();
  EXPECT_FALSE(RequestWriteBlock(transport, devices, &d, 0, block, 16, 0, 5).acknowledged);
  EXPECT_GE(Clock::now() - start, milliseconds(50));

  transport.failAfter = 0;
  start = Clock::now();
  EXPECT_FALSE(RequestWriteBlock(transport, devices, &d, 0, block, 16, 0, 500).acknowledged);
  EXPECT_LT(Clock::now() - start, milliseconds(1000));

  EXPECT_FALSE(RequestWriteBlock(transport, devices, nullptr, 0, block, 16, 0, 500).acknowledged);
  uint16_t value = 7, status = 7;
  EXPECT_FALSE(RequestVerify(transport, devices, nullptr, value, status));
  EXPECT_FALSE(RequestVerify(transport, devices, &d, value, status));
  EXPECT_EQ(value, 7);  // outputs untouched without an answer
  EXPECT_EQ(status, 7);
}

TEST_F(Requests, AVerifyAnswerWithBadStatusFailsAWriteAndReportsItsStatus) {
  transport.onSend = [this](const Sent&) {
    ProcessDatagram(devices, kBootPortA,
                    CDatagram(kBootMagic, kOpVerifyReply, 14).Bytes(10, {0, 0, 0x01, 0x02}).Span());
  };
  const DeviceRecord d = Device(0x0300, kBootPortA);
  const ReplyOutcome failed = RequestWriteBlock(transport, devices, &d, 0, block, 16, 0, 500);
  EXPECT_FALSE(failed.acknowledged);
  EXPECT_EQ(failed.status, 0x0102);

  transport.onSend = Acknowledging();
  const ReplyOutcome written = RequestWriteBlock(transport, devices, &d, 0, block, 16, 0, 500);
  EXPECT_TRUE(written.acknowledged);
  EXPECT_EQ(written.status, 0);
}

TEST_F(Requests, VerifyReturnsTheDevicesChecksumAndStatus) {
  transport.onSend = [this](const Sent&) {
    ProcessDatagram(
        devices, kBootPortB,
        CDatagram(kBootMagic, kOpVerifyReply, 14).Bytes(10, {0xBE, 0xEF, 0x00, 0x03}).Span());
  };
  const DeviceRecord d = Device(0x0300, kBootPortA);
  uint16_t value = 0, status = 0;
  ASSERT_TRUE(RequestVerify(transport, devices, &d, value, status));
  EXPECT_EQ(value, 0xBEEF);
  EXPECT_EQ(status, 3);
}

// An acknowledgement names no request. A device that answered its search
// from an address of its own is heard from that address only; with no
// address, or one that several listed devices share, any acknowledgement
// answers, as the protocol has it.
TEST_F(Requests, AStrayAcknowledgementFromAnotherAddressEndsNoWait) {
  const Ipv4Address own = {10, 0, 0, 7}, other = {10, 0, 0, 8};
  const auto ack = [this](const Ipv4Address& from, uint16_t status = 0) {
    if (status == 0)
      ProcessDatagram(devices, kBootPortA, CDatagram(kBootMagic, kOpWriteBlockReply, 10).Span(),
                      from);
    else
      ProcessDatagram(devices, kBootPortA,
                      CDatagram(kBootMagic, kOpVerifyReply, 14).Be16(12, status).Span(), from);
  };
  struct Case {
    Ipv4Address device;
    int listedWithIt;  // other listed devices with the same address
    Ipv4Address strayFrom;
    bool strayEndsTheWait;
  };
  for (const Case& c :
       {Case{own, 0, other, false}, Case{own, 0, own, true}, Case{{0, 0, 0, 0}, 0, other, true},
        Case{own, 1, other, true}, Case{{255, 255, 255, 255}, 0, other, true}}) {
    {
      std::lock_guard lock(devices.deviceMutex);
      ClearDeviceTable(devices.deviceTable);
      for (int i = 0; i <= c.listedWithIt; ++i) {
        devices.deviceTable[i] = Device(1, kBootPortA);
        devices.deviceTable[i].address = c.device;
      }
    }
    DeviceRecord device = Device(1, kBootPortA);
    device.address = c.device;
    // A stray failure report is taken only where strays are heard...
    devices.replyChannels.ResetStatus();
    transport.onSend = [&](const Sent&) { ack(c.strayFrom, 3); };
    const ReplyOutcome failed = RequestWriteBlock(transport, devices, &device, 0, block, 16, 0, 5);
    EXPECT_FALSE(failed.acknowledged);
    EXPECT_EQ(failed.status, c.strayEndsTheWait ? 3 : 0);
    // ...and a stray success passes a block the device never acknowledged.
    transport.onSend = [&](const Sent&) { ack(c.strayFrom); };
    EXPECT_EQ(RequestWriteBlock(transport, devices, &device, 0, block, 16, 0, 5).acknowledged,
              c.strayEndsTheWait);
  }
}

// Two waits on one channel would take each other's acknowledgements; the
// second request is refused before it sends anything.
TEST_F(Requests, AWriteOrVerifyWhoseChannelIsHeldFailsWithoutSending) {
  const Ipv4Address own = {10, 0, 0, 7};
  DeviceRecord alone = Device(0x0380, kBootPortA), anywhere = Device(0x0380, kBootPortA);
  alone.address = own;
  {
    std::lock_guard lock(devices.deviceMutex);
    ClearDeviceTable(devices.deviceTable);
    devices.deviceTable[0] = alone;
  }
  transport.onSend = [&](const Sent&) {
    ProcessDatagram(devices, kBootPortA, CDatagram(kBootMagic, kOpWriteBlockReply, 10).Span(), own);
  };
  uint16_t value = 0, status = 0;
  for (const DeviceRecord* device : {&alone, &anywhere}) {
    const CReplyChannels::CClaim held =
        devices.replyChannels.Claim(device == &alone ? std::optional(own) : std::nullopt);
    ASSERT_TRUE(held);
    EXPECT_FALSE(RequestWriteBlock(transport, devices, device, 0, block, 16, 0, 500).acknowledged);
    EXPECT_FALSE(RequestVerify(transport, devices, device, value, status));
    EXPECT_TRUE(transport.sent.empty());
  }
  // Each channel is free again once its holder is done.
  EXPECT_TRUE(RequestWriteBlock(transport, devices, &alone, 0, block, 16, 0, 500).acknowledged);
  EXPECT_TRUE(RequestWriteBlock(transport, devices, &anywhere, 0, block, 16, 0, 500).acknowledged);
}

// A late write acknowledgement must not pass for the verify answer: its
// checksum would be the last verify answer's, which after updating another
// device with the same file is exactly the checksum expected.
TEST_F(Requests, OnlyAVerifyAnswerEndsTheWaitForOne) {
  ProcessDatagram(devices, kBootPortA,
                  CDatagram(kBootMagic, kOpVerifyReply, 14).Bytes(10, {0x37, 0x4B, 0, 0}).Span());
  const DeviceRecord device = Device(0x0380, kBootPortA);
  // The wait passes at once: nothing but what Send delivers ever arrives.
  struct CNoMoreReplies : IReplyTime {
    void PassUntil(milliseconds, const std::function<bool()>&) override {}
  } instant;
  devices.replyChannels.SetTime(&instant);
  transport.onSend = Acknowledging();
  uint16_t value = 0, status = 0;
  EXPECT_FALSE(RequestVerify(transport, devices, &device, value, status));
  transport.onSend = [this](const Sent&) {
    AckWrite({});
    ProcessDatagram(devices, kBootPortA,
                    CDatagram(kBootMagic, kOpVerifyReply, 14).Bytes(10, {0x12, 0x34, 0, 0}).Span());
  };
  EXPECT_TRUE(RequestVerify(transport, devices, &device, value, status));
  EXPECT_EQ(value, 0x1234);
  devices.replyChannels.SetTime(nullptr);
}

TEST(RequestsWithoutNetwork, FailAtSending) {
  DeviceSession devices;
  COpenNetwork closed(devices);
  EXPECT_FALSE(RequestBootSearch(closed));
  EXPECT_FALSE(RequestAppSearch(closed));
  EXPECT_FALSE(RequestEnterBootloader(closed, DeviceRecord{}));
}

}  // namespace
