// What each received datagram does to the device table, the hidden count
// and the reply state.

#include <gtest/gtest.h>

#include <vector>

#include "net/reply_processing.h"
#include "net/reply_state.h"
#include "tests/support/datagram_builder.h"
#include "tests/support/scratch_directory.h"

using namespace quorvik;

namespace {

const std::vector<uint8_t> kMac = {0x00, 0x0A, 0x95, 0x9D, 0x68, 0x16};
const std::vector<uint8_t> kMac2 = {0x02, 0x00, 0x00, 0x00, 0x00, 0x02};

class ReplyProcessing : public ::testing::Test {
 protected:
  void Receive(uint16_t port, const CDatagram& d) { ProcessDatagram(devices, port, d.Span()); }
  int Used() const { return CountUsedRecords(devices.deviceTable); }
  const DeviceRecord& At(int i) const { return devices.deviceTable[i]; }
  std::vector<uint8_t> IdentityOf(int i) const {
    return std::vector<uint8_t>(At(i).identity.begin(),
                                At(i).identity.begin() + At(i).identityLength);
  }
  // Fills the table with distinct generation-1 devices.
  void FillWithGen1(int count) {
    for (int i = 0; i < count; ++i)
      Receive(kBootPortA,
              Gen1Answer(1, 0x0100, 0x2000, 256, kMac, IdentityBytes(static_cast<uint8_t>(i), 11)));
  }

