#pragma once
// The acknowledgement that a waiting request expects. Receivers publish the
// reply's values before they clear the pending flag, all under one lock, and
// wake the waiter at once instead of letting it poll.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>

#include "net/protocol.h"

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

class ReplyState {
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

extern ReplyState g_replyState;

// Status of the last acknowledgement, shown when a write times out.
uint16_t GetReplyStatus();
