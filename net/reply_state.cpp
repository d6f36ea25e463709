#include "net/reply_state.h"

void ReplyState::Arm() {
  std::lock_guard lock(m_mutex);
  m_replyPending = true;
}

void ReplyState::PublishWriteAck() {
  {
    std::lock_guard lock(m_mutex);
    m_replyStatus = 0;
    m_replyPending = false;
  }
  m_cleared.notify_all();
}

void ReplyState::PublishVerify(uint16_t value, uint16_t status) {
  {
    std::lock_guard lock(m_mutex);
    m_replyValue = value;
    m_replyStatus = status;
    m_replyPending = false;
  }
  m_cleared.notify_all();
}

bool ReplyState::WaitForReply(std::chrono::milliseconds limit) {
  std::unique_lock lock(m_mutex);
  m_cleared.wait_for(lock, limit, [this] { return !m_replyPending || m_aborted; });
  return !m_replyPending && !m_aborted;
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

void ReplyState::ResetStatus() {
  std::lock_guard lock(m_mutex);
  m_replyStatus = 0;
}

uint16_t GetReplyStatus() {
  return g_replyState.replyStatus();
}