  DeviceSession devices;
};

TEST_F(ReplyProcessing, Generation1AnswerIsStoredAndARepeatUpdatesItInPlace) {
  const auto id = IdentityBytes(0x40, 11);
  Receive(kBootPortA, Gen1Answer(0x0105, 0x0203, 0x3610, 512, kMac, id));
  ASSERT_EQ(Used(), 1);
  const DeviceRecord& r = At(0);
  EXPECT_EQ(r.loaderType, 0x0105);
  EXPECT_EQ(r.version, 0x0203);
  EXPECT_EQ(r.deviceId, 0x3610);
  EXPECT_EQ(r.loaderFlags, 1);  // this model can be reset from its bootloader
  EXPECT_EQ(r.blockSize, 512);
  EXPECT_EQ(std::vector<uint8_t>(r.mac.begin(), r.mac.end()), kMac);
  EXPECT_EQ(IdentityOf(0), id);
  EXPECT_EQ(r.identity[11], 0);
  EXPECT_EQ(r.port, kBootPortA);
  EXPECT_EQ(r.slaveNumber, 0);

  Receive(kBootPortB, Gen1Answer(0x0105, 0x0204, 0x2000, 512, kMac, id));
  ASSERT_EQ(Used(), 1);
  EXPECT_EQ(r.version, 0x0204);
  EXPECT_EQ(r.port, kBootPortB);
  EXPECT_EQ(r.loaderFlags, 0);
}

TEST_F(ReplyProcessing, Generation2DeviceOfType512IsFoundAgain) {
  const auto id = IdentityBytes(0x10, 16);
  Receive(kBootPortB, Gen2Answer(512, 0x0100, 0x4001, 512, kMac, id));
  Receive(kBootPortB, Gen2Answer(512, 0x0101, 0x4001, 512, kMac, id));
  ASSERT_EQ(Used(), 1);
  EXPECT_EQ(At(0).loaderType, 512);
  EXPECT_EQ(At(0).version, 0x0101);
  EXPECT_EQ(At(0).identityLength, 16);
  EXPECT_EQ(IdentityOf(0), id);
  EXPECT_EQ(At(0).loaderFlags, 0);

  // Same serial in its last bytes only: another device.
  auto other = id;
  other[15] ^= 1;
  Receive(kBootPortB, Gen2Answer(767, 0x0100, 0x4001, 512, kMac, other));
  EXPECT_EQ(Used(), 2);
}

TEST_F(ReplyProcessing, Generation3AnswerSplitsTypeWordAndAddsItsUnits) {
  const auto id = IdentityBytes(0x80, 9);
  Receive(kBootPortA, Gen3Answer(0x0381, 0x0302, 0x9308, 0x0042, 256, kMac, 3, id));
  ASSERT_EQ(Used(), 3);
  const DeviceRecord& r = At(0);
  EXPECT_EQ(r.loaderType, 0x0300);
  EXPECT_EQ(r.loaderFlags, 0x81);
  EXPECT_EQ(r.version, 0x0302);
  EXPECT_EQ(r.deviceId, 0x9308);
  EXPECT_EQ(r.mcuId, 0x0042);
  EXPECT_EQ(r.blockSize, 256);
  EXPECT_EQ(std::vector<uint8_t>(r.mac.begin(), r.mac.end()), kMac);
  EXPECT_EQ(IdentityOf(0), id);
  for (int k = 1; k <= 2; ++k) {
    EXPECT_EQ(At(k).slaveNumber, k);
    EXPECT_EQ(At(k).deviceId, 0x9308);
    EXPECT_EQ(At(k).loaderType, 0x0300);
    EXPECT_EQ(At(k).identityLength, 0);
    EXPECT_EQ(At(k).port, 0);
  }
}

TEST_F(ReplyProcessing, RepeatedGeneration3AnswersUpdateDeviceAndUnitsWithoutDuplicates) {
  const auto id = IdentityBytes(0x80, 9);
  const auto otherId = IdentityBytes(0x90, 9);
  Receive(kBootPortA, Gen3Answer(0x0381, 0x0100, 0x9308, 1, 256, kMac, 2, id));
  Receive(kBootPortA, Gen3Answer(0x0300, 0x0100, 0x7000, 1, 256, kMac2, 1, otherId));
  ASSERT_EQ(Used(), 3);

  // The first device answers again, now with a new version and a third unit.
  Receive(kBootPortA, Gen3Answer(0x0381, 0x0200, 0x9308, 1, 256, kMac, 3, id));
  ASSERT_EQ(Used(), 4);
  EXPECT_EQ(At(0).version, 0x0200);
  EXPECT_EQ(At(1).slaveNumber, 1);
  EXPECT_EQ(At(1).version, 0x0200);
  EXPECT_EQ(IdentityOf(2), otherId);
  EXPECT_EQ(At(3).slaveNumber, 2);
  EXPECT_EQ(At(3).version, 0x0200);

  for (int i = 0; i < 5; ++i)
    Receive(kBootPortA, Gen3Answer(0x0381, 0x0200, 0x9308, 1, 256, kMac, 3, id));
  EXPECT_EQ(Used(), 4);

  // A different identity length is a different device.
  Receive(kBootPortA, Gen3Answer(0x0381, 0x0200, 0x9308, 1, 256, kMac, 1,
                                 std::vector<uint8_t>(id.begin(), id.end() - 1)));
  EXPECT_EQ(Used(), 5);
}

TEST_F(ReplyProcessing, UnitsStopWhenTheTableIsFull) {
  FillWithGen1(97);
  Receive(kBootPortA, Gen3Answer(0x0300, 0x0100, 0x9308, 1, 256, kMac, 3, IdentityBytes(0xC0, 4)));
  ASSERT_EQ(Used(), 99);
  EXPECT_EQ(At(97).slaveNumber, 0);
  EXPECT_EQ(At(98).slaveNumber, 1);
}

TEST_F(ReplyProcessing, FullTableIgnoresSearchAnswersButNotAcknowledgements) {
  FillWithGen1(99);
  ASSERT_EQ(Used(), 99);
  // A listed device with a new version: nothing changes, even for it.
  Receive(kBootPortA, Gen1Answer(1, 0x0900, 0x2000, 256, kMac, IdentityBytes(0, 11)));
  EXPECT_EQ(At(0).version, 0x0100);
  EXPECT_EQ(devices.droppedCount, 0);  // it is listed: nothing was lost
  // Devices the list has no room for are counted, hidden ones are not.
  Receive(kAppPort, AppAnswer(0x0100, kMac, "Late", IdentityBytes(0xE0, 11)));
  Receive(kBootPortB, Gen2Answer(600, 0x0100, 0x2000, 256, kMac, IdentityBytes(0xD0, 16)));
  devices.blackList = MakeSearchKey(IdentityBytes(0xC0, 11)) + " (Hidden)";
  Receive(kAppPort, AppAnswer(0x0100, kMac, "Hidden", IdentityBytes(0xC0, 11)));
  EXPECT_EQ(devices.droppedCount, 2);

  devices.replyChannels.Shared().Arm();
  Receive(kBootPortA, CDatagram(kBootMagic, kOpWriteBlockReply, 10));
  EXPECT_FALSE(devices.replyChannels.Shared().replyPending());
}

TEST_F(ReplyProcessing, BlackListedDevicesAreCountedNotListed) {
  const auto id = IdentityBytes(0xA0, 11);
  devices.blackList = MakeSearchKey(id) + " (Fixture 1);other";
  Receive(kBootPortA, Gen1Answer(1, 0x0100, 0x2000, 256, kMac, id));
  Receive(kBootPortB, Gen1Answer(1, 0x0100, 0x2000, 256, kMac, id));
  EXPECT_EQ(Used(), 0);
  EXPECT_EQ(devices.hiddenCount, 2);

  // Every identity byte a generation 3 loader announces is in its key, also
  // those past the 16 a record keeps.
  const auto longId = IdentityBytes(0x01, 20);
  devices.blackList = MakeSearchKey(longId).substr(0, 32) + "ffffffff";
  Receive(kBootPortA, Gen3Answer(0x0300, 0x0100, 0x9308, 1, 256, kMac, 1, longId));
  ASSERT_EQ(Used(), 1);
  EXPECT_EQ(At(0).identityLength, 16);
  devices.blackList = MakeSearchKey(longId);
  ClearDeviceTable(devices.deviceTable);
  Receive(kBootPortA, Gen3Answer(0x0300, 0x0100, 0x9308, 1, 256, kMac, 1, longId));
  EXPECT_EQ(Used(), 0);

  // A device without a serial is listed unless an entry without one hides it.
  devices.blackList.clear();
  Receive(kBootPortA, Gen3Answer(0x0300, 0x0100, 0x9308, 1, 256, kMac, 1, {}));
  EXPECT_EQ(Used(), 1);
}

struct HideCase {
  const char* blackList;
  const char* key;
  bool hidden;
};

// The black-list's entries hide by the serial they begin with, as written
// by "Add to Black-List" and as edited by hand.
TEST(BlackListText, HidesByTheSerialEachEntryBeginsWith) {
  const std::string loader16 = "a0a1a2a3a4a5a6a7a8a9aaabacadaeaf";
  const HideCase cases[] = {
      {"a0a1a2a3a4a5a6a7a8a9aa (Fixture 1)", "a0a1a2a3a4a5a6a7a8a9aa", true},
      {"A0A1A2A3A4A5A6A7A8A9AA (upper case)", "a0a1a2a3a4a5a6a7a8a9aa", false},
      // A running device reports 11 bytes of a serial its loader gives in 16.
      {"a0a1a2a3a4a5a6a7a8a9aaabacadaeaf (Loader)", "a0a1a2a3a4a5a6a7a8a9aa", true},
      // A serial of 10 bytes, reported in 11 by the running device.
      {"0102030405060708090a (Short)", "0102030405060708090a00", true},
      {"0102030405060708090a (Short)", "0102030405060708090a01", false},
      // Only the start of an entry's serial counts: not its middle, not a name.
      {"2122232425262728 (Rack)", "2324", false},
      {"0102 (a0a1a2)", "a0a1a2", false},
      {"  0a0b (typed by hand)", "0a0b", true},
      // A name holding ";" leaves a piece that is no serial.
      {"0a0b (left;b)", "b0", false},
      {"0a0b (left;b)", "0a0b", true},
      // No serial: only an entry without one hides such a device.
      {"", "", false},
      {"0a0b (x);;", "", false},
      {" (Dock)", "", true},
      {"0a0b (x);other", "", false},
  };
  for (const HideCase& c : cases)
    EXPECT_EQ(CBlackListText(c.blackList).Hides(c.key), c.hidden)
        << "black-list \"" << c.blackList << "\" key \"" << c.key << "\"";

  CBlackListText appended("0a0b (x)");
  appended.Append("c1c2c3 (y;z)");
  EXPECT_TRUE(appended.Hides("c1c2c3"));
  EXPECT_TRUE(appended.Hides("0a0b"));
  EXPECT_EQ(appended.text(), "0a0b (x);c1c2c3 (y;z)");
  EXPECT_FALSE(CBlackListText(loader16).Hides(loader16 + "01"));
}

TEST_F(ReplyProcessing, ApplicationAnswerIsStoredWithItsNameAsPlainBytes) {
  const auto id = IdentityBytes(0x30, 11);
  const std::string name = "Truss %s %n;\x01\xE9";
  Receive(kAppPort, AppAnswer(0x0142, kMac, name, id));
  ASSERT_EQ(Used(), 1);
  const DeviceRecord& r = At(0);
  EXPECT_EQ(r.loaderType, 0);
  EXPECT_EQ(r.version, 0x0142);
  EXPECT_EQ(r.port, kAppPort);
  EXPECT_EQ(r.Name(), name);
  EXPECT_EQ(IdentityOf(0), id);

  // A name that fills all 64 bytes without a terminator is cut there.
  Receive(kAppPort,
          AppAnswer(0x0142, kMac, std::string(64, 'N') + "tail", IdentityBytes(0x50, 11)));
  EXPECT_EQ(At(1).Name(), std::string(64, 'N'));
}

TEST_F(ReplyProcessing, ApplicationAnswerTurnsTheSameDevicesBootRecordIntoAnApplicationRecord) {
  const auto id = IdentityBytes(0x30, 11);
  Receive(kBootPortA, Gen3Answer(0x0381, 0x0100, 0x9308, 0x11, 256, kMac, 1, id));
  Receive(kAppPort, AppAnswer(0x0205, kMac2, "Dimmer", id));
  ASSERT_EQ(Used(), 1);
  EXPECT_EQ(At(0).loaderType, 0);
  EXPECT_EQ(At(0).port, kAppPort);
  EXPECT_EQ(At(0).deviceId, 0);
  EXPECT_EQ(At(0).blockSize, 0);
  EXPECT_EQ(At(0).mcuId, 0x11);        // kept
  EXPECT_EQ(At(0).loaderFlags, 0x81);  // kept
}

TEST_F(ReplyProcessing, VersionZeroApplicationAnswerNeverSplitsTheTable) {
  Receive(kAppPort, AppAnswer(0, kMac, "Ghost", IdentityBytes(0x01, 11)));
  EXPECT_EQ(Used(), 0);  // its record counts as free
  Receive(kAppPort, AppAnswer(0x0100, kMac, "Real", IdentityBytes(0x20, 11)));
  ASSERT_EQ(Used(), 1);
  EXPECT_EQ(At(0).Name(), "Real");

  // The listed devices stay listed when one of them reports version 0.
  Receive(kAppPort, AppAnswer(0x0100, kMac, "Second", IdentityBytes(0x40, 11)));
  Receive(kAppPort, AppAnswer(0, kMac, "Real", IdentityBytes(0x20, 11)));
  Receive(kAppPort, AppAnswer(0x0100, kMac, "Third", IdentityBytes(0x60, 11)));
  ASSERT_EQ(Used(), 3);
  EXPECT_EQ(At(0).Name(), "Real");
  EXPECT_EQ(At(1).Name(), "Second");
  EXPECT_EQ(At(2).Name(), "Third");
}

TEST_F(ReplyProcessing, FramesOnTheWrongPortOrWithABadMagicAreIgnored) {
  const auto id = IdentityBytes(0x30, 11);
  Receive(kBootPortA, AppAnswer(0x0100, kMac, "App", id));
  Receive(kAppPort, Gen1Answer(1, 0x0100, 0x2000, 256, kMac, id));
  Receive(12345, Gen1Answer(1, 0x0100, 0x2000, 256, kMac, id));
  Receive(kBootPortA, Gen1Answer(1, 0x0100, 0x2000, 256, kMac, id).U8(7, '!'));
  Receive(kBootPortA, Gen1Answer(1, 0x0100, 0x2000, 256, kMac, id).Be16(8, 0x9050));
  Receive(kBootPortA, Gen1Answer(0, 0x0100, 0x2000, 256, kMac, id));  // no bootloader is type 0
  Receive(kBootPortA, CDatagram(kBootMagic, kOpSearch, 10));          // our own broadcast
  EXPECT_EQ(Used(), 0);

  devices.replyChannels.Shared().Arm();
  Receive(kAppPort, CDatagram(kAppMagic, kOpWriteBlockReply, 10));
  Receive(kAppPort, CDatagram(kBootMagic, kOpWriteBlockReply, 10));
  EXPECT_TRUE(devices.replyChannels.Shared().replyPending());
  Receive(kBootPortB, CDatagram(kBootMagic, kOpWriteBlockReply, 10));
  EXPECT_FALSE(devices.replyChannels.Shared().replyPending());
}

TEST_F(ReplyProcessing, FieldsBeyondTheReceivedLengthReadAsZero) {
  // A full answer, then a short one whose bytes past its length still hold
  // the first answer's identity in the caller's buffer.
  std::vector<uint8_t> buffer =
      Gen1Answer(1, 0x0100, 0x2000, 256, kMac, IdentityBytes(0x11, 11)).Vector();
  ProcessDatagram(devices, kBootPortA, buffer);
  std::fill(buffer.begin() + 24, buffer.begin() + 28, 0x77);
  ProcessDatagram(devices, kBootPortA, std::span<const uint8_t>(buffer).first(28));
  ASSERT_EQ(Used(), 2);
  EXPECT_EQ(IdentityOf(1), (std::vector<uint8_t>{0x77, 0x77, 0x77, 0x77, 0, 0, 0, 0, 0, 0, 0}));

  // The header alone is a complete, if empty, answer of type 0: ignored.
  ProcessDatagram(devices, kBootPortA, std::span<const uint8_t>(buffer).first(10));
  ProcessDatagram(devices, kBootPortA, std::span<const uint8_t>(buffer).first(3));
  ProcessDatagram(devices, kBootPortA, std::span<const uint8_t>());
  EXPECT_EQ(Used(), 2);
}

TEST_F(ReplyProcessing, VerifyAnswerPublishesValueAndStatusBeforeClearingTheWait) {
  devices.replyChannels.Shared().Arm();
  Receive(kBootPortA,
          CDatagram(kBootMagic, kOpVerifyReply, 14).Bytes(10, {0x37, 0x4B, 0x00, 0x02}));
  EXPECT_FALSE(devices.replyChannels.Shared().replyPending());
  EXPECT_EQ(devices.replyChannels.Shared().replyValue(), 0x374B);
  EXPECT_EQ(devices.replyChannels.Shared().replyStatus(), 0x0002);

  Receive(kBootPortA, CDatagram(kBootMagic, kOpWriteBlockReply, 10));
  EXPECT_EQ(devices.replyChannels.Shared().replyStatus(), 0);
  EXPECT_EQ(devices.replyChannels.Shared().replyValue(),
            0x374B);  // only a verify answer changes it
}

// One serial, answered by two devices (a cloned or factory-default serial):
// the table keeps one record per serial but must not let them pass for one.
TEST_F(ReplyProcessing, DevicesAnsweringWithOneSerialAreMarkedAsTwinsUntilTheTableEmpties) {
  const std::vector<uint8_t> placeholder = {0x00, 0x60, 0x35, 0x00, 0x00, 0x00};
  const auto id11 = IdentityBytes(0x11, 11), id16 = IdentityBytes(0x11, 16);
  std::vector<uint8_t> id11Padded = id11;
  id11Padded.resize(16, 0);
  struct Case {
    const char* name;
    std::vector<CDatagram> answers;
    int records;
    int twins;                        // of every record
    std::vector<Ipv4Address> from{};  // each answer's sender; none: all alike
  };
  const std::vector<Case> cases = {
      {"one device answering twice, on both ports",
       {Gen2Answer(512, 0x0100, 0x3680, 256, kMac, id16),
        Gen2Answer(512, 0x0101, 0x3680, 256, kMac, id16)},
       1,
       0},
      {"a running device and its loader (placeholder address)",
       {AppAnswer(0x0105, kMac, "Node", id11),
        Gen1Answer(1, 0x0100, 0x3680, 256, placeholder, id11)},
       2,
       0},
      {"two hardware addresses",
       {Gen2Answer(512, 0x0100, 0x3680, 256, kMac, id16),
        Gen2Answer(512, 0x0100, 0x3680, 256, kMac2, id16)},
       1,
       2},
      {"two models behind the placeholder address",
       {Gen2Answer(512, 0x0100, 0x3680, 256, placeholder, id16),
        Gen2Answer(512, 0x0100, 0x1234, 256, placeholder, id16)},
       1,
       2},
      {"two MCUs",
       {Gen3Answer(0x0381, 0x0100, 0x3680, 0x21, 512, kMac, 1, id16),
        Gen3Answer(0x0381, 0x0100, 0x3680, 0x22, 512, kMac, 1, id16)},
       1,
       2},
      {"two running devices",
       {AppAnswer(0x0105, kMac, "A", id11), AppAnswer(0x0105, kMac2, "B", id11)},
       1,
       2},
      {"three devices, answering in turn",
       {AppAnswer(0x0105, kMac, "A", id11), AppAnswer(0x0105, kMac2, "B", id11),
        AppAnswer(0x0105, kMac, "A", id11),
        AppAnswer(0x0105, std::vector<uint8_t>{2, 0, 0, 0, 0, 3}, "C", id11)},
       1,
       3},
      {"loaders of two generations (one record each)",
       {Gen1Answer(1, 0x0100, 0x3680, 128, placeholder, id11),
        Gen2Answer(512, 0x0100, 0x3680, 256, placeholder, id11Padded)},
       2,
       2},
      {"exact clones (one address copied) answering from two addresses",
       {Gen2Answer(512, 0x0100, 0x3680, 256, kMac, id16),
        Gen2Answer(512, 0x0100, 0x3680, 256, kMac, id16)},
       1,
       2,
       {{10, 0, 0, 5}, {10, 0, 0, 6}}},
      {"running exact clones",
       {AppAnswer(0x0105, kMac, "A", id11), AppAnswer(0x0105, kMac, "A", id11)},
       1,
       2,
       {{10, 0, 0, 5}, {10, 0, 0, 6}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    devices.EmptyTable();
    for (size_t i = 0; i < c.answers.size(); ++i) {
      const CDatagram& answer = c.answers[i];
      ProcessDatagram(devices, answer.Vector()[0] == 'B' ? kAppPort : kBootPortA, answer.Span(),
                      c.from.empty() ? Ipv4Address{} : c.from[i]);
    }
    ASSERT_EQ(Used(), c.records);
    for (int i = 0; i < Used(); ++i) EXPECT_EQ(At(i).twins, c.twins) << i;
  }
  ClearDeviceTable(devices.deviceTable);
  EXPECT_EQ(At(0).twins, 0);
}

}  // namespace
