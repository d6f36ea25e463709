#include "net/reply_state.h"

#include <thread>

namespace quorvik {

void CReplyChannel::Arm(std::optional<Ipv4Address> from, Awaited awaited) {
  std::lock_guard lock(m_mutex);
  m_replyPending = true;
  m_from = from;
  m_awaited = awaited;
}

bool CReplyChannel::Accepts(const Ipv4Address& sender) const {
  return !m_from || *m_from == sender;
}

void CReplyChannel::PublishWriteAck(const Ipv4Address& sender) {
  {
    std::lock_guard lock(m_mutex);
    if (!Accepts(sender) || (m_replyPending && m_awaited == Awaited::kVerifyAnswer)) return;
    m_replyStatus = 0;
    m_replyPending = false;
  }
  m_cleared.notify_all();
}

void CReplyChannel::PublishVerify(uint16_t value, uint16_t status, const Ipv4Address& sender) {
  {
    std::lock_guard lock(m_mutex);
    if (!Accepts(sender)) return;
    m_replyValue = value;
    m_replyStatus = status;
    m_replyPending = false;
  }
  m_cleared.notify_all();
}

bool CReplyChannel::WaitForReply(std::chrono::milliseconds limit) {
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

void CReplyChannel::Pause(std::chrono::milliseconds length) {
  if (m_time != nullptr)
    m_time->PassUntil(length, [] { return false; });
  else
    std::this_thread::sleep_for(length);
}

void CReplyChannel::AbortWaits() {
  {
    std::lock_guard lock(m_mutex);
    m_aborted = true;
  }
  m_cleared.notify_all();
}

CReplyChannel::Values CReplyChannel::LastValues() const {
  std::lock_guard lock(m_mutex);
  return {m_replyValue, m_replyStatus};
}

bool CReplyChannel::replyPending() const {
  std::lock_guard lock(m_mutex);
  return m_replyPending;
}

uint16_t CReplyChannel::replyStatus() const {
  std::lock_guard lock(m_mutex);
  return m_replyStatus;
}

uint16_t CReplyChannel::replyValue() const {
  std::lock_guard lock(m_mutex);
  return m_replyValue;
}

void CReplyChannel::Reset() {
  std::lock_guard lock(m_mutex);
  m_aborted = m_replyPending = false;
  m_from.reset();
  m_awaited = Awaited::kWriteAcknowledgement;
  m_replyStatus = m_replyValue = 0;
}

void CReplyChannel::ResetStatus() {
  std::lock_guard lock(m_mutex);
  m_replyStatus = 0;
}

void CReplyChannel::Clear() {
  std::lock_guard lock(m_mutex);
  m_replyPending = false;
  m_from.reset();
  m_awaited = Awaited::kWriteAcknowledgement;
  m_replyStatus = m_replyValue = 0;
}

CReplyChannels::CClaim::CClaim(CClaim&& other) noexcept
    : m_owner(other.m_owner), m_channel(other.m_channel), m_slot(other.m_slot) {
  other.m_owner = nullptr;
  other.m_channel = nullptr;
}

CReplyChannels::CClaim::~CClaim() {
  if (m_owner != nullptr) m_owner->Release(m_slot);
}

CReplyChannels::CClaim CReplyChannels::Claim(const std::optional<Ipv4Address>& source) {
  std::lock_guard lock(m_mutex);
  if (!source) {
    if (m_sharedHeld) return {};
    m_sharedHeld = true;
    return CClaim(this, &m_shared, -1);
  }
  int free = -1;
  for (int i = 0; i < static_cast<int>(m_own.size()); ++i) {
    if (m_own[i].held && m_own[i].address == *source) return {};
    if (!m_own[i].held && free < 0) free = i;
  }
  if (free < 0) return {};
  Own& own = m_own[free];
  own.channel.Clear();
  own.address = *source;
  own.held = true;
  ++m_ownHeld;
  return CClaim(this, &own.channel, free);
}

void CReplyChannels::Release(int slot) {
  std::lock_guard lock(m_mutex);
  if (slot < 0) {
    m_sharedHeld = false;
    return;
  }
  m_own[slot].held = false;
  --m_ownHeld;
}

CReplyChannel& CReplyChannels::Route(const Ipv4Address& sender) {
  if (m_ownHeld > 0)
    for (Own& own : m_own)
      if (own.held && own.address == sender) return own.channel;
  return m_shared;
}

void CReplyChannels::PublishWriteAck(const Ipv4Address& sender) {
  std::lock_guard lock(m_mutex);
  Route(sender).PublishWriteAck(sender);
}

void CReplyChannels::PublishVerify(uint16_t value, uint16_t status, const Ipv4Address& sender) {
  std::lock_guard lock(m_mutex);
  Route(sender).PublishVerify(value, status, sender);
}

void CReplyChannels::AbortWaits() {
  m_shared.AbortWaits();
  for (Own& own : m_own) own.channel.AbortWaits();
}

void CReplyChannels::SetTime(IReplyTime* time) {
  m_shared.SetTime(time);
  for (Own& own : m_own) own.channel.SetTime(time);
}

void CReplyChannels::ResetStatus() {
  m_shared.ResetStatus();
  for (Own& own : m_own) own.channel.ResetStatus();
}

void CReplyChannels::Reset() {
  m_shared.Reset();
  for (Own& own : m_own) own.channel.Reset();
}

}  // namespace quorvik
