#pragma once
// What a received datagram means: search answers fill the device table,
// acknowledgements go to the reply channel of their sender.

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <span>
#include <string>
#include <string_view>

#include "net/black_list_text.h"
#include "net/device_record.h"

// Process-wide state that the receivers fill and the window thread reads.
// g_deviceMutex guards the table, the hidden count and the black-list
// together: one search answer is processed as a whole under it, and the
// window thread holds it whenever it reads or changes any of the three. It
// is never held while waiting for a reply.
extern std::mutex g_deviceMutex;
extern DeviceTable g_deviceTable;
extern int32_t g_hiddenCount;  // search answers dropped as black-listed since the last Find
// Answers of devices not yet listed that found the table full, since the
// last Find or opening: the list cannot show them, and nothing else would
// tell the operator that they answered.
extern int32_t g_droppedCount;
extern CBlackListText g_blackList;

// Handles one datagram that arrived on `port` from `sender`. Called on a
// receiver thread.
void ProcessDatagram(uint16_t port, std::span<const uint8_t> datagram,
                     const Ipv4Address& sender = {});
inline void ProcessDatagram(uint16_t port, const uint8_t* bytes, size_t length,
                            const Ipv4Address& sender = {}) {
  ProcessDatagram(port, std::span<const uint8_t>(bytes, length), sender);
}

// The black-list key of identity bytes: two lower-case hex digits per byte.
std::string MakeSearchKey(std::span<const uint8_t> identity);
