#include "net/requests.h"

#include <sys/prctl.h>

#include <array>
#include <chrono>
#include <optional>
#include <thread>

#include "net/device_session.h"
#include "net/frames.h"
#include "net/protocol.h"
#include "net/transport.h"

namespace quorvik {

namespace {

// Each request encodes into a frame of its own on the caller's stack, so
// that threads writing different devices never share a buffer.
using Frame = std::array<uint8_t, kMaxRequestLength>;

bool Send(ITransport& transport, SocketSlot slot, int port, const Frame& frame, size_t length) {
  if (port < 0 || port > 0xFFFF) return false;
  return transport.Send(slot, static_cast<uint16_t>(port),
                        std::span<const uint8_t>(frame.data(), length));
}

bool SendVia(ITransport& transport, const Ipv4Address& card, SocketSlot slot, int port,
             const Frame& frame, size_t length) {
  if (port < 0 || port > 0xFFFF) return false;
  return transport.SendVia(card, slot, static_cast<uint16_t>(port),
                           std::span<const uint8_t>(frame.data(), length));
}

// A request to one device leaves by the card the device answered on.
bool SendTo(ITransport& transport, const DeviceRecord& record, SocketSlot slot, const Frame& frame,
            size_t length) {
  return SendVia(transport, record.card, slot, record.port, frame, length);
}

bool IsUnicast(const Ipv4Address& a) {
  const bool any = a == Ipv4Address{}, broadcast = a == Ipv4Address{255, 255, 255, 255};
  return !any && !broadcast && (a[0] < 224 || a[0] > 239);
}

// The channel that hears `record`'s acknowledgements, held by one request
// from before it sends until after its pause.
class CAwaitedReply {
 public:
  CAwaitedReply(DeviceSession& devices, const DeviceRecord& record)
      : m_source(AcknowledgementSource(devices, record)),
        m_channel(devices.replyChannels.Claim(m_source)) {}
  // False when another request waits on the same channel: sending now would
  // let the two take each other's acknowledgements.
  bool Held() const { return static_cast<bool>(m_channel); }
  // Arms the channel, sends, and waits for the acknowledgement.
  bool SendAndAwait(ITransport& transport, const DeviceRecord& record, SocketSlot slot,
                    const Frame& frame, size_t length, int tries, CReplyChannel::Awaited awaited) {
    m_channel->Arm(m_source, awaited);
    if (!SendTo(transport, record, slot, frame, length)) return false;
    return m_channel->WaitForReply(std::chrono::milliseconds(kReplyPollMs) * tries);
  }
  CReplyChannel* operator->() const { return m_channel.operator->(); }

 private:
  std::optional<Ipv4Address> m_source;
  CReplyChannels::CClaim m_channel;
};

// The pause after each acknowledgement is paid once per block: the default
// timer slack of the thread (50 us) would add a few percent to every update.
void PauseAfterAcknowledgement(CAwaitedReply& reply) {
  thread_local const bool precise = ::prctl(PR_SET_TIMERSLACK, 1UL, 0, 0, 0) == 0;
  (void)precise;
  reply->Pause(std::chrono::milliseconds(kReplyPollMs));
}

}  // namespace

std::optional<Ipv4Address> AcknowledgementSource(const DeviceSession& devices,
                                                 const DeviceRecord& record) {
  if (!IsUnicast(record.address)) return std::nullopt;
  std::lock_guard lock(devices.deviceMutex);
  int sharing = 0;
  for (int i = 0, used = CountUsedRecords(devices.deviceTable); i < used; ++i)
    if (devices.deviceTable[i].address == record.address) ++sharing;
  if (sharing > 1) return std::nullopt;
  return record.address;
}

bool RequestBootSearch(ITransport& transport) {
  Frame frame;
  size_t length = EncodeBootSearch(frame);
  return Send(transport, SocketSlot::kBootA, kBootPortA, frame, length) &&
         Send(transport, SocketSlot::kBootB, kBootPortB, frame, length);
}

bool RequestAppSearch(ITransport& transport) {
  Frame frame;
  return Send(transport, SocketSlot::kApp, kAppPort, frame, EncodeAppSearch(frame));
}

bool RequestSearchesVia(ITransport& transport, std::span<const Ipv4Address> cards, bool bootOnly) {
  Frame boot, app;
  const size_t bootLength = EncodeBootSearch(boot);
  const size_t appLength = EncodeAppSearch(app);
  bool ok = true;
  for (const Ipv4Address& card : cards) {
    ok = SendVia(transport, card, SocketSlot::kBootA, kBootPortA, boot, bootLength) && ok;
    ok = SendVia(transport, card, SocketSlot::kBootB, kBootPortB, boot, bootLength) && ok;
    if (!bootOnly) ok = SendVia(transport, card, SocketSlot::kApp, kAppPort, app, appLength) && ok;
  }
  return ok;
}

ReplyOutcome RequestWriteBlock(ITransport& transport, DeviceSession& devices,
                               const DeviceRecord* record, uint32_t blockOffset,
                               std::span<const uint8_t> block, uint32_t sectionLength,
                               uint16_t sectionParam, int tries) {
  if (record == nullptr) return {};
  CAwaitedReply reply(devices, *record);
  if (!reply.Held()) return {};
  Frame frame;
  size_t length = EncodeWriteBlock(frame, *record, blockOffset, block, sectionLength, sectionParam);
  SocketSlot slot = GenerationOf(record->loaderType) == Generation::kGen2 ? SocketSlot::kBootB
                                                                          : SocketSlot::kBootA;
  if (!reply.SendAndAwait(transport, *record, slot, frame, length, tries,
                          CReplyChannel::Awaited::kWriteAcknowledgement))
    return {false, reply->replyStatus()};
  PauseAfterAcknowledgement(reply);
  const uint16_t status = reply->replyStatus();
  return {status == 0, status};
}

bool RequestVerify(ITransport& transport, DeviceSession& devices, const DeviceRecord* record,
                   uint16_t& value, uint16_t& status) {
  if (record == nullptr) return false;
  CAwaitedReply reply(devices, *record);
  if (!reply.Held()) return false;
  Frame frame;
  size_t length = EncodeVerify(frame, *record);
  if (!reply.SendAndAwait(transport, *record, SocketSlot::kBootA, frame, length, kVerifyTries,
                          CReplyChannel::Awaited::kVerifyAnswer))
    return false;
  const CReplyChannel::Values last = reply->LastValues();
  value = last.value;
  status = last.status;
  return true;
}

bool RequestRunApplication(ITransport& transport, const DeviceRecord& record) {
  Frame frame;
  return SendTo(transport, record, SocketSlot::kBootA, frame, EncodeRunApplication(frame, record));
}

bool RequestEnterBootloader(ITransport& transport, const DeviceRecord& record) {
  Frame frame;
  return SendTo(transport, record, SocketSlot::kApp, frame, EncodeEnterBootloader(frame, record));
}

bool RequestFactoryReset(ITransport& transport, const DeviceRecord& record) {
  Frame frame;
  return SendTo(transport, record, SocketSlot::kApp, frame, EncodeFactoryReset(frame, record));
}

}  // namespace quorvik
