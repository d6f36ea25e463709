#include "tools/devsim/simulation.h"

#include <filesystem>
#include <fstream>

#include "base/hex_text.h"
#include "net/bytes.h"
#include "net/frames.h"

namespace quorvik {

namespace {

const char* MagicName(std::span<const uint8_t> datagram) {
  if (HasMagic(datagram, kBootMagic)) return "boot";
  if (HasMagic(datagram, kAppMagic)) return "app";
  return nullptr;
}

bool IsReplyOpcode(uint16_t opcode) {
  return opcode == kOpSearchReply || opcode == kOpWriteBlockReply || opcode == kOpVerifyReply;
}

}  // namespace

CSimulation::CSimulation(std::vector<DeviceConfig> devices, Sender sender, LogSink log)
    : m_sender(std::move(sender)), m_log(std::move(log)) {
  m_devices.reserve(devices.size());
  for (DeviceConfig& config : devices) m_devices.emplace_back(std::move(config));
}

void CSimulation::Log(const std::string& line) const {
  if (m_log) m_log(line);
}

std::string CSimulation::DeviceTag(size_t device) const {
  return "device=" + m_devices[device].Label() + " index=" + std::to_string(device);
}

void CSimulation::OnDatagram(uint16_t port, std::span<const uint8_t> datagram, uint64_t nowMs) {
  const char* magic = MagicName(datagram);
  const uint16_t opcode = FrameReader(datagram).Le16(8);
  // Every answer is a broadcast, so the simulator hears its own answers and
  // those of the tool's other listeners; none of them is a request.
  if (magic != nullptr && IsReplyOpcode(opcode)) return;

  std::string line = "rx port=" + std::to_string(port) + " op=" + Hex16(opcode) +
                     " len=" + std::to_string(datagram.size());
  if (magic == nullptr) {
    Log(line + " magic=none matched=0");
    return;
  }
  line += std::string(" magic=") + magic;

  std::vector<std::pair<size_t, SimHandling>> handled;
  for (size_t i = 0; i < m_devices.size(); ++i) {
    if (!OnBench(i, nowMs)) continue;
    SimHandling handling = m_devices[i].Handle(port, datagram, nowMs);
    if (handling.accepted) handled.emplace_back(i, std::move(handling));
  }
  line += " matched=" + std::to_string(handled.size());
  for (const auto& [device, handling] : handled) {
    if (!handling.detail.empty()) {
      line += " " + handling.detail;
      break;
    }
  }
  Log(line);
  for (const auto& [device, handling] : handled) Carry(device, handling, nowMs);
}

bool CSimulation::OnBench(size_t device, uint64_t nowMs) const {
  return m_devices[device].Config().OnBenchAt(nowMs >= m_readyMs ? nowMs - m_readyMs : 0);
}

void CSimulation::Carry(size_t device, const SimHandling& handling, uint64_t nowMs) {
  for (const std::string& event : handling.events) Log("event " + DeviceTag(device) + " " + event);
  for (const SimReply& reply : handling.replies) {
    if (reply.delayMs == 0) {
      Send(device, reply);
    } else {
      m_pending.emplace(std::make_pair(nowMs + reply.delayMs, m_sequence++),
                        PendingAction{device, false, reply});
    }
  }
  if (handling.restartAfterMs) {
    m_pending.emplace(std::make_pair(nowMs + *handling.restartAfterMs, m_sequence++),
                      PendingAction{device, true, {}});
  }
}

void CSimulation::Send(size_t device, const SimReply& reply) {
  const CSimDevice& d = m_devices[device];
  const bool sent = m_sender(reply.port, reply.bytes,
                             d.State() == SimState::kBoot ? d.Config().loaderSource : "");
  FrameReader frame(reply.bytes);
  std::string line = std::string(sent ? "tx" : "tx-failed") +
                     " port=" + std::to_string(reply.port) + " op=" + Hex16(frame.Le16(8)) +
                     " len=" + std::to_string(reply.bytes.size()) + " " + DeviceTag(device);
  if (!reply.note.empty()) line += " " + reply.note;
  Log(line);
}

void CSimulation::RunDue(uint64_t nowMs) {
  while (!m_pending.empty() && m_pending.begin()->first.first <= nowMs) {
    PendingAction pending = std::move(m_pending.begin()->second);
    m_pending.erase(m_pending.begin());
    if (pending.restart) {
      m_devices[pending.device].FinishRestart(nowMs);
      Log("event " + DeviceTag(pending.device) +
          " what=mode mode=" + StateName(m_devices[pending.device].State()));
    } else if (OnBench(pending.device, nowMs)) {
      // An answer due after the device was taken off the bench is lost.
      Send(pending.device, pending.reply);
    }
  }
}

void CSimulation::RestartDevice(size_t device, uint64_t nowMs, uint32_t delayMs) {
  m_devices[device].Restart();
  Log("event " + DeviceTag(device) + " what=restart delay=" + std::to_string(delayMs));
  m_pending.emplace(std::make_pair(nowMs + delayMs, m_sequence++), PendingAction{device, true, {}});
}

std::optional<uint64_t> CSimulation::NextDueMs() const {
  if (m_pending.empty()) return std::nullopt;
  return m_pending.begin()->first.first;
}

std::vector<std::string> CSimulation::SummaryLines() const {
  std::vector<std::string> lines;
  for (size_t i = 0; i < m_devices.size(); ++i) {
    const CSimDevice& device = m_devices[i];
    const DeviceCounters& c = device.Counters();
    lines.push_back(
        "summary " + DeviceTag(i) + " mode=" + StateName(device.State()) +
        " blocks=" + std::to_string(c.blocks) + " bytes=" + std::to_string(device.Image().size()) +
        " crc=" + Hex16(device.ImageCrc()) + " verifies=" + std::to_string(c.verifies) +
        " runs=" + std::to_string(c.runs) + " resets=" + std::to_string(c.factoryResets) +
        " mismatches=" + std::to_string(c.mismatches) + " writes=" + std::to_string(c.writes) +
        " dropped=" + std::to_string(c.droppedAcks) + " failed=" + std::to_string(c.failedWrites));
  }
  return lines;
}

std::string ImageFileName(const CSimDevice& device, size_t index) {
  if (device.Label().empty()) return "index" + std::to_string(index) + ".img";
  return device.Label() + ".img";
}

std::string CSimulation::WriteImages(const std::string& dir) const {
  std::error_code error;
  std::filesystem::create_directories(dir, error);
  if (error) return "cannot create " + dir + ": " + error.message();
  for (size_t i = 0; i < m_devices.size(); ++i) {
    const std::filesystem::path path = std::filesystem::path(dir) / ImageFileName(m_devices[i], i);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    const auto& image = m_devices[i].Image();
    out.write(reinterpret_cast<const char*>(image.data()),
              static_cast<std::streamsize>(image.size()));
    if (!out) return "cannot write " + path.string();
  }
  return {};
}

}  // namespace quorvik
