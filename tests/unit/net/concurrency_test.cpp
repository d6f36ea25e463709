// Three receivers processing answers while the window thread empties the
// table, edits the black-list and reads rows. Run under ThreadSanitizer this
// catches any access outside the lock; everywhere it checks that the table
// never loses its shape.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <random>
#include <thread>
#include <vector>

#include "net/reply_processing.h"
#include "net/reply_state.h"
#include "tests/support/datagram_builder.h"

using namespace quorvik;

namespace {

std::vector<CDatagram> MixedAnswers(unsigned seed) {
  std::mt19937 random(seed);
  std::vector<CDatagram> answers;
  const std::vector<uint8_t> mac = {0, 1, 2, 3, 4, 5};
  for (int i = 0; i < 200; ++i) {
    auto id = IdentityBytes(static_cast<uint8_t>(random() % 60), 16);
    switch (random() % 5) {
      case 0:
        answers.push_back(Gen1Answer(1, 0x0100, 0x3610, 256, mac, std::span(id).first(11)));
        break;
      case 1:
        answers.push_back(Gen2Answer(600, 0x0100, 0x2000, 512, mac, id));
        break;
      case 2:
        answers.push_back(Gen3Answer(0x0381, 0x0100, 0x9308, 1, 512, mac,
                                     static_cast<uint8_t>(random() % 4), std::span(id).first(9)));
        break;
      case 3:
        answers.push_back(
            AppAnswer(static_cast<uint16_t>(random() % 3), mac, "Node", std::span(id).first(11)));
        break;
      default:
        answers.push_back(CDatagram(kBootMagic, kOpWriteBlockReply, 10));
    }
  }
  return answers;
}

TEST(ReceiverConcurrency, TableKeepsOneUnbrokenRunWhileTheWindowThreadWorks) {
  DeviceSession devices;
  std::atomic<bool> stop{false};
  std::atomic<long> processed{0};
  std::vector<std::thread> receivers;
  const uint16_t ports[] = {kBootPortA, kBootPortB, kAppPort};
  for (unsigned r = 0; r < 3; ++r)
    receivers.emplace_back([&, r] {
      const auto answers = MixedAnswers(r + 1);
      while (!stop.load())
        for (const auto& a : answers) {
          ProcessDatagram(devices, a.Vector()[0] == 'B' ? kAppPort : ports[r % 2], a.Span());
          ++processed;
        }
    });

  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(300);
  for (int round = 0; std::chrono::steady_clock::now() < until; ++round) {
    std::this_thread::yield();
    std::lock_guard lock(devices.deviceMutex);
    const int used = CountUsedRecords(devices.deviceTable);
    ASSERT_LE(used, kDeviceTableCapacity);
    for (int i = used; i < kDeviceTableCapacity; ++i)
      ASSERT_TRUE(devices.deviceTable[i].IsFree())
          << "record " << i << " after a free one at " << used;
    if (used > 0) devices.deviceTable[0].SetName("Renamed by the list");
    if (round % 10 == 0) {
      ClearDeviceTable(devices.deviceTable);
      devices.hiddenCount = 0;
    }
    devices.blackList = round % 3 == 0 ? "0102030405060708090a" : "";
  }
  stop = true;
  for (auto& t : receivers) t.join();
  EXPECT_GT(processed.load(), 1000);
}

}  // namespace
