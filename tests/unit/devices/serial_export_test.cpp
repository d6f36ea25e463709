// Collecting serial numbers on the clipboard: the two line formats, the
// presence test, serial mode and its count lines.

#include <gtest/gtest.h>

#include "app/quorvik_dlg.h"
#include "devices/serial_export.h"
#include "net/reply_processing.h"
#include "tests/support/datagram_builder.h"
#include "tests/support/dlg_harness.h"
#include "tests/support/fake_main_view.h"
#include "tests/support/scratch_directory.h"

using namespace quorvik;

namespace {

DeviceRecord WithIdentity(const std::vector<uint8_t>& id) {
  DeviceRecord r;
  r.loaderType = 1;
  r.identityLength = static_cast<uint8_t>(id.size());
  std::copy(id.begin(), id.end(), r.identity.begin());
  return r;
}

TEST(SerialLine, ElevenAndSixteenByteFormatsWithLowerCasePrefixes) {
  EXPECT_EQ(BuildSerialLine(WithIdentity(IdentityBytes(1, 11))),
            "0x01,0x02,0x03,0x04,0x05,0x06,0x07,0x08,0x09,0x0A,0x0B\r\n");
  std::vector<uint8_t> id16;
  for (int i = 0; i < 16; ++i) id16.push_back(static_cast<uint8_t>(i * 0x11));
  const std::string line = BuildSerialLine(WithIdentity(id16));
  EXPECT_EQ(line, "0x00112233,0x44556677,0x8899AABB,0xCCDDEEFF\r\n");
  EXPECT_EQ(line.size(), 45u);
  EXPECT_EQ(BuildSerialLine(WithIdentity(std::vector<uint8_t>(11, 0xAB))).size(), 56u);
  EXPECT_EQ(BuildSerialLine(WithIdentity({})), "");
  EXPECT_EQ(BuildSerialLine(WithIdentity(IdentityBytes(1, 9))), "");
  EXPECT_EQ(CountSerialLines("a\r\nb\r\n"), 2);
}

class SerialExport : public ::testing::Test, protected CDlgHarness {
 protected:
  void SetUp() override {
    network.addresses = {{10, 0, 0, 1}};
    network.onSearch = [this](bool boot) {
      if (!boot) return;
      for (const auto& id : answering)
        ProcessDatagram(
            network.devices, kBootPortA,
            Gen3Answer(0x0381, 0x0100, 0x9308, 0, 512, std::vector<uint8_t>(6, 2), 1, id).Span());
    };
  }

  std::vector<std::vector<uint8_t>> answering;
};

TEST_F(SerialExport, DoubleClickCollectsOnceThenOnlyBeeps) {
  answering = {IdentityBytes(1, 11), IdentityBytes(0xA0, 16)};
  dlg.OnInitDialog();
  view.events.clear();
  view.selectedRow = 0;
  dlg.OnDeviceListDblClick();
  EXPECT_EQ(view.events, (std::vector<std::string>{
                             "tone 1000Hz 100ms",
                             "clipboard 0x01,0x02,0x03,0x04,0x05,0x06,0x07,0x08,0x09,0x0A,0x0B\r\n",
                             "log Copy serial to Clipboard - 1"}));
  EXPECT_TRUE(dlg.serialMode());

  view.events.clear();
  dlg.OnDeviceListDblClick();
  EXPECT_EQ(view.events, (std::vector<std::string>{"tone 1000Hz 100ms", "tone 100Hz 100ms"}));

  view.selectedRow = 1;
  dlg.OnDeviceListDblClick();
  EXPECT_EQ(view.clipboard,
            "0x01,0x02,0x03,0x04,0x05,0x06,0x07,0x08,0x09,0x0A,0x0B\r\n"
            "0xA0A1A2A3,0xA4A5A6A7,0xA8A9AAAB,0xACADAEAF\r\n");
  EXPECT_EQ(view.statusLines.back(), "Copy serial to Clipboard - 1");

  view.selectedRow = -1;
  dlg.OnDeviceListDblClick();
  EXPECT_EQ(view.statusLines.back(), "No interface selected !");
}

TEST_F(SerialExport, SerialModeCollectsTheFirstBootloaderOfEverySearch) {
  answering = {IdentityBytes(1, 11)};
  dlg.OnInitDialog();
  view.selectedRow = 0;
  dlg.OnDeviceListDblClick();
  network.calls.clear();

  answering = {IdentityBytes(0x50, 11)};
  dlg.FindDevices();
  EXPECT_EQ(network.calls, (std::vector<std::string>{"boot search"}));  // no application search
  EXPECT_EQ(view.statusLines.back(), "1 Interfaces found (Copy serial to Clipboard - 2)");
  dlg.FindDevices();
  EXPECT_EQ(view.statusLines.back(), "1 Interfaces found (Serial present in Clipboard)");

  // A first device without an 11- or 16-byte serial has nothing to collect:
  // neither its address nor anything else reaches the clipboard.
  const std::string before = dlg.serialText();
  answering = {IdentityBytes(0x70, 4)};
  dlg.FindDevices();
  EXPECT_EQ(view.statusLines.back(), "1 Interfaces found (Serial present in Clipboard)");
  EXPECT_EQ(dlg.serialText(), before);

  answering.clear();
  dlg.FindDevices();
  EXPECT_EQ(view.statusLines.back(), "0 Interfaces found");
}

TEST_F(SerialExport, ClicksSetTheButtonsAndRightClicksPickTheMenuByMode) {
  answering = {IdentityBytes(1, 11)};
  network.onSearch = [this](bool boot) {
    if (boot)
      ProcessDatagram(network.devices, kBootPortA,
                      Gen3Answer(0x0380, 0x0100, 0x9308, 0, 512, std::vector<uint8_t>(6, 2), 1,
                                 IdentityBytes(1, 11))
                          .Span());
    else
      ProcessDatagram(
          network.devices, kAppPort,
          AppAnswer(0x0100, std::vector<uint8_t>(6, 3), "App", IdentityBytes(0x60, 11)).Span());
  };
  dlg.OnInitDialog();
  ASSERT_EQ(view.rows.size(), 2u);
  view.events.clear();
  view.selectedRow = 0;  // a bootloader that cannot reset
  dlg.OnDeviceListClick();
  dlg.OnDeviceListRightClick();
  EXPECT_TRUE(view.buttons[Button::kFirmwareUpdate]);
  EXPECT_FALSE(view.buttons[Button::kFactoryReset]);
  view.selectedRow = 1;
  dlg.OnDeviceListClick();
  dlg.OnDeviceListRightClick();
  EXPECT_TRUE(view.buttons[Button::kFactoryReset]);
  view.selectedRow = -1;
  dlg.OnDeviceListClick();
  dlg.OnDeviceListRightClick();
  EXPECT_FALSE(view.buttons[Button::kFirmwareUpdate]);
  EXPECT_FALSE(view.buttons[Button::kFactoryReset]);
  EXPECT_EQ(view.EventsStartingWith("menu"),
            (std::vector<std::string>{"menu DEVICE", "menu HIDE"}));
  dlg.OnWebLink();
  EXPECT_EQ(view.events.back(), "web https://www.belmarr.example/");
}

}  // namespace
