#pragma once
// The host's IPv4 interfaces, from which the operator picks the one to
// search on.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "net/protocol.h"

constexpr int kMaxInterfaces = 10;

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

// The entry whose address reads exactly `dotted`.
std::optional<int> InterfaceIndexOf(const InterfaceList& interfaces, const std::string& dotted);
// The interface opened at start-up: the stored one, else the first.
int StoredInterfaceIndex(const InterfaceList& interfaces, const std::string& stored);
