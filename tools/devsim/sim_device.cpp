#include "tools/devsim/sim_device.h"

#include <algorithm>

#include "base/hex_text.h"
#include "net/bytes.h"
#include "net/frames.h"
#include "tools/devsim/reply_frames.h"

namespace quorvik {

const char* StateName(SimState state) {
  switch (state) {
    case SimState::kApp:
      return "app";
    case SimState::kRestarting:
      return "restarting";
    case SimState::kBoot:
      return "boot";
    case SimState::kGone:
      return "gone";
  }
  return "?";
}

CSimDevice::CSimDevice(DeviceConfig config)
    : m_config(std::move(config)),
      m_label(HexText(m_config.identity)),
      m_state(m_config.mode == SimMode::kApp ? SimState::kApp : SimState::kBoot) {}

uint16_t CSimDevice::ImageCrc() const {
  return ComputeImageCrc(m_image);
}

void CSimDevice::FinishRestart(uint64_t nowMs) {
  if (m_state != SimState::kRestarting) return;
  m_state = SimState::kBoot;
  m_eraseOnWrite = true;
  m_takesBlocksAt.reset();
  if (m_config.takesBlocksAfterMs != 0) m_takesBlocksAt = nowMs + m_config.takesBlocksAfterMs;
}

SimHandling CSimDevice::Handle(uint16_t port, std::span<const uint8_t> datagram, uint64_t nowMs) {
  m_nowMs = nowMs;
  switch (m_state) {
    case SimState::kApp:
      return HandleApp(port, datagram);
    case SimState::kBoot:
      return HandleBoot(port, datagram);
    case SimState::kRestarting:
    case SimState::kGone:
      break;
  }
  return {};
}

SimHandling CSimDevice::Accepted(std::string detail) const {
  SimHandling handling;
  handling.accepted = true;
  handling.detail = "device=" + m_label;
  if (!detail.empty()) handling.detail += " " + detail;
  return handling;
}

bool CSimDevice::IdentityAt(std::span<const uint8_t> datagram, size_t at, size_t count) const {
  const auto identity = m_config.PaddedIdentity();
  FrameReader frame(datagram);
  for (size_t i = 0; i < count; ++i) {
    if (frame.U8(at + i) != identity[i]) return false;
  }
  return true;
}

bool CSimDevice::MacAt(std::span<const uint8_t> datagram, size_t at) const {
  FrameReader frame(datagram);
  for (size_t i = 0; i < m_config.mac.size(); ++i) {
    if (frame.U8(at + i) != m_config.mac[i]) return false;
  }
  return true;
}

SimHandling CSimDevice::HandleApp(uint16_t port, std::span<const uint8_t> datagram) {
  if (port != kAppPort || !HasMagic(datagram, kAppMagic)) return {};
  const uint16_t opcode = FrameReader(datagram).Le16(8);

  if (opcode == kOpSearch) {
    SimHandling handling = Accepted();
    handling.detail.clear();
    handling.replies.push_back({kAppPort, EncodeAppSearchReply(m_config), 0, {}});
    return handling;
  }
  if (opcode == kOpEnterBootloader && MacAt(datagram, 10)) {
    SimHandling handling = Accepted();
    if (m_config.neverReturn) {
      m_state = SimState::kGone;
      handling.events.push_back("what=enter-bootloader never-return=1");
    } else {
      m_state = SimState::kRestarting;
      handling.restartAfterMs = m_config.bootDelayMs;
      handling.events.push_back("what=enter-bootloader delay=" +
                                std::to_string(m_config.bootDelayMs));
    }
    return handling;
  }
  if (opcode == kOpFactoryReset && MacAt(datagram, 10)) {
    SimHandling handling = Accepted("form=app");
    ++m_counters.factoryResets;
    handling.events.push_back("what=factory-reset form=app");
    return handling;
  }
  return {};
}

SimHandling CSimDevice::HandleBoot(uint16_t port, std::span<const uint8_t> datagram) {
  if (!HasMagic(datagram, kBootMagic)) return {};
  FrameReader frame(datagram);
  const uint16_t opcode = frame.Le16(8);

  // The tool sends both forms of the reset through its application socket,
  // so the loader form shows up on the application port too.
  if (opcode == kOpFactoryReset) {
    if (port != m_config.bootPort && port != kAppPort) return {};
    if (!IdentityAt(datagram, 10, kIdentityCapacity) || frame.Le32(26) != kFactoryResetPattern)
      return {};
    SimHandling handling = Accepted("form=boot");
    ++m_counters.factoryResets;
    handling.events.push_back("what=factory-reset form=boot");
    return handling;
  }

  if (port != m_config.bootPort) return {};
  switch (opcode) {
    case kOpSearch: {
      SimHandling handling = Accepted();
      handling.detail.clear();
      handling.replies.push_back({m_config.bootPort, EncodeBootSearchReply(m_config), 0, {}});
      return handling;
    }
    case kOpWriteBlock:
      return HandleWrite(datagram);
    case kOpVerify:
      if (!IdentityAt(datagram, 11, kIdentityCapacity)) return {};
      return HandleVerify();
    case kOpRunApplication: {
      if (!IdentityAt(datagram, 10, kIdentityCapacity)) return {};
      SimHandling handling = Accepted();
      ++m_counters.runs;
      if (m_config.imageNeverStarts && m_counters.blocks > 0) {
        handling.events.push_back("what=run-failed");
        return handling;
      }
      m_state = SimState::kApp;
      if (const auto at = m_config.imageVersionAt;
          at && m_counters.blocks > 0 && *at + 2 <= m_image.size())
        m_config.appVersion = static_cast<uint16_t>(m_image[*at] << 8 | m_image[*at + 1]);
      handling.events.push_back("what=run");
      return handling;
    }
    default:
      return {};
  }
}

uint32_t CSimDevice::AckDelayFor(uint32_t ordinal) const {
  for (const DelayedAck& delayed : m_config.delayAcks) {
    if (delayed.index == ordinal) return delayed.ms;
  }
  return m_config.ackDelayMs;
}

SimHandling CSimDevice::HandleWrite(std::span<const uint8_t> datagram) {
  const WriteBlockLayout& layout = WriteBlockLayoutFor(m_config.loaderType);
  FrameReader frame(datagram);
  // Generation 3 keeps a zero byte in front of the identity; a frame without
  // it is laid out for another loader.
  if (layout.identityAt > kHeaderLength && frame.U8(kHeaderLength) != 0) return {};
  if (!IdentityAt(datagram, layout.identityAt, layout.identityBytes)) return {};

  if (m_takesBlocksAt && m_nowMs < *m_takesBlocksAt) {
    SimHandling ignored = Accepted("not-ready");
    ignored.events.push_back("what=write-ignored not-ready-for=" +
                             std::to_string(*m_takesBlocksAt - m_nowMs));
    return ignored;
  }
  const uint32_t ordinal = ++m_counters.writes;
  const uint16_t sectionParam = frame.Be16(layout.sectionParamAt);
  const uint16_t deviceId = frame.Be16(layout.deviceIdAt);
  const uint32_t offset = frame.Be32(layout.offsetAt);
  const uint32_t sectionLength = frame.Be32(layout.sectionLengthAt);
  SimHandling handling =
      Accepted("write=" + std::to_string(ordinal) + " offset=" + std::to_string(offset) +
               " length=" + std::to_string(sectionLength) + " param=" + Hex16(sectionParam) +
               " deviceId=" + Hex16(deviceId));

  if (deviceId != m_config.deviceId) {
    ++m_counters.mismatches;
    handling.events.push_back("what=mismatch write=" + std::to_string(ordinal) + " deviceId=" +
                              Hex16(deviceId) + " expected=" + Hex16(m_config.deviceId));
  }

  auto failed = std::find_if(m_config.failWrites.begin(), m_config.failWrites.end(),
                             [&](const FailedWrite& f) { return f.index == ordinal; });
  if (failed != m_config.failWrites.end()) {
    ++m_counters.failedWrites;
    handling.events.push_back("what=fail-write write=" + std::to_string(ordinal) +
                              " status=" + Hex16(failed->status));
    handling.replies.push_back(
        {m_config.bootPort, EncodeVerifyReply(ImageCrc(), failed->status), m_config.ackDelayMs,
         "write=" + std::to_string(ordinal) + " status=" + Hex16(failed->status)});
    return handling;
  }

  if (m_eraseOnWrite) {
    m_image.clear();
    m_eraseOnWrite = false;
  }
  const size_t count = std::min<size_t>(m_config.blockSize, layout.MaxData());
  if (offset < kMaxImageBytes) {
    const size_t end = std::min<size_t>(size_t{offset} + count, kMaxImageBytes);
    if (end > m_image.size()) m_image.resize(end, 0xFF);
    for (size_t i = offset; i < end; ++i) m_image[i] = frame.U8(layout.dataAt + (i - offset));
  }
  ++m_counters.blocks;

  if (std::find(m_config.dropAcks.begin(), m_config.dropAcks.end(), ordinal) !=
      m_config.dropAcks.end()) {
    ++m_counters.droppedAcks;
    handling.events.push_back("what=drop-ack write=" + std::to_string(ordinal));
    return handling;
  }
  handling.replies.push_back({m_config.bootPort, EncodeWriteBlockReply(), AckDelayFor(ordinal),
                              "write=" + std::to_string(ordinal)});
  return handling;
}

SimHandling CSimDevice::HandleVerify() {
  SimHandling handling = Accepted();
  ++m_counters.verifies;
  uint16_t crc = ImageCrc();
  if (m_config.corruptVerifyCrc) crc ^= 0xFFFF;
  handling.replies.push_back({m_config.bootPort, EncodeVerifyReply(crc, m_config.verifyStatus),
                              m_config.ackDelayMs,
                              "crc=" + Hex16(crc) + " status=" + Hex16(m_config.verifyStatus)});
  return handling;
}

}  // namespace quorvik
