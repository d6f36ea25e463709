#pragma once
// The simulator is checked against the tool's own code wherever it can be:
// its answers go through the tool's receiver and its requests come from the
// tool's encoders, so the two sides cannot drift apart unnoticed.

#include <gtest/gtest.h>

#include <functional>
#include <mutex>
#include <vector>

#include "net/bytes.h"
#include "net/frames.h"
#include "net/reply_processing.h"
#include "tools/devsim/sim_device.h"

namespace quorvik {

namespace devsim_test {

using Bytes = std::vector<uint8_t>;

inline const Bytes kSerial = {0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7, 0xA8};

inline DeviceConfig Device(SimMode mode, uint16_t loaderType, Bytes identity = kSerial,
                           uint16_t bootPort = 10001) {
  DeviceConfig config;
  config.mode = mode;
  config.loaderType = loaderType;
  config.identity = std::move(identity);
  config.bootPort = bootPort;
  config.deviceId = 0x2204;
  config.mcuId = 0x0011;
  config.version = 0x0203;
  config.blockSize = 256;
  config.mac = {0x00, 0x0A, 0x95, 0x9D, 0x68, 0x16};
  return config;
}

inline Bytes Encoded(const std::function<size_t(std::span<uint8_t>)>& encode) {
  Bytes frame(kMaxRequestLength);
  frame.resize(encode(frame));
  return frame;
}

inline uint16_t Opcode(const Bytes& frame) {
  return FrameReader(frame).Le16(8);
}

// Runs one answer through the tool's receiver and returns what it stored.
inline DeviceTable ToolTableAfter(uint16_t port, const Bytes& answer) {
  DeviceSession devices;
  ProcessDatagram(devices, port, answer);
  std::lock_guard lock(devices.deviceMutex);
  return devices.deviceTable;
}

// The record the tool keeps for a device after its search answer.
inline DeviceRecord RecordOf(CSimDevice& device) {
  const bool app = device.State() == SimState::kApp;
  const uint16_t port = app ? kAppPort : device.Config().bootPort;
  SimHandling handling = device.Handle(port, Encoded(app ? EncodeAppSearch : EncodeBootSearch));
  EXPECT_EQ(handling.replies.size(), 1u);
  if (handling.replies.empty()) return {};
  EXPECT_EQ(handling.replies[0].port, port);
  return ToolTableAfter(port, handling.replies[0].bytes)[0];
}
inline DeviceRecord RecordOf(const DeviceConfig& config) {
  CSimDevice device(config);
  return RecordOf(device);
}

inline Bytes WriteFrame(const DeviceRecord& record, uint32_t offset, std::span<const uint8_t> block,
                        uint32_t sectionLength = 1000, uint16_t param = 0x0105) {
  return Encoded(
      [&](auto out) { return EncodeWriteBlock(out, record, offset, block, sectionLength, param); });
}

inline SimHandling Write(CSimDevice& device, const DeviceRecord& record, uint32_t offset,
                         std::span<const uint8_t> block) {
  return device.Handle(static_cast<uint16_t>(record.port), WriteFrame(record, offset, block));
}

inline SimHandling Verify(CSimDevice& device, const DeviceRecord& record) {
  return device.Handle(static_cast<uint16_t>(record.port),
                       Encoded([&](auto out) { return EncodeVerify(out, record); }));
}

}  // namespace devsim_test

}  // namespace quorvik
