#pragma once
// Socket tests may only ever run inside a private network namespace that
// holds nothing but loopback (scripts/netns-run). Anywhere else they skip
// rather than send a single datagram.

#include <gtest/gtest.h>

#include "net/device_session.h"
#include "net/network_session.h"

namespace quorvik {

bool InPrivateNetworkNamespace();

#define QUORVIK_REQUIRE_PRIVATE_NETNS()                                                   \
  do {                                                                                    \
    if (!InPrivateNetworkNamespace())                                                     \
      GTEST_SKIP() << "not inside a private network namespace holding only lo; run this " \
                      "test through scripts/netns-run";                                   \
  } while (0)

// A test's own devices and the network that fills them: declared after
// the devices, its receivers stop before they go, on every way out of the
// test (a failed assertion returns early).
struct COwnedDevices {
  DeviceSession devices;
  COpenNetwork network{devices};
};

}  // namespace quorvik
