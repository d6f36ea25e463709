// Factory reset, run application and the restart through the bootloader:
// what they send (the real encoders, recorded instead of broadcast) and
// what they report.

#include <gtest/gtest.h>

#include "app/quorvik_dlg.h"
#include "devices/device_types.h"
#include "net/reply_processing.h"
#include "tests/support/datagram_builder.h"
#include "tests/support/fake_main_view.h"
#include "tests/support/scratch_directory.h"
#include "tests/support/transport_recorder.h"

using namespace quorvik;

using std::chrono::milliseconds;

namespace {

const std::vector<uint8_t> kMac = {0x00, 0x0A, 0x95, 0x00, 0x00, 0x09};

// The real requests, with a played network for the interface list.
class CWireNetwork : public CSystemNetwork {
 public:
  explicit CWireNetwork(ITransport& transport) : CSystemNetwork(&transport) {}
  InterfaceList EnumerateInterfaces() override {
    InterfaceList list;
    list.addresses[list.count++] = {127, 0, 0, 1};
    return list;
  }
  bool OpenNetwork(const std::string&) override { return true; }
  bool RequestBootSearch() override {
    if (onSearch) onSearch(true);
    return CSystemNetwork::RequestBootSearch();
  }
  bool RequestAppSearch() override {
    if (onSearch) onSearch(false);
    return CSystemNetwork::RequestAppSearch();
  }
  std::function<void(bool boot)> onSearch;
};

class Maintenance : public ::testing::Test {
 protected:
  void Start() {
    dlg.SetResultSink(&results);
    dlg.OnInitDialog();
    transport.sent.clear();
    view.events.clear();
    clock.elapsed = milliseconds(0);
  }
  std::vector<const Sent*> SentWithOpcode(uint16_t opcode) const {
    std::vector<const Sent*> out;
    for (const Sent& s : transport.sent)
      if ((s.bytes[8] | s.bytes[9] << 8) == opcode) out.push_back(&s);
    return out;
  }

  CCleanState clean;
  CRecordingTransport transport;
  CFakeMainView view;
  CWireNetwork network{transport};
  CVirtualClock clock;
  CQuorvikDlg dlg{view, network, clock};
  CRecordedResults results;
};

TEST_F(Maintenance, FactoryResetAsksFirstAndDoublesTheFrameForEqualBytes14And15) {
  auto id = IdentityBytes(0x40, 16);
  id[14] = id[15] = 0xFF;
  network.onSearch = [&](bool boot) {
    if (boot)
      ProcessDatagram(network.Devices(), kBootPortB,
                      Gen2Answer(0x0201, 0x0100, 0x0461, 512, kMac, id).Span());
  };
  Start();
  const std::string name = view.rows.at(0).device;

  view.yesNoAnswer = false;
  dlg.OnFactoryReset();
  EXPECT_EQ(view.EventsStartingWith("question"),
            (std::vector<std::string>{"question Do you want to set >" + name +
                                      "< to Factory Defaults ?"}));
  EXPECT_TRUE(transport.sent.empty());
  EXPECT_TRUE(view.EventsStartingWith("log").empty());

  view.yesNoAnswer = true;
  dlg.OnFactoryReset();
  const auto frames = SentWithOpcode(kOpFactoryReset);
  ASSERT_EQ(frames.size(), 2u);
  for (const Sent* f : frames) {
    EXPECT_EQ(f->bytes.size(), 30u);
    EXPECT_EQ(f->slot, SocketSlot::kApp);
    EXPECT_EQ(f->port, kBootPortB);
    EXPECT_EQ((std::vector<uint8_t>(f->bytes.begin() + 26, f->bytes.end())),
              (std::vector<uint8_t>{0xC4, 0x71, 0x2B, 0x5E}));
  }
  EXPECT_EQ(frames[0]->bytes[10 + 14], 0xFF);
  EXPECT_EQ(frames[1]->bytes[10 + 14], 0x00);  // one more, wrapping
  EXPECT_EQ(frames[1]->bytes[10 + 15], 0xFF);
  EXPECT_EQ(view.statusLines.back(), "Set >" + name + "< to Factory Defaults.");
  std::lock_guard lock(network.Devices().deviceMutex);
  EXPECT_EQ(network.Devices().deviceTable[0].identity[14], 0xFF);  // the record is left alone
}

TEST_F(Maintenance, FactoryResetOfARunningDeviceUsesItsAddress) {
  network.onSearch = [&](bool boot) {
    if (!boot)
      ProcessDatagram(network.Devices(), kAppPort,
                      AppAnswer(0x0100, kMac, "Dimmer 3", IdentityBytes(1, 11)).Span());
  };
  Start();
  view.yesNoAnswer = true;
  dlg.OnFactoryReset();
  const auto frames = SentWithOpcode(kOpFactoryReset);
  // Identity bytes 14 and 15 are both 0 for an 11-byte serial: the
  // application form is repeated as it is.
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames[0]->bytes, frames[1]->bytes);
  EXPECT_EQ(frames[0]->bytes.size(), 16u);
  EXPECT_EQ(frames[0]->port, kAppPort);
  EXPECT_EQ(view.statusLines.back(), "Set >Dimmer 3< to Factory Defaults.");
}

