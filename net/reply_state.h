#pragma once
// The acknowledgement that a waiting request expects. Receivers publish the
// reply's values before they clear the pending flag, all under one lock, and
// wake the waiter at once instead of letting it poll.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

class ReplyState {
 public:
  // Marks a reply as awaited; called just before the request is sent.
  void Arm();
  void PublishWriteAck();
  void PublishVerify(uint16_t value, uint16_t status);
  // Waits until the awaited reply has cleared the pending flag. False when
  // the limit passes first.
  bool WaitForReply(std::chrono::milliseconds limit);
  // Ends every wait at once, now and from now on, as a time-out: the
  // program is closing and must not sit out a 5 s limit.
  void AbortWaits();

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

 private:
  mutable std::mutex m_mutex;
  std::condition_variable m_cleared;
  bool m_aborted = false;
  bool m_replyPending = false;
  uint16_t m_replyStatus = 0;
  uint16_t m_replyValue = 0;
};

extern ReplyState g_replyState;

// Status of the last acknowledgement, shown when a write times out.
uint16_t GetReplyStatus();
