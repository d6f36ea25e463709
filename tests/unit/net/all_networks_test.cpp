// Every network at once: a device keeps one listing per card it answered
// on, each reached through its own card, and one card chosen changes
// nothing.

#include <gtest/gtest.h>

#include <vector>

#include "devices/device_list.h"
#include "net/interfaces.h"
#include "net/reply_processing.h"
#include "net/requests.h"
#include "tests/support/datagram_builder.h"
#include "tests/support/transport_recorder.h"

using namespace quorvik;

namespace {

const std::vector<uint8_t> kMac = {0x00, 0x0A, 0x95, 0x9D, 0x68, 0x16};
const std::vector<uint8_t> kOtherMac = {0x00, 0x0A, 0x95, 0x00, 0x00, 0x02};
constexpr Ipv4Address kCardA = {10, 1, 0, 1}, kCardB = {10, 2, 0, 1}, kOneCard = {};

struct AnswerKind {
  const char* name;
  uint16_t port;
  CDatagram (*answer)(const std::vector<uint8_t>& mac, uint8_t idSeed);
};

const AnswerKind kKinds[] = {
    {"running", kAppPort,
     [](const std::vector<uint8_t>& mac, uint8_t seed) {
       return AppAnswer(0x0102, mac, "Matrix Wall", IdentityBytes(seed, 11));
     }},
    {"gen1 loader", kBootPortA,
     [](const std::vector<uint8_t>& mac, uint8_t seed) {
       return Gen1Answer(0x0105, 0x0203, 0x3610, 512, mac, IdentityBytes(seed, 11));
     }},
    {"gen3 loader", kBootPortA,
     [](const std::vector<uint8_t>& mac, uint8_t seed) {
       return Gen3Answer(0x0381, 0x0102, 0x3680, 33, 256, mac, 1, IdentityBytes(seed, 11));
     }},
};

TEST(AllNetworks, ADeviceIsListedOncePerCardAndMarkedWhereItAnswersOnTwo) {
  for (const AnswerKind& kind : kKinds) {
    SCOPED_TRACE(kind.name);
    DeviceSession devices;
    const auto hear = [&](const std::vector<uint8_t>& mac, uint8_t seed, const Ipv4Address& card) {
      ProcessDatagram(devices, kind.port, kind.answer(mac, seed).Span(), {10, 0, 0, 9}, card);
    };
    hear(kMac, 0x40, kCardA);
    hear(kMac, 0x40, kCardB);
    hear(kMac, 0x40, kCardA);  // a repeat stays in its card's record
    hear(kOtherMac, 0x50, kCardB);
    std::vector<DeviceRow> rows = BuildDeviceRows(devices.deviceTable);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(devices.deviceTable[0].card, kCardA);
    EXPECT_EQ(devices.deviceTable[1].card, kCardB);
    EXPECT_EQ(rows[0].network, "10.1.0.1");
    EXPECT_EQ(rows[1].network, "10.2.0.1");
    // One device seen twice is neither two devices with one serial nor
    // anything a command may not go to.
    EXPECT_EQ(rows[0].twins, 0);
    EXPECT_EQ(rows[1].twins, 0);
    EXPECT_EQ(rows[0].networks, 2);
    EXPECT_EQ(rows[1].networks, 2);
    EXPECT_EQ(rows[2].networks, 1);
    EXPECT_EQ(NetworksNote(rows[0].networks), "(answers on 2 networks: bridged or misconfigured)");
    EXPECT_EQ(NetworksNote(rows[2].networks), "");

    // One card chosen: the answers carry no card, and the table and rows
    // are what they always were.
    DeviceSession one;
    for (int i = 0; i < 2; ++i)
      ProcessDatagram(one, kind.port, kind.answer(kMac, 0x40).Span(), {10, 0, 0, 9}, kOneCard);
    rows = BuildDeviceRows(one.deviceTable);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].network, "");
    EXPECT_EQ(rows[0].networks, 0);
  }
}

TEST(AllNetworks, ARequestToADeviceNamesItsCardAndSearchesNameNone) {
  CRecordingTransport transport;
  DeviceSession devices;
  DeviceRecord running;
  running.version = 0x0102;
  running.port = kAppPort;
  running.card = kCardB;
  DeviceRecord loader = running;
  loader.loaderType = 0x0300;
  loader.loaderFlags = 0x80;
  loader.port = kBootPortA;
  loader.blockSize = 16;
  transport.onSend = [&](const Sent& s) {
    const uint16_t opcode = static_cast<uint16_t>(s.bytes[8] | s.bytes[9] << 8);
    if (opcode == kOpWriteBlock)
      ProcessDatagram(devices, kBootPortA, CDatagram(kBootMagic, kOpWriteBlockReply, 10).Span());
  };

  ASSERT_TRUE(RequestBootSearch(transport));
  ASSERT_TRUE(RequestAppSearch(transport));
  ASSERT_TRUE(RequestEnterBootloader(transport, running));
  ASSERT_TRUE(RequestFactoryReset(transport, running));
  const std::vector<uint8_t> block(16, 0xAB);
  ASSERT_TRUE(RequestWriteBlock(transport, devices, &loader, 0, block, 16, 0, 5).acknowledged);
  ASSERT_TRUE(RequestRunApplication(transport, loader));
  ASSERT_EQ(transport.sent.size(), 7u);
  for (size_t i = 0; i < transport.sent.size(); ++i)
    EXPECT_EQ(transport.sent[i].card, i < 3 ? kOneCard : kCardB) << i;
}

TEST(AllNetworks, TheCardsAreThoseTheListShowsEachOnceAndTheEntryComesAfterThem) {
  const std::vector<InterfaceAddress> found = {
      {"lo", {127, 0, 0, 1}, true, true},   {"eth0", {10, 1, 0, 1}, true, false},
      {"eth0", {10, 1, 0, 7}, true, false}, {"wlan0", {192, 168, 1, 5}, false, false},
      {"eth1", {10, 2, 0, 1}, true, false},
  };
  std::vector<std::string> cards;
  for (const InterfaceAddress& card : AllNetworkCards(found))
    cards.push_back(card.name + " " + FormatAddress(card.address));
  EXPECT_EQ(cards, (std::vector<std::string>{"eth0 10.1.0.1", "eth1 10.2.0.1", "lo 127.0.0.1"}));

  const InterfaceList list = BuildInterfaceList("host", found);
  ASSERT_EQ(list.count, 4);
  EXPECT_EQ(StoredNetworkEntry(list, kAllNetworks), 4);
  EXPECT_EQ(StoredNetworkEntry(list, "10.2.0.1"), 2);
  EXPECT_EQ(StoredNetworkEntry(list, "10.9.9.9"), 0);
  EXPECT_EQ(NetworkEntryAddress(list, 4), kAllNetworks);
  EXPECT_EQ(NetworkEntryAddress(list, 2), "10.2.0.1");
  // Without a card there is no "All networks" either.
  EXPECT_EQ(StoredNetworkEntry(BuildInterfaceList("host", {}), kAllNetworks), 0);
}

}  // namespace
