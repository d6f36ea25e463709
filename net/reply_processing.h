#pragma once
// What a received datagram means: search answers fill the device table,
// acknowledgements go to the reply channel of their sender.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "net/device_session.h"

namespace quorvik {

// Handles one datagram that arrived on `port` from `sender`: a search
// answer goes into `devices`' table, an acknowledgement to its reply
// channels. Called on a receiver thread. `card`: the card it came in on
// when every network is open (see DeviceRecord::card), else all zeros.
void ProcessDatagram(DeviceSession& devices, uint16_t port, std::span<const uint8_t> datagram,
                     const Ipv4Address& sender = {}, const Ipv4Address& card = {});
inline void ProcessDatagram(DeviceSession& devices, uint16_t port, const uint8_t* bytes,
                            size_t length, const Ipv4Address& sender = {},
                            const Ipv4Address& card = {}) {
  ProcessDatagram(devices, port, std::span<const uint8_t>(bytes, length), sender, card);
}

// The black-list key of identity bytes: two lower-case hex digits per byte.
std::string MakeSearchKey(std::span<const uint8_t> identity);

}  // namespace quorvik
