#include "net/interfaces.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "net/reply_state.h"

namespace quorvik {

std::vector<InterfaceAddress> QueryInterfaceAddresses() {
  std::vector<InterfaceAddress> result;
  ifaddrs* list = nullptr;
  if (::getifaddrs(&list) != 0) return result;
  for (ifaddrs* it = list; it != nullptr; it = it->ifa_next) {
    if (it->ifa_addr == nullptr || it->ifa_addr->sa_family != AF_INET) continue;
    InterfaceAddress entry;
    entry.name = it->ifa_name ? it->ifa_name : "";
    const auto* in = reinterpret_cast<const sockaddr_in*>(it->ifa_addr);
    std::memcpy(entry.address.data(), &in->sin_addr.s_addr, 4);  // network order: first octet first
    entry.up = (it->ifa_flags & IFF_UP) != 0;
    entry.loopback = (it->ifa_flags & IFF_LOOPBACK) != 0;
    result.push_back(std::move(entry));
  }
  ::freeifaddrs(list);
  return result;
}

InterfaceList BuildInterfaceList(const std::string& hostName,
                                 const std::vector<InterfaceAddress>& found) {
  InterfaceList list;
  std::copy_n(hostName.begin(), std::min(hostName.size(), list.hostName.size() - 1),
              list.hostName.begin());
  std::vector<InterfaceAddress> usable;
  std::copy_if(found.begin(), found.end(), std::back_inserter(usable),
               [](const InterfaceAddress& a) { return a.up; });
  // Loopback is a last resort: an operator almost always wants a real port.
  std::stable_partition(usable.begin(), usable.end(),
                        [](const InterfaceAddress& a) { return !a.loopback; });
  for (const auto& entry : usable) {
    if (list.count >= kMaxInterfaces) break;
    list.addresses[list.count++] = entry.address;
  }
  return list;
}

std::vector<InterfaceAddress> AllNetworkCards(const std::vector<InterfaceAddress>& found) {
  std::vector<InterfaceAddress> cards;
  for (const InterfaceAddress& a : found)
    if (a.up && std::none_of(cards.begin(), cards.end(),
                             [&](const InterfaceAddress& c) { return c.name == a.name; }))
      cards.push_back(a);
  std::stable_partition(cards.begin(), cards.end(),
                        [](const InterfaceAddress& a) { return !a.loopback; });
  if (cards.size() > kMaxInterfaces) cards.resize(kMaxInterfaces);
  return cards;
}

int StoredNetworkEntry(const InterfaceList& interfaces, const std::string& stored) {
  if (stored == kAllNetworks && interfaces.count > 0) return interfaces.count;
  return StoredInterfaceIndex(interfaces, stored);
}

std::string NetworkEntryAddress(const InterfaceList& interfaces, int entry) {
  if (entry == interfaces.count) return kAllNetworks;
  return FormatAddress(interfaces.addresses[static_cast<size_t>(entry)]);
}

InterfaceList EnumerateInterfaces() {
  std::array<char, 128> name{};
  if (::gethostname(name.data(), name.size() - 1) != 0) name[0] = 0;
  return BuildInterfaceList(name.data(), QueryInterfaceAddresses());
}

std::string FormatAddress(const Ipv4Address& a) {
  char text[16];
  std::snprintf(text, sizeof text, "%d.%d.%d.%d", a[0], a[1], a[2], a[3]);
  return text;
}

std::optional<Ipv4Address> ParseAddress(const std::string& dotted) {
  in_addr addr{};
  if (::inet_pton(AF_INET, dotted.c_str(), &addr) != 1) return std::nullopt;
  Ipv4Address result;
  std::memcpy(result.data(), &addr.s_addr, 4);
  return result;
}

std::optional<std::string> InterfaceNameFor(const Ipv4Address& address) {
  for (const auto& entry : QueryInterfaceAddresses())
    if (entry.up && entry.address == address) return entry.name;
  return std::nullopt;
}

std::optional<int> InterfaceIndexOf(const InterfaceList& interfaces, const std::string& dotted) {
  for (int i = 0; i < interfaces.count; ++i)
    if (FormatAddress(interfaces.addresses[i]) == dotted) return i;
  return std::nullopt;
}

int StoredInterfaceIndex(const InterfaceList& interfaces, const std::string& stored) {
  return stored.empty() ? 0 : InterfaceIndexOf(interfaces, stored).value_or(0);
}

}  // namespace quorvik
