#pragma once
// Helpers for socket tests inside a private namespace: play a device by
// broadcasting on lo, and wait for the receivers to catch up.

#include <chrono>
#include <cstdint>
#include <functional>
#include <span>

namespace quorvik {

// Broadcasts one datagram to 255.255.255.255:port on lo.
bool BroadcastOnLoopback(uint16_t port, std::span<const uint8_t> datagram);

// Binds a plain socket (no address reuse) to the port on any address, as
// another program holding the port would. Returns the descriptor, -1 on
// failure; the caller closes it.
int HoldPort(uint16_t port);

// Polls `condition` until it holds or the limit passes.
bool WaitUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds limit = std::chrono::milliseconds(3000));

}  // namespace quorvik
