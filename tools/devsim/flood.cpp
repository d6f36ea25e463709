#include "tools/devsim/flood.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <random>

#include "net/bytes.h"
#include "net/frames.h"
#include "net/protocol.h"

namespace {

std::vector<uint8_t> Header(const Magic& magic, uint16_t opcode, size_t length) {
  std::vector<uint8_t> d(length, 0);
  EncodeHeader(d, magic, opcode);
  return d;
}

// Flood devices carry serials starting with 0xF1 so that they never equal
// a configured device's.
std::vector<uint8_t> Identity(int device, size_t length) {
  std::vector<uint8_t> id(length);
  for (size_t i = 0; i < length; ++i) id[i] = static_cast<uint8_t>(i == 0 ? 0xF1 : device + i);
  id[length - 1] = static_cast<uint8_t>(device);
  return id;
}

FloodDatagram ValidAnswer(int device, std::mt19937& random) {
  std::array<uint8_t, 6> mac = {
      0x02, 0xF1, 0, 0, static_cast<uint8_t>(device >> 8), static_cast<uint8_t>(device)};
  switch (device % 4) {
    case 0:
    case 1: {  // generation 1 on one boot port, generation 2 on the other
      const bool gen1 = device % 4 == 0;
      auto d = Header(kBootMagic, kOpSearchReply, 64);
      PutBe16(d, 10, gen1 ? 1 : 0x0200);
      PutBe16(d, 12, 0x0105);
      PutBe16(d, 14, gen1 ? 0x3610 : 0x4601);
      PutBe16(d, 16, 512);
      std::copy(mac.begin(), mac.end(), d.begin() + 18);
      auto id = Identity(device, gen1 ? 11 : 16);
      std::copy(id.begin(), id.end(), d.begin() + 24);
      return {gen1 ? kBootPortA : kBootPortB, d};
    }
    case 2: {  // generation 3 with up to three units
      auto d = Header(kBootMagic, kOpSearchReply, 64);
      PutBe16(d, 10, 0x0381);
      std::copy(mac.begin(), mac.end(), d.begin() + 12);
      d[18] = static_cast<uint8_t>(1 + random() % 3);
      PutBe16(d, 19, 0x9308);
      PutBe16(d, 21, 0x0021);
      PutBe16(d, 23, 0x0301);
      PutBe16(d, 25, 512);
      d[27] = 9;
      auto id = Identity(device, 9);
      std::copy(id.begin(), id.end(), d.begin() + 28);
      return {kBootPortA, d};
    }
    default: {  // application mode
      auto d = Header(kAppMagic, kOpSearchReply, 128);
      std::copy(mac.begin(), mac.end(), d.begin() + 18);
      PutBe16(d, 24, 0x0104);
      const std::string name = "Flood node " + std::to_string(device) + " %s;\xE9";
      std::copy(name.begin(), name.end(), d.begin() + 44);
      d[108] = 11;
      auto id = Identity(device, 11);
      std::copy(id.begin(), id.end(), d.begin() + 109);
      return {kAppPort, d};
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
      out.push_back({kBootPortA, Header(kBootMagic, kOpWriteBlockReply, 10)});
      auto verify = Header(kBootMagic, kOpVerifyReply, 14);
      PutBe16(verify, 10, static_cast<uint16_t>(random()));
      PutBe16(verify, 12, static_cast<uint16_t>(random() % 2));
      out.push_back({kBootPortB, verify});
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
