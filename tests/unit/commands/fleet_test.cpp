// The fleet's plan: which listed devices it updates with which section, and
// which it skips and why; never a guess at which device is which.

#include "commands/fleet.h"

#include <gtest/gtest.h>

#include "commands/firmware_file.h"
#include "tests/support/firmware_file_builder.h"

using namespace quorvik;

namespace {

constexpr std::array<uint8_t, 6> kPlaceholder = {0x00, 0x60, 0x35, 0, 0, 0};

DeviceRecord Loader(uint16_t type, uint8_t serial, std::array<uint8_t, 6> mac,
                    uint16_t model = 0x3680, uint16_t blockSize = 256) {
  DeviceRecord r;
  r.loaderType = type;
  r.loaderFlags = type >= 0x300 ? 0x80 : 0;
  r.version = 0x0100;
  r.deviceId = model;
  r.mcuId = 33;
  r.blockSize = blockSize;
  r.mac = mac;
  r.identityLength = 11;
  r.identity.fill(serial);
  r.identity[11] = r.identity[12] = r.identity[13] = r.identity[14] = r.identity[15] = 0;
  return r;
}

DeviceRecord Running(uint8_t serial, std::array<uint8_t, 6> mac) {
  DeviceRecord r = Loader(0, serial, mac, 0, 0);
  r.loaderFlags = 0;
  r.mcuId = 0;
  return r;
}

std::string ReasonFor(const FleetPlan& plan, uint8_t serial) {
  for (const FleetDevice& d : plan.skipped)
    if (d.record.identity[0] == serial) return d.reason;
  return "planned";
}

TEST(FleetPlan, EveryListedDeviceIsPlannedOrSkippedWithItsReason) {
  const std::vector<uint8_t> file = FirmwareFileBytes(
      2, {{33, 0x0001, 0, 0, PatternBytes(10)}, {33, 0x3680, 0x01, 0x05, PatternBytes(1000)}});
  DeviceRecord unit = Loader(0x300, 0, {});
  unit.identityLength = 0;
  unit.identity.fill(0);
  unit.slaveNumber = 1;
  const std::vector<DeviceRecord> listed = {
      Loader(0x300, 0x11, {2, 0, 0, 0, 0, 1}),     // fits, verifies
      unit,                                        // a unit of the first: no device
      Loader(1, 0x12, kPlaceholder, 0x3680, 128),  // told apart by its serial
      Loader(0x200, 0x13, kPlaceholder),           // and this one by its own
      Loader(1, 0x14, kPlaceholder),               // these two share a serial
      Loader(1, 0x14, kPlaceholder),
      Loader(0x300, 0x15, {2, 0, 0, 0, 0, 9}),  // these two share a real address
      Running(0x16, {2, 0, 0, 0, 0, 9}),
      Loader(0x300, 0x17, {2, 0, 0, 0, 0, 7}, 0x1234),  // another model
      Loader(0x240, 0x18, {2, 0, 0, 0, 0, 8}),          // a loader not served
      Loader(1, 0x19, {2, 0, 0, 0, 0, 6}, 0x3680, 0),   // no block size
      Running(0x1A, {2, 0, 0, 0, 0, 5}),                // runs its application
  };
  const FleetPlan plan = PlanFleet(listed, file);
  ASSERT_EQ(plan.planned.size(), 4u);
  EXPECT_EQ(plan.planned[0].section, 1);
  EXPECT_EQ(plan.planned[0].bytes, 1000u);
  EXPECT_EQ(plan.planned[0].blocks, 4u);
  EXPECT_EQ(plan.planned[1].blocks, 8u);  // blocks of 128
  EXPECT_EQ(plan.planned[3].record.identity[0], 0x1A);
  EXPECT_FALSE(plan.planned[3].section);  // known only after its restart
  EXPECT_FALSE(plan.planned[3].blocks);
  EXPECT_GT(plan.planned[3].estimateMs, plan.planned[0].estimateMs + 8000);  // restart and search
  // Planned for the waits until ready, a device is estimated with them.
  const Waits ready{true, kDefaultSettle};
  const FleetPlan readyPlan = PlanFleet(listed, file, {}, ready);
  EXPECT_EQ(readyPlan.planned[0].estimateMs, UpdateFloorMs(false, 4, true, 5, ready));
  EXPECT_EQ(readyPlan.planned[3].estimateMs, UpdateFloorMs(true, 2, false, 5, ready));
  EXPECT_NE(ReasonFor(plan, 0x14).find("ambiguous"), std::string::npos);
  EXPECT_NE(ReasonFor(plan, 0x15).find("ambiguous"), std::string::npos);
  EXPECT_NE(ReasonFor(plan, 0x16).find("ambiguous"), std::string::npos);
  EXPECT_EQ(ReasonFor(plan, 0x17), "Wrong firmware file selected! (ERROR DEVICE)");
  EXPECT_EQ(ReasonFor(plan, 0x18), "Wrong bootloader version!");
  EXPECT_EQ(ReasonFor(plan, 0x19), "Block size not supported! (ERROR BLOCK)");
  EXPECT_EQ(plan.planned.size() + plan.skipped.size(), listed.size() - 1);  // the unit is none

  // The reason is the device's own model's section, wherever it stands in
  // the file.
  const std::vector<uint8_t> modelFirst = FirmwareFileBytes(
      2, {{33, 0x3680, 0x01, 0x05, PatternBytes(1000)}, {33, 0x0001, 0, 0, PatternBytes(10)}});
  DeviceRecord otherMcu = Loader(0x300, 0x1B, {2, 0, 0, 0, 0, 4});
  otherMcu.mcuId = 34;
  const FleetPlan byModelSection =
      PlanFleet(std::vector<DeviceRecord>{otherMcu, listed[8], listed[9]}, modelFirst);
  EXPECT_EQ(ReasonFor(byModelSection, 0x1B), "Wrong firmware file selected! (ERROR MCU)");
  EXPECT_EQ(ReasonFor(byModelSection, 0x17), "Wrong firmware file selected! (ERROR DEVICE)");
  EXPECT_EQ(ReasonFor(byModelSection, 0x18), "Wrong bootloader version!");

  // By model: a running device's model is unknown, so it is not chosen.
  const FleetPlan byModel = PlanFleet(listed, file, {{0x1234}});
  EXPECT_TRUE(byModel.planned.empty());
  EXPECT_NE(ReasonFor(byModel, 0x1A).find("unknown"), std::string::npos);
  EXPECT_EQ(ReasonFor(byModel, 0x11), "model 0x3680 not chosen");
}

TEST(FleetPlan, ADeviceIsFoundAgainByItsAddressOrBehindThePlaceholderByItsSerial) {
  const DeviceRecord app = Running(0x21, {2, 0, 0, 0, 0, 1});
  // The same device in its loader, reporting the placeholder and the 16
  // bytes of serial that a loader of generation 2 pads to.
  DeviceRecord loader = Loader(0x200, 0x21, kPlaceholder);
  loader.identityLength = 16;
  const std::vector<DeviceRecord> later = {Loader(1, 0x22, kPlaceholder), loader,
                                           Running(0x23, {2, 0, 0, 0, 0, 3})};
  EXPECT_EQ(FindAgain(later, app), std::vector<int>{1});
  EXPECT_EQ(FindAgain(later, later[0]), std::vector<int>{0});
  EXPECT_TRUE(FindAgain(later, Running(0x24, {2, 0, 0, 0, 0, 4})).empty());
  // The floor of an update: waits of the protocol and blocks x (reply + 10 ms).
  EXPECT_EQ(UpdateFloorMs(false, 4, true, 5), 4 * 15 + 5 + 100 + 3000 + 2000);
  EXPECT_EQ(UpdateFloorMs(true, 0, false, 5), 300 + 6000 + 2000 + 100 + 3000 + 2000);
  // Waiting until ready: the assumed boot and one poll after each request,
  // and the settle time after the loader's first answer.
  const Waits ready{true, std::chrono::milliseconds(400)};
  EXPECT_EQ(UpdateFloorMs(false, 4, true, 5, ready), 4 * 15 + 5 + 1000 + 250);
  EXPECT_EQ(UpdateFloorMs(true, 0, false, 5, ready), 300 + 1000 + 250 + 400 + 1000 + 250);
}

}  // namespace
