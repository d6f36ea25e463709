#include "net/reply_state.h"

#include <thread>

void ReplyState::Arm(std::optional<Ipv4Address> from, Awaited awaited) {
  std::lock_guard lock(m_mutex);
  m_replyPending = true;
  m_from = from;
  m_awaited = awaited;
}

bool ReplyState::Accepts(const Ipv4Address& sender) const {
  return !m_from || *m_from == sender;
}

void ReplyState::PublishWriteAck(const Ipv4Address& sender) {
  {
    std::lock_guard lock(m_mutex);
    if (!Accepts(sender) || (m_replyPending && m_awaited == Awaited::kVerifyAnswer)) return;
    m_replyStatus = 0;
    m_replyPending = false;
  }
  m_cleared.notify_all();
}

void ReplyState::PublishVerify(uint16_t value, uint16_t status, const Ipv4Address& sender) {
  {
    std::lock_guard lock(m_mutex);
    if (!Accepts(sender)) return;
    m_replyValue = value;
    m_replyStatus = status;
    m_replyPending = false;
  }
  m_cleared.notify_all();
}

bool ReplyState::WaitForReply(std::chrono::milliseconds limit) {
  if (m_time != nullptr) {
    m_time->PassUntil(limit, [this] {
      std::lock_guard lock(m_mutex);
      return !m_replyPending || m_aborted;
    });
    std::lock_guard lock(m_mutex);
    return !m_replyPending && !m_aborted;
  }
  std::unique_lock lock(m_mutex);
  m_cleared.wait_for(lock, limit, [this] { return !m_replyPending || m_aborted; });
  return !m_replyPending && !m_aborted;
}

void ReplyState::Pause(std::chrono::milliseconds length) {
  if (m_time != nullptr)
    m_time->PassUntil(length, [] { return false; });
  else
    std::this_thread::sleep_for(length);
}

void ReplyState::AbortWaits() {
  {
    std::lock_guard lock(m_mutex);
    m_aborted = true;
  }
  m_cleared.notify_all();
}

ReplyState::Values ReplyState::LastValues() const {
  std::lock_guard lock(m_mutex);
  return {m_replyValue, m_replyStatus};
}

bool ReplyState::replyPending() const {
  std::lock_guard lock(m_mutex);
  return m_replyPending;
}

uint16_t ReplyState::replyStatus() const {
  std::lock_guard lock(m_mutex);
  return m_replyStatus;
}

uint16_t ReplyState::replyValue() const {
  std::lock_guard lock(m_mutex);
  return m_replyValue;
}

void ReplyState::Reset() {
  std::lock_guard lock(m_mutex);
  m_aborted = m_replyPending = false;
  m_from.reset();
  m_awaited = Awaited::kWriteAcknowledgement;
  m_replyStatus = m_replyValue = 0;
}

void ReplyState::ResetStatus() {
  std::lock_guard lock(m_mutex);
  m_replyStatus = 0;
}

uint16_t GetReplyStatus() {
  return g_replyState.replyStatus();
}
