// Search answers and acknowledgements processed per second on one core,
// for each reply kind, against a table that already holds 98 devices (the
// worst case: every lookup scans the whole run).
//
//   make bench   (or: build/release/bench/reply_processing_bench)

#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

#include "net/reply_processing.h"
#include "net/reply_state.h"
#include "tests/support/datagram_builder.h"

using namespace quorvik;

namespace {

const std::vector<uint8_t> kMac = {0, 1, 2, 3, 4, 5};

void FillTable(DeviceSession& devices, int count) {
  std::lock_guard lock(devices.deviceMutex);
  for (int i = 0; i < count; ++i) {
    DeviceRecord& r = devices.deviceTable[i];
    r.loaderType = 1;
    r.version = 0x0100;
    r.identityLength = 11;
    for (int b = 0; b < 11; ++b) r.identity[b] = static_cast<uint8_t>(0x80 + i + b);
  }
}

void Run(benchmark::State& state, uint16_t port, const CDatagram& datagram) {
  DeviceSession devices;
  FillTable(devices, 98);
  for (auto _ : state) ProcessDatagram(devices, port, datagram.Span());
  state.SetItemsProcessed(state.iterations());
}

void ProcessGen1Answer(benchmark::State& state) {
  Run(state, kBootPortA, Gen1Answer(1, 0x0100, 0x3610, 512, kMac, IdentityBytes(0x10, 11)));
}
void ProcessGen2Answer(benchmark::State& state) {
  Run(state, kBootPortB, Gen2Answer(600, 0x0100, 0x4601, 512, kMac, IdentityBytes(0x10, 16)));
}
void ProcessGen3AnswerWithUnits(benchmark::State& state) {
  Run(state, kBootPortA,
      Gen3Answer(0x0381, 0x0100, 0x9308, 1, 512, kMac, 1, IdentityBytes(0x10, 9)));
}
void ProcessAppAnswer(benchmark::State& state) {
  Run(state, kAppPort, AppAnswer(0x0100, kMac, "Truss Node 12", IdentityBytes(0x10, 11)));
}
// A hidden device's answer against a black-list of state.range(0) entries:
// the cost per answer must not grow with the list.
void ProcessBlackListedAnswer(benchmark::State& state) {
  DeviceSession devices;
  FillTable(devices, 98);
  {
    std::string text;
    char serial[40];
    for (int64_t i = 0; i < state.range(0); ++i) {
      std::snprintf(serial, sizeof serial, "0a0b0c0d0e0f%010llx", static_cast<long long>(i));
      text += std::string(serial) + " (Node " + std::to_string(i) + ");";
    }
    text += "101112131415161718191a (Hidden)";
    std::lock_guard lock(devices.deviceMutex);
    devices.blackList = std::move(text);
  }
  const CDatagram d = AppAnswer(0x0100, kMac, "Hidden", IdentityBytes(0x10, 11));
  for (auto _ : state) ProcessDatagram(devices, kAppPort, d.Span());
  state.SetItemsProcessed(state.iterations());
}
void ProcessWriteAcknowledgement(benchmark::State& state) {
  const CDatagram d(kBootMagic, kOpWriteBlockReply, 10);
  DeviceSession devices;
  for (auto _ : state) ProcessDatagram(devices, kBootPortA, d.Span());
  state.SetItemsProcessed(state.iterations());
}
void ProcessWrongMagic(benchmark::State& state) {
  const CDatagram d = Gen1Answer(1, 0x0100, 0x3610, 512, kMac, IdentityBytes(0x10, 11)).U8(3, 'x');
  DeviceSession devices;
  for (auto _ : state) ProcessDatagram(devices, kBootPortA, d.Span());
  state.SetItemsProcessed(state.iterations());
}

BENCHMARK(ProcessGen1Answer);
BENCHMARK(ProcessGen2Answer);
BENCHMARK(ProcessGen3AnswerWithUnits);
BENCHMARK(ProcessAppAnswer);
BENCHMARK(ProcessBlackListedAnswer)->Arg(40)->Arg(100000);
BENCHMARK(ProcessWriteAcknowledgement);
BENCHMARK(ProcessWrongMagic);

}  // namespace

BENCHMARK_MAIN();
