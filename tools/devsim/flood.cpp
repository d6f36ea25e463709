#include "tools/devsim/flood.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <random>

#include "net/protocol.h"
#include "tools/devsim/reply_frames.h"

namespace quorvik {

namespace {

// Flood devices carry serials starting with 0xF1 so that they never equal
// a configured device's.
std::vector<uint8_t> Identity(int device, size_t length) {
  std::vector<uint8_t> id(length);
  for (size_t i = 0; i < length; ++i) id[i] = static_cast<uint8_t>(i == 0 ? 0xF1 : device + i);
  id[length - 1] = static_cast<uint8_t>(device);
  return id;
}

// Boot answers go out padded with zeros to 64 bytes, past the end of their
// layout: the tool must read them by their fields, not by their length.
constexpr size_t kBootAnswerLength = 64;

// The answer a device of the flood gives, through the simulated devices'
// own encoders.
FloodDatagram ValidAnswer(int device, std::mt19937& random) {
  DeviceConfig config;
  config.mac = {0x02, 0xF1, 0, 0, static_cast<uint8_t>(device >> 8), static_cast<uint8_t>(device)};
  config.blockSize = 512;
  switch (device % 4) {
    case 0:
    case 1: {  // generation 1 on one boot port, generation 2 on the other
      const bool gen1 = device % 4 == 0;
      config.loaderType = gen1 ? 1 : 0x0200;
      config.version = 0x0105;
      config.deviceId = gen1 ? 0x3610 : 0x4601;
      config.identity = Identity(device, gen1 ? 11 : 16);
      auto d = EncodeBootSearchReply(config);
      d.resize(kBootAnswerLength);
      return {gen1 ? kBootPortA : kBootPortB, d};
    }
    case 2: {  // generation 3 with up to three units
      config.loaderType = 0x0381;
      config.units = static_cast<uint8_t>(1 + random() % 3);
      config.deviceId = 0x9308;
      config.mcuId = 0x0021;
      config.version = 0x0301;
      config.identity = Identity(device, 9);
      auto d = EncodeBootSearchReply(config);
      d.resize(kBootAnswerLength);
      return {kBootPortA, d};
    }
    default: {  // application mode
      config.appVersion = 0x0104;
      config.name = "Flood node " + std::to_string(device) + " %s;\xE9";
      config.identity = Identity(device, 11);
      return {kAppPort, EncodeAppSearchReply(config)};
    }
  }
}

}  // namespace

std::vector<FloodDatagram> BuildFloodDatagrams(int devices, uint32_t seed) {
  std::mt19937 random(seed);
  std::vector<FloodDatagram> out;
  for (int device = 0; device < devices; ++device) {
    FloodDatagram valid = ValidAnswer(device, random);
    out.push_back(valid);
    out.push_back(valid);  // answered twice
    FloodDatagram cut = valid;
    cut.bytes.resize(random() % cut.bytes.size());
    out.push_back(cut);
    FloodDatagram wrongMagic = valid;
    wrongMagic.bytes[random() % 8] ^= 0x20;
    out.push_back(wrongMagic);
    if (device % 8 == 0) {
      FloodDatagram big = valid;
      big.bytes.resize(1500);
      for (size_t i = valid.bytes.size(); i < big.bytes.size(); ++i)
        big.bytes[i] = static_cast<uint8_t>(random());
      out.push_back(big);
      out.push_back({kBootPortA, EncodeWriteBlockReply()});
      const auto crc = static_cast<uint16_t>(random());
      const auto status = static_cast<uint16_t>(random() % 2);
      out.push_back({kBootPortB, EncodeVerifyReply(crc, status)});
    }
  }
  return out;
}

CFlood::CFlood(std::string iface, int devices, uint32_t perSecond, uint32_t seconds)
    : m_iface(std::move(iface)), m_devices(devices), m_perSecond(perSecond), m_seconds(seconds) {}

CFlood::~CFlood() {
  Stop();
}

bool CFlood::Start() {
  m_fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  const int on = 1;
  if (m_fd < 0 || ::setsockopt(m_fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0 ||
      ::setsockopt(m_fd, SOL_SOCKET, SO_BINDTODEVICE, m_iface.c_str(),
                   static_cast<socklen_t>(m_iface.size())) != 0) {
    if (m_fd >= 0) ::close(m_fd);
    m_fd = -1;
    return false;
  }
  m_thread = std::thread(&CFlood::Run, this, m_fd);
  return true;
}

void CFlood::Stop() {
  m_stop = true;
  if (m_thread.joinable()) m_thread.join();
  if (m_fd >= 0) ::close(m_fd);
  m_fd = -1;
}

void CFlood::Run(int fd) {
  using Clock = std::chrono::steady_clock;
  const auto datagrams = BuildFloodDatagrams(m_devices, 1);
  const auto start = Clock::now();
  const auto end = start + std::chrono::seconds(m_seconds);
  uint64_t sent = 0;
  while (!m_stop.load() && (m_seconds == 0 || Clock::now() < end)) {
    for (const FloodDatagram& d : datagrams) {
      sockaddr_in to{};
      to.sin_family = AF_INET;
      to.sin_addr.s_addr = htonl(INADDR_BROADCAST);
      to.sin_port = htons(d.port);
      ::sendto(fd, d.bytes.data(), d.bytes.size(), 0, reinterpret_cast<const sockaddr*>(&to),
               sizeof to);
      ++sent;
      // Paced in steps of a millisecond's worth of datagrams.
      if (m_perSecond != 0 && sent % std::max<uint32_t>(1, m_perSecond / 1000) == 0) {
        const auto due = start + std::chrono::microseconds(sent * 1'000'000 / m_perSecond);
        std::this_thread::sleep_until(due);
      }
      if (m_stop.load()) break;
    }
    m_sent = sent;
  }
  m_sent = sent;
}

}  // namespace quorvik
