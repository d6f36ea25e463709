#pragma once
// The requests a command sends to devices. Each goes out as one broadcast
// datagram; a device recognises itself by the identity or hardware address
// inside. Threads may write devices side by side as long as each waits on
// a reply channel of its own (see net/reply_state.h): a write or verify
// whose channel another request holds fails at once, without sending.

#include <cstdint>
#include <optional>
#include <span>

#include "net/device_record.h"
#include "net/transport.h"

namespace quorvik {

struct DeviceSession;

// Where the acknowledgements of requests to `record` may come from: its
// address, when it answered its search from one that no other device listed
// in `devices` shares. Otherwise (no address, a shared one) from anywhere,
// as the protocol has it: its acknowledgements carry no reference to their
// request, so all such waits share one channel and only one may run at a
// time.
std::optional<Ipv4Address> AcknowledgementSource(const DeviceSession& devices,
                                                 const DeviceRecord& record);

// What a request that waits for an acknowledgement came to: whether the
// device acknowledged it well, and the status its reply channel holds after
// the wait (the status the device sent, where it sent one).
struct ReplyOutcome {
  bool acknowledged = false;
  uint16_t status = 0;
};

// Every request goes out through `transport`: the network its caller
// opened, or a test's recording.
//
// Both boot ports in turn; the second only if the first send succeeded.
bool RequestBootSearch(ITransport& transport);
bool RequestAppSearch(ITransport& transport);
// Both searches (the loaders' only with `bootOnly`) through these cards
// only: a wait for some devices need not ask every network open.
bool RequestSearchesVia(ITransport& transport, std::span<const Ipv4Address> cards, bool bootOnly);
// Sends one block and waits up to tries x 10 ms for its acknowledgement;
// acknowledged when it came with status 0. The protocol wants a 10 ms pause
// after every acknowledgement before the next request.
// `devices` tells whether the device's address is its own and holds the
// channel the acknowledgement arrives on.
ReplyOutcome RequestWriteBlock(ITransport& transport, DeviceSession& devices,
                               const DeviceRecord* record, uint32_t blockOffset,
                               std::span<const uint8_t> block, uint32_t sectionLength,
                               uint16_t sectionParam, int tries);
// Asks for the checksum of the written image; value and status are written
// only when the answer came within 5 s.
bool RequestVerify(ITransport& transport, DeviceSession& devices, const DeviceRecord* record,
                   uint16_t& value, uint16_t& status);
bool RequestRunApplication(ITransport& transport, const DeviceRecord& record);
bool RequestEnterBootloader(ITransport& transport, const DeviceRecord& record);
bool RequestFactoryReset(ITransport& transport, const DeviceRecord& record);

constexpr int kReplyPollMs = 10;
constexpr int kVerifyTries = 500;

}  // namespace quorvik
