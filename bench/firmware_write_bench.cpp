// Times a 256 KiB section written in 512-byte blocks to a simulated
// device over UDP, against the protocol's floor: every block costs the
// device's reply time plus the 10 ms pause after its acknowledgement.
//
//   make bench        (or: scripts/netns-run build/release/bench/firmware_write_bench)

#include <chrono>
#include <cstdio>
#include <optional>
#include <thread>
#include <vector>

#include "net/frames.h"
#include "net/network_session.h"
#include "net/reply_processing.h"
#include "net/requests.h"
#include "tests/support/netns_guard.h"
#include "tests/support/simulator_process.h"

using namespace quorvik;

using Clock = std::chrono::steady_clock;

namespace {

constexpr size_t kSectionBytes = 256 * 1024;
constexpr uint16_t kBlockSize = 512;

std::optional<DeviceRecord> FindDevice(const DeviceSession& devices) {
  for (int attempt = 0; attempt < 200; ++attempt) {
    {
      std::lock_guard lock(devices.deviceMutex);
      if (CountUsedRecords(devices.deviceTable) > 0) return devices.deviceTable[0];
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return std::nullopt;
}

double Seconds(Clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

}  // namespace

int main(int argc, char** argv) {
  if (!InPrivateNetworkNamespace()) {
    std::fprintf(stderr, "run me through scripts/netns-run: I broadcast\n");
    return 2;
  }
  const int ackDelayMs = argc > 1 ? std::atoi(argv[1]) : 0;
  CSimulatorProcess sim(QUORVIK_DEVSIM_PATH,
                        R"({"devices": [{"mode": "boot", "loaderType": 897, "deviceId": 13952,
                            "blockSize": 512, "identity": "0102030405060708", "ackDelayMs": )" +
                            std::to_string(ackDelayMs) + "}]}",
                        "");
  DeviceSession devices;
  // Declared after `devices`: its receivers stop before they go.
  COpenNetwork network(devices);
  if (!sim.ready() || !network.Open("127.0.0.1")) return 1;
  RequestBootSearch(network);
  const auto device = FindDevice(devices);
  if (!device) {
    std::fprintf(stderr, "the simulated device did not answer\n");
    return 1;
  }

  // The device's reply time, from acknowledged exchanges without a pause.
  constexpr int kProbes = 50;
  uint16_t value = 0, status = 0;
  const auto probeStart = Clock::now();
  for (int i = 0; i < kProbes; ++i)
    if (!RequestVerify(network, devices, &*device, value, status)) return 1;
  const double replySeconds = Seconds(Clock::now() - probeStart) / kProbes;

  std::vector<uint8_t> image(kSectionBytes);
  for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<uint8_t>(i * 13);
  const uint32_t blocks = kSectionBytes / kBlockSize;
  const auto start = Clock::now();
  for (uint32_t offset = 0; offset < kSectionBytes; offset += kBlockSize) {
    if (!RequestWriteBlock(network, devices, &*device, offset,
                           std::span(image).subspan(offset, kBlockSize), kSectionBytes, 0x0105, 500)
             .acknowledged) {
      std::fprintf(stderr, "block at %u not acknowledged\n", offset);
      sim.Stop();
      std::fprintf(
          stderr, "%s\n",
          sim.output().substr(sim.output().size() > 3000 ? sim.output().size() - 3000 : 0).c_str());
      return 1;
    }
  }
  const double measured = Seconds(Clock::now() - start);
  const double floor = blocks * (replySeconds + 0.010);
  if (!RequestVerify(network, devices, &*device, value, status) ||
      value != ComputeImageCrc(image)) {
    std::fprintf(stderr, "the device holds another image\n");
    return 1;
  }
  network.Close();

  std::printf("firmware write: %u blocks of %u bytes (%zu bytes), device ack delay %d ms\n", blocks,
              kBlockSize, kSectionBytes, ackDelayMs);
  std::printf("  device reply time  %8.3f ms\n", replySeconds * 1000);
  std::printf("  measured           %8.3f s\n", measured);
  std::printf("  floor              %8.3f s  (blocks x (reply time + 10 ms))\n", floor);
  std::printf("  ratio              %8.4f  (goal < 1.03)\n", measured / floor);
  return 0;
}