TEST_F(Maintenance, RunApplicationStartsTheBootloadersApplicationAndSetsUseLastFile) {
  network.onSearch = [&](bool boot) {
    if (boot)
      ProcessDatagram(network.Devices(), kBootPortA,
                      Gen1Answer(1, 0x0100, 0x3610, 512, kMac, IdentityBytes(7, 11)).Span());
  };
  Start();
  dlg.OnRunApplication();
  const auto frames = SentWithOpcode(kOpRunApplication);
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0]->bytes[10], 7);
  EXPECT_EQ(view.statusLines.back(), "RUN application.");
  EXPECT_EQ(clock.elapsed, milliseconds(100));
  EXPECT_TRUE(view.checks[CheckBox::kUseLastFile]);
  EXPECT_TRUE(dlg.useLastFile());
}

TEST_F(Maintenance, ActivateBootloaderFindsTheDeviceAgainAndStartsItsApplication) {
  bool restarted = false;
  network.onSearch = [&](bool boot) {
    if (boot && restarted) {
      // Two bootloader records with the address: the later one is used.
      ProcessDatagram(network.Devices(), kBootPortA,
                      Gen1Answer(1, 0x0100, 0x3610, 512, kMac, IdentityBytes(1, 11)).Span());
      ProcessDatagram(network.Devices(), kBootPortA,
                      Gen1Answer(1, 0x0100, 0x3610, 512, kMac, IdentityBytes(2, 11)).Span());
    }
    if (!boot && !restarted)
      ProcessDatagram(network.Devices(), kAppPort,
                      AppAnswer(0x0100, kMac, "Node", IdentityBytes(1, 11)).Span());
  };
  Start();
  view.checks[CheckBox::kAndMakeUpdate] = true;
  transport.onSend = [&](const Sent& s) {
    if ((s.bytes[8] | s.bytes[9] << 8) == kOpEnterBootloader) restarted = true;
  };
  dlg.OnActivateBootloader();

  ASSERT_EQ(SentWithOpcode(kOpEnterBootloader).size(), 1u);
  EXPECT_EQ(SentWithOpcode(kOpEnterBootloader)[0]->bytes[15], 0x09);
  const auto run = SentWithOpcode(kOpRunApplication);
  ASSERT_EQ(run.size(), 1u);
  EXPECT_EQ(run[0]->bytes[10], 2);
  EXPECT_EQ(view.statusLines,
            (std::vector<std::string>{"Start reboot ...", "2 Interfaces found", "Reboot done."}));
  EXPECT_EQ(clock.elapsed, milliseconds(6000 + 2000));
  EXPECT_EQ(view.progressSteps, 200);
  EXPECT_EQ(view.progressPos, 0);
  EXPECT_TRUE(view.checks[CheckBox::kAndMakeUpdate]);  // no update was started
  EXPECT_TRUE(SentWithOpcode(kOpWriteBlock).empty());

  restarted = false;
  transport.onSend = nullptr;
  dlg.FindDevices();
  dlg.OnActivateBootloader();
  EXPECT_EQ(view.statusLines.back(), "Reboot failed!");
  EXPECT_EQ(view.EventsStartingWith("tone").size(), 1u);

  // Both handed out as values: the loader's record was the one started.
  ASSERT_EQ(results.results.size(), 2u);
  EXPECT_EQ(results.results[0].outcome, Outcome::kOk);
  EXPECT_EQ(results.results[0].reason, "Reboot done.");
  EXPECT_EQ(results.results[0].addressed.identity[0], 2);
  EXPECT_TRUE(results.results[0].runRequestSent);
  EXPECT_EQ(results.results[1].outcome, Outcome::kFailed);
  EXPECT_EQ(results.results[1].reason, "Reboot failed!");
  EXPECT_TRUE(results.results[1].frameSent);
  EXPECT_FALSE(results.results[1].runRequestSent);
}

// A declined reset sends nothing and is a refusal; a confirmed one, a run
// and a command without a device are results too.
TEST_F(Maintenance, EveryMaintenanceCommandHandsOutItsResult) {
  network.onSearch = [this](bool boot) {
    if (boot)
      ProcessDatagram(network.Devices(), kBootPortA,
                      Gen1Answer(1, 0x0100, 0x3610, 512, kMac, IdentityBytes(1, 11)).Span());
  };
  Start();
  view.yesNoAnswer = false;
  dlg.OnFactoryReset();
  view.yesNoAnswer = true;
  dlg.OnFactoryReset();
  dlg.OnRunApplication();
  view.selectedRow = -1;
  dlg.OnRunApplication();
  ASSERT_EQ(results.results.size(), 4u);
  const auto& r = results.results;
  EXPECT_EQ(r[0].outcome, Outcome::kRefused);
  EXPECT_EQ(r[0].reason, "Factory reset declined");
  EXPECT_FALSE(r[0].frameSent);
  EXPECT_EQ(r[1].outcome, Outcome::kOk);
  EXPECT_EQ(r[1].statusLine, "Set >" + DeviceTypeName(0x3610, 0) + "< to Factory Defaults.");
  EXPECT_TRUE(r[1].frameSent);
  EXPECT_EQ(r[2].command, CommandKind::kRun);
  EXPECT_EQ(r[2].outcome, Outcome::kOk);
  EXPECT_EQ(r[2].confirmed, Confirmation::kNone);  // nothing looked after it
  EXPECT_EQ(r[3].outcome, Outcome::kNoDevice);
  EXPECT_EQ(ExitCodeOf(r[0].outcome), 2);
}

}  // namespace
