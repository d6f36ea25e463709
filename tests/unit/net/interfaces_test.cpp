#include <gtest/gtest.h>

#include "base/hex_text.h"
#include "net/interfaces.h"

using namespace quorvik;

namespace {

InterfaceAddress Entry(const char* name, Ipv4Address a, bool up = true, bool loopback = false) {
  return InterfaceAddress{name, a, up, loopback};
}

TEST(InterfaceList, KeepsTheFirstTenUpAddressesWithLoopbackLast) {
  std::vector<InterfaceAddress> found;
  found.push_back(Entry("lo", {127, 0, 0, 1}, true, true));
  found.push_back(Entry("eth9", {192, 168, 9, 9}, false));  // down: not offered
  for (uint8_t i = 1; i <= 12; ++i) found.push_back(Entry("eth0", {10, 0, 0, i}));
  InterfaceList list = BuildInterfaceList("rack-pc", found);
  ASSERT_EQ(list.count, 10);
  for (uint8_t i = 0; i < 10; ++i)
    EXPECT_EQ(list.addresses[i], (Ipv4Address{10, 0, 0, uint8_t(i + 1)}));
  EXPECT_STREQ(list.hostName.data(), "rack-pc");

  found.resize(4);
  list = BuildInterfaceList("rack-pc", found);
  ASSERT_EQ(list.count, 3);
  EXPECT_EQ(list.addresses[2], (Ipv4Address{127, 0, 0, 1}));
}

TEST(InterfaceList, NothingFoundIsAnEmptyListAndLongHostNamesAreCut) {
  InterfaceList list = BuildInterfaceList(std::string(300, 'h'), {});
  EXPECT_EQ(list.count, 0);
  EXPECT_EQ(std::string(list.hostName.data()).size(), 127u);
}

TEST(Addresses, DottedTextRoundTripsAndRejectsGarbage) {
  EXPECT_EQ(FormatAddress({10, 0, 0, 12}), "10.0.0.12");
  EXPECT_EQ(ParseAddress("10.0.0.12"), (Ipv4Address{10, 0, 0, 12}));
  EXPECT_FALSE(ParseAddress("No Ethernet connection !"));
  EXPECT_FALSE(ParseAddress("10.0.0.256"));
  EXPECT_FALSE(InterfaceNameFor({203, 0, 113, 77}));  // documentation range: held by no interface
}

}  // namespace

// Serials and hardware addresses are typed by people and read from files:
// anything that is not exactly hex digits (a sign, "0x", a blank) is no
// value, whatever a number parser would make of it.
TEST(HexText, ReadsOnlyDigitsAndWritesEitherCase) {
  using Bytes = std::vector<uint8_t>;
  EXPECT_EQ(ParseHexBytes("0aFF10"), (Bytes{0x0A, 0xFF, 0x10}));
  EXPECT_EQ(ParseHexBytes(""), Bytes{});
  for (const char* bad : {"0", "+f", "-1", "0x", "0X", " f", "f ", "g0", "0a1"})
    EXPECT_FALSE(ParseHexBytes(bad)) << bad;
  const std::array<uint8_t, 6> mac = {0x00, 0x0A, 0x95, 0x9D, 0x68, 0x16};
  for (const char* good : {"00-0A-95-9D-68-16", "00:0a:95:9d:68:16", "000a959d6816"})
    EXPECT_EQ(ParseMacText(good), mac) << good;
  for (const char* bad :
       {"00-0A:95-9D-68-16", "00.0A.95.9D.68.16", "00-0A-95-9D-68", "0x0a959d6816"})
    EXPECT_FALSE(ParseMacText(bad)) << bad;
  EXPECT_EQ(HexText(mac, true, "-"), "00-0A-95-9D-68-16");
  EXPECT_EQ(HexText(mac, false), "000a959d6816");
  EXPECT_EQ(Hex16(0x00af), "0x00af");
  EXPECT_EQ(HexWord(0xb04, true), "0B04");
}
