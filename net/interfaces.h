#pragma once
// The host's IPv4 interfaces, from which the operator picks the one to
// search on.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "net/protocol.h"

namespace quorvik {

constexpr int kMaxInterfaces = 10;
// What stands for "every network at once" where an interface's address
// would: in the settings, after --iface, and for OpenNetwork.
constexpr const char* kAllNetworks = "all";
constexpr const char* kAllNetworksEntry = "All networks";

struct InterfaceList {
  std::array<char, 128> hostName{};
  uint8_t count = 0;
  std::array<Ipv4Address, kMaxInterfaces> addresses{};
};

// One IPv4 address of one interface as the system reports it.
struct InterfaceAddress {
  std::string name;
  Ipv4Address address{};
  bool up = false;
  bool loopback = false;
};

// Lists the addresses of interfaces that are up, loopback last, at most ten,
// and resets the reply status. Never fails: with nothing found the list is
// empty.
InterfaceList EnumerateInterfaces();
InterfaceList BuildInterfaceList(const std::string& hostName,
                                 const std::vector<InterfaceAddress>& found);
std::vector<InterfaceAddress> QueryInterfaceAddresses();

std::string FormatAddress(const Ipv4Address& address);
std::optional<Ipv4Address> ParseAddress(const std::string& dotted);
// Name of the interface that is up and holds `address`.
std::optional<std::string> InterfaceNameFor(const Ipv4Address& address);

// The cards that "All networks" searches on: those the network list shows
// (up, IPv4, loopback last, at most ten), each once, by its first address:
// two sockets on one card would each take every datagram.
std::vector<InterfaceAddress> AllNetworkCards(const std::vector<InterfaceAddress>& found);

// The window's network list holds the cards, then "All networks" at index
// `count` (when there is a card). The entry start-up selects: the stored
// one (kAllNetworks included), else the first.
int StoredNetworkEntry(const InterfaceList& interfaces, const std::string& stored);
// What OpenNetwork and the settings take for an entry of that list.
std::string NetworkEntryAddress(const InterfaceList& interfaces, int entry);

// The entry whose address reads exactly `dotted`.
std::optional<int> InterfaceIndexOf(const InterfaceList& interfaces, const std::string& dotted);
// The interface opened at start-up: the stored one, else the first.
int StoredInterfaceIndex(const InterfaceList& interfaces, const std::string& stored);

}  // namespace quorvik
