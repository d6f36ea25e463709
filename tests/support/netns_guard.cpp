#include "tests/support/netns_guard.h"

#include <net/if.h>

#include <cstring>

namespace quorvik {

bool InPrivateNetworkNamespace() {
  struct if_nameindex* names = ::if_nameindex();
  if (names == nullptr) return false;
  bool onlyLoopback = true;
  int count = 0;
  for (struct if_nameindex* it = names; it->if_index != 0; ++it, ++count)
    if (std::strcmp(it->if_name, "lo") != 0) onlyLoopback = false;
  ::if_freenameindex(names);
  return onlyLoopback && count == 1;
}

}  // namespace quorvik
