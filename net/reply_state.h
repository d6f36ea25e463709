#pragma once
// The acknowledgements that waiting requests expect, on reply channels keyed
// by the sender's address. Acknowledgements carry no reference to their
// request, so the sender's address is all that can tell two devices' apart:
// a device heard from an address of its own gets a channel of its own while
// a request waits on it; every other wait shares one channel that takes any
// sender. A channel publishes a reply's values before it clears the pending
// flag, under its lock, and wakes the waiter at once instead of letting it
// poll.

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>

#include "net/device_record.h"
#include "net/protocol.h"

namespace quorvik {

// Lets a test run the waits for acknowledgements, and the pause after each,
// in virtual time: thousands of updates with five-second time-outs in them
// then take seconds.
class IReplyTime {
 public:
  virtual ~IReplyTime() = default;
  // Passes time until `done` holds or `limit` has passed, delivering the
  // datagrams due meanwhile (which call ProcessDatagram).
  virtual void PassUntil(std::chrono::milliseconds limit, const std::function<bool()>& done) = 0;
};

// One wait at a time and the values of the last reply it took.
class CReplyChannel {
 public:
  // Marks a reply as awaited; called just before the request is sent. With
  // `from`, only acknowledgements from that address answer it: any other
  // device's (a stray one, a late one of another update) is ignored. A wait
  // for a verify answer is ended by a verify answer only: a late write
  // acknowledgement would end it with the checksum of an earlier answer,
  // which after an update of another device with the same file is the very
  // checksum expected.
  enum class Awaited { kWriteAcknowledgement, kVerifyAnswer };
  void Arm(std::optional<Ipv4Address> from = std::nullopt,
           Awaited awaited = Awaited::kWriteAcknowledgement);
  void PublishWriteAck(const Ipv4Address& sender = {});
  void PublishVerify(uint16_t value, uint16_t status, const Ipv4Address& sender = {});
  // Waits until the awaited reply has cleared the pending flag. False when
  // the limit passes first.
  bool WaitForReply(std::chrono::milliseconds limit);
  // The pause the protocol wants after an acknowledgement.
  void Pause(std::chrono::milliseconds length);
  // Ends every wait at once, now and from now on, as a time-out: the
  // program is closing and must not sit out a 5 s limit.
  void AbortWaits();
  // Tests only: waits and pauses pass in `time`'s virtual time (nullptr:
  // real time again).
  void SetTime(IReplyTime* time) { m_time = time; }

  struct Values {
    uint16_t value;
    uint16_t status;
  };
  // Both values of the last acknowledgement, read together.
  Values LastValues() const;
  bool replyPending() const;
  uint16_t replyStatus() const;
  uint16_t replyValue() const;
  void ResetStatus();
  // Everything back to how a program starts: no wait armed, no values.
  void Reset();
  // No wait armed and no values, but an abort stays in force: a channel
  // taken over for another device must not show that device the last one's
  // replies.
  void Clear();

 private:
  // Under m_mutex: whether an acknowledgement from `sender` is the awaited.
  bool Accepts(const Ipv4Address& sender) const;

  mutable std::mutex m_mutex;
  std::condition_variable m_cleared;
  bool m_aborted = false;
  bool m_replyPending = false;
  std::optional<Ipv4Address> m_from;
  Awaited m_awaited = Awaited::kWriteAcknowledgement;
  uint16_t m_replyStatus = 0;
  uint16_t m_replyValue = 0;
  IReplyTime* m_time = nullptr;
};

// The shared channel and one channel per address waited on. A request holds
// its channel (a CClaim) from before it sends until after its pause, so that
// two waits never share a channel: a second claim of a held channel fails
// instead of racing the first.
class CReplyChannels {
 public:
  class CClaim {
   public:
    CClaim() = default;
    CClaim(CClaim&& other) noexcept;
    CClaim& operator=(CClaim&&) = delete;
    CClaim(const CClaim&) = delete;
    ~CClaim();
    explicit operator bool() const { return m_channel != nullptr; }
    CReplyChannel* operator->() const { return m_channel; }

   private:
    friend class CReplyChannels;
    CClaim(CReplyChannels* owner, CReplyChannel* channel, int slot)
        : m_owner(owner), m_channel(channel), m_slot(slot) {}
    CReplyChannels* m_owner = nullptr;
    CReplyChannel* m_channel = nullptr;
    int m_slot = -1;  // -1: the shared channel
  };

  // The channel for a wait on `source` (a device heard from an address no
  // other listed device shares), else the shared channel. Empty when that
  // channel is held already, or every own channel is.
  CClaim Claim(const std::optional<Ipv4Address>& source);

  // Receivers: to the channel held for `sender`, else to the shared one.
  void PublishWriteAck(const Ipv4Address& sender = {});
  void PublishVerify(uint16_t value, uint16_t status, const Ipv4Address& sender = {});

  CReplyChannel& Shared() { return m_shared; }

  // These act on every channel.
  void AbortWaits();
  void SetTime(IReplyTime* time);
  void ResetStatus();
  void Reset();

 private:
  struct Own {
    Ipv4Address address{};
    bool held = false;
    CReplyChannel channel;
  };
  void Release(int slot);
  // Under m_mutex.
  CReplyChannel& Route(const Ipv4Address& sender);

  // Guards which channel is held for which address; taken before a
  // channel's own lock, never while waiting.
  std::mutex m_mutex;
  int m_ownHeld = 0;
  bool m_sharedHeld = false;
  CReplyChannel m_shared;
  // As many as the table has devices, each waited on from its own address.
  std::array<Own, kDeviceTableCapacity> m_own;
};

}  // namespace quorvik
