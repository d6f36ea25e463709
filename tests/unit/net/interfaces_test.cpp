#include <gtest/gtest.h>

#include "net/interfaces.h"

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
