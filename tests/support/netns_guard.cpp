#include "tests/support/netns_guard.h"

#include <net/if.h>
#include <sched.h>
#include <sys/mount.h>

#include <cerrno>
#include <cstring>

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

std::string EnterPrivateMountNamespace() {
  if (::unshare(CLONE_NEWNS) != 0)
    return std::string("no private mount namespace: ") + std::strerror(errno);
  // Otherwise a mount made here would show in the machine's namespace too.
  if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
    return std::string("mounts stay shared: ") + std::strerror(errno);
  return {};
}
