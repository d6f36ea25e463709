// The main window's logic through start-up, Find and a network switch, on a
// recording window, a played network and virtual time.

#include "app/quorvik_dlg.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "devices/device_types.h"
#include "net/reply_processing.h"
#include "tests/support/datagram_builder.h"
#include "tests/support/dlg_harness.h"
#include "tests/support/fake_main_view.h"
#include "tests/support/scratch_directory.h"

using namespace quorvik;

namespace fs = std::filesystem;
using std::chrono::milliseconds;

namespace {

const std::vector<uint8_t> kMac = {0x00, 0x0A, 0x95, 0x9D, 0x68, 0x16};

class QuorvikDlg : public ::testing::Test, protected CDlgHarness {
 protected:
  void SetUp() override { network.addresses = {{10, 0, 0, 12}, {10, 0, 0, 1}}; }
  void WriteSettings(const std::string& text) { std::ofstream(dir / "Quorvik.ini") << text; }

  // Devices that answer every search: a generation-1 bootloader without
  // reset, and an application-mode node.
  void DevicesAnswer(bool withApp = true) {
    network.onSearch = [this, withApp](bool boot) {
      if (boot)
        ProcessDatagram(network.devices, kBootPortA,
                        Gen1Answer(1, 0x0105, 0x0461, 512, kMac, IdentityBytes(0x01, 11)).Span());
      else if (withApp)
        ProcessDatagram(network.devices, kAppPort,
                        AppAnswer(0x0203, kMac, "Truss Node", IdentityBytes(0xA0, 11)).Span());
    };
  }

  const fs::path& dir = clean.scratch.path();
};

TEST_F(QuorvikDlg, StartUpOpensTheStoredInterfaceSearchesWaitsAndLists) {
  WriteSettings("[APP]\nSELECTED_IP=10.0.0.1\nHIDDEN=\n");
  DevicesAnswer();
  dlg.OnInitDialog();

  // The exact entry, not the first whose text begins with the stored value.
  EXPECT_EQ(view.networkEntries,
            (std::vector<std::string>{"10.0.0.12", "10.0.0.1", "All networks"}));
  EXPECT_EQ(view.selectedEntry, 1);
  EXPECT_EQ(network.calls,
            (std::vector<std::string>{"enumerate", "open 10.0.0.1", "boot search", "app search"}));
  EXPECT_EQ(clock.elapsed, milliseconds(5000));

  ASSERT_EQ(view.columns.size(), 4u);
  EXPECT_STREQ(view.columns[0].header, "Device");
  EXPECT_EQ(view.columns[0].width, 230);
  EXPECT_EQ(view.columns[3].width, 120);

  ASSERT_EQ(view.rows.size(), 2u);
  EXPECT_EQ(view.rows[0], (DeviceRow{DeviceTypeName(0x0461, 0), "1.05", "0102030405060708090A0B",
                                     "00-0A-95-9D-68-16"}));
  EXPECT_EQ(view.rows[1].device, "Truss Node");
  EXPECT_EQ(view.statusLines, (std::vector<std::string>{"2 Interfaces found"}));
  EXPECT_EQ(view.selectedRow, 0);
  EXPECT_TRUE(view.buttons[Button::kFirmwareUpdate]);
  EXPECT_FALSE(view.buttons[Button::kFactoryReset]);  // a bootloader without reset
  EXPECT_TRUE(view.EventsStartingWith("tone").empty());
  EXPECT_EQ(dlg.iniPath(), dlg.workDir() + "//Quorvik.ini");  // the file is there
}

TEST_F(QuorvikDlg, StartUpReadsNothingItShouldNotAndWritesNothing) {
  WriteSettings("[APP]\nSELECTED_IP=192.168.1.1\nHIDDEN=0102030405060708090a0b\n");
  DevicesAnswer();
  dlg.OnInitDialog();
  EXPECT_EQ(view.selectedEntry, 0);  // a stored address of no interface: the first
  EXPECT_EQ(network.calls[1], "open 10.0.0.12");
  // The black-list came from the file: the bootloader is hidden.
  ASSERT_EQ(view.rows.size(), 1u);
  EXPECT_EQ(view.statusLines.back(), "1 Interfaces found (1 hidden)");
  EXPECT_TRUE(view.buttons[Button::kFactoryReset]);  // application mode
  std::ifstream in(dir / "Quorvik.ini");
  std::string text((std::istreambuf_iterator<char>(in)), {});
  EXPECT_EQ(text, "[APP]\nSELECTED_IP=192.168.1.1\nHIDDEN=0102030405060708090a0b\n");
}

TEST_F(QuorvikDlg, StartUpWithoutInterfaceOrWithAFailedOpeningDoesNotWait) {
  network.addresses.clear();
  dlg.OnInitDialog();
  EXPECT_EQ(view.networkEntries, (std::vector<std::string>{"No Ethernet connection !"}));
  EXPECT_EQ(view.selectedEntry, 0);
  EXPECT_EQ(network.calls, (std::vector<std::string>{"enumerate"}));
  EXPECT_TRUE(view.EventsStartingWith("message").empty());
  EXPECT_EQ(clock.elapsed, milliseconds(0));
  EXPECT_EQ(view.statusLines, (std::vector<std::string>{"0 Interfaces found"}));
  EXPECT_EQ(view.selectedRow, -1);
  EXPECT_FALSE(view.buttons[Button::kFirmwareUpdate]);
  EXPECT_FALSE(view.buttons[Button::kFactoryReset]);

  // Choosing the only entry does nothing and writes nothing.
  dlg.OnNetworkSelChange();
  EXPECT_EQ(network.calls.size(), 1u);
  EXPECT_FALSE(fs::exists(dir / "Quorvik.ini"));
}

TEST_F(QuorvikDlg, StartUpWithAFailedOpeningShowsTheMessageAndAnEmptyList) {
  network.openSucceeds = false;
  dlg.OnInitDialog();
  EXPECT_EQ(view.EventsStartingWith("message"),
            (std::vector<std::string>{"message Connection to Network failed !"}));
  EXPECT_EQ(clock.elapsed, milliseconds(0));
  EXPECT_EQ(view.columns.size(), 4u);
  EXPECT_EQ(view.statusLines, (std::vector<std::string>{"0 Interfaces found"}));
}

TEST_F(QuorvikDlg, StatusLogKeepsThreeLinesAndSoundsOnlyTheAlert) {
  dlg.AddStatusLine("one", Beep::kNone);
  dlg.AddStatusLine("two", Beep::kAlert);
  dlg.AddStatusLine("three", Beep::kNone);
  EXPECT_EQ(clock.elapsed, milliseconds(100));
  dlg.AddStatusLine("", Beep::kNone);
  EXPECT_EQ(view.statusLines, (std::vector<std::string>{"two", "three", ""}));
  EXPECT_EQ(view.EventsStartingWith("tone"), (std::vector<std::string>{"tone 100Hz 100ms"}));
}

TEST_F(QuorvikDlg, FindEmptiesTheTableSearchesForTwoSecondsAndRefreshes) {
  DevicesAnswer();
  dlg.OnInitDialog();
  {
    std::lock_guard lock(network.devices.deviceMutex);
    network.devices.hiddenCount = 5;
  }
  DevicesAnswer(/*withApp=*/false);  // the node has gone
  view.events.clear();
  clock.elapsed = milliseconds(0);
  EXPECT_FALSE(dlg.FindDevices());

  EXPECT_EQ(clock.elapsed, milliseconds(2000));
  EXPECT_EQ(view.progressSteps, 100);
  EXPECT_EQ(view.progressPos, 0);
  EXPECT_EQ(view.events.front(), "cursor wait");
  EXPECT_EQ(view.events.back(), "cursor arrow");
  EXPECT_EQ(view.EventsStartingWith("progress"),
            (std::vector<std::string>{"progress range 0..100", "progress step 1", "progress pos 0",
                                      "progress pos 0"}));
  ASSERT_EQ(view.rows.size(), 1u);
  EXPECT_EQ(view.statusLines.back(), "1 Interfaces found");  // hidden count reset
}

TEST_F(QuorvikDlg, FindAsksForAnUpdateOnlyWhenChainingAndExactlyOneDeviceAnswered) {
  view.checks[CheckBox::kAndMakeUpdate] = true;
  DevicesAnswer();
  dlg.OnInitDialog();
  EXPECT_FALSE(dlg.FindDevices());  // two devices
  EXPECT_TRUE(dlg.andMakeUpdate());
  DevicesAnswer(false);
  EXPECT_TRUE(dlg.FindDevices());
  network.onSearch = nullptr;
  EXPECT_FALSE(dlg.FindDevices());  // none
  EXPECT_FALSE(view.buttons[Button::kFirmwareUpdate]);
  view.checks[CheckBox::kAndMakeUpdate] = false;
  DevicesAnswer(false);
  EXPECT_FALSE(dlg.FindDevices());
}

TEST_F(QuorvikDlg, AllNetworksComesAfterTheCardsIsRememberedAndAloneShowsTheNetworkColumn) {
  // With every network open the node answers on both cards, the loader on
  // the second only; with one card the answers carry none.
  const std::vector<uint8_t> kLoaderMac = {0x02, 0, 0, 0, 0, 0x02};
  network.onSearch = [this, kLoaderMac](bool boot) {
    const bool all = dlg.openAddress() == kAllNetworks;
    for (const Ipv4Address card : {Ipv4Address{10, 0, 0, 12}, Ipv4Address{10, 0, 0, 1}}) {
      const Ipv4Address tag = all ? card : Ipv4Address{};
      if (!boot)
        ProcessDatagram(network.devices, kAppPort,
                        AppAnswer(0x0203, kMac, "Truss Node", IdentityBytes(0xA0, 11)).Span(), {},
                        tag);
      else if (card[3] == 1)
        ProcessDatagram(
            network.devices, kBootPortA,
            Gen1Answer(1, 0x0105, 0x0461, 512, kLoaderMac, IdentityBytes(0x01, 11)).Span(), {},
            tag);
      if (!all) break;
    }
  };
  WriteSettings("[APP]\nSELECTED_IP=all\nHIDDEN=\n");
  dlg.OnInitDialog();
  EXPECT_EQ(view.networkEntries.back(), "All networks");
  EXPECT_EQ(view.selectedEntry, 2);
  EXPECT_EQ(network.calls.at(1), "open all");
  ASSERT_EQ(view.columns.size(), 5u);
  EXPECT_STREQ(view.columns[4].header, "Network");
  ASSERT_EQ(view.rows.size(), 3u);
  EXPECT_EQ(view.rows[0].network, "10.0.0.1");
  EXPECT_EQ(view.rows[1].network, "10.0.0.12");
  EXPECT_EQ(view.rows[1].networks, 2);
  EXPECT_EQ(view.rows[2].network, "10.0.0.1");
  EXPECT_EQ(view.rows[2].networks, 2);
  EXPECT_EQ(view.rows[0].networks, 1);

  view.selectedEntry = 0;
  dlg.OnNetworkSelChange();
  EXPECT_EQ(CSettingsFile(dlg.iniPath()).Read("APP", "SELECTED_IP"), "10.0.0.12");
  EXPECT_EQ(view.columns.size(), 4u);
  ASSERT_EQ(view.rows.size(), 1u);
  EXPECT_EQ(view.rows[0].network, "");
  EXPECT_EQ(view.rows[0].networks, 0);

  view.selectedEntry = 2;
  dlg.OnNetworkSelChange();
  EXPECT_EQ(CSettingsFile(dlg.iniPath()).Read("APP", "SELECTED_IP"), "all");
  EXPECT_EQ(view.columns.size(), 5u);
  EXPECT_EQ(view.rows.size(), 3u);
}

TEST_F(QuorvikDlg, NetworkSwitchStoresTheChoiceFirstThenReopensAndSearches) {
  DevicesAnswer();
  dlg.OnInitDialog();
  network.calls.clear();
  view.events.clear();
  clock.elapsed = milliseconds(0);

  view.selectedEntry = 1;
  dlg.OnNetworkSelChange();
  EXPECT_EQ(network.calls,
            (std::vector<std::string>{"open 10.0.0.1", "boot search", "app search"}));
  EXPECT_EQ(CSettingsFile(dlg.iniPath()).Read("APP", "SELECTED_IP"), "10.0.0.1");
  EXPECT_EQ(clock.elapsed, milliseconds(2000));
  EXPECT_EQ(view.progressSteps, 100);
  EXPECT_EQ(view.progressPos, 0);
  EXPECT_EQ(view.statusLines.back(), "2 Interfaces found");

  // A failed opening keeps the stored choice and leaves list and bar alone.
  network.openSucceeds = false;
  network.calls.clear();
  view.events.clear();
  view.selectedEntry = 0;
  dlg.OnNetworkSelChange();
  EXPECT_EQ(CSettingsFile(dlg.iniPath()).Read("APP", "SELECTED_IP"), "10.0.0.12");
  EXPECT_EQ(view.events, (std::vector<std::string>{"message Connection to Network failed !"}));
  EXPECT_EQ(network.calls, (std::vector<std::string>{"open 10.0.0.12"}));
}

TEST_F(QuorvikDlg, ListCellsOfHostileAndOddRecords) {
  network.onSearch = [this](bool boot) {
    if (!boot) return;
    // A bootloader without an address of its own, and the slave-numbered model.
    ProcessDatagram(
        network.devices, kBootPortA,
        Gen1Answer(1, 0x0164, 0x0007, 512, std::vector<uint8_t>(6, 0), IdentityBytes(0x01, 11))
            .Span());
    ProcessDatagram(
        network.devices, kBootPortA,
        Gen3Answer(0x0300, 0x0100, kSlaveNumberedType, 0, 256, kMac, 3, IdentityBytes(0x10, 4))
            .Span());
  };
  dlg.OnInitDialog();
  ASSERT_EQ(view.rows.size(), 4u);
  EXPECT_EQ(view.rows[0].mac, "");
  EXPECT_EQ(view.rows[0].version, "");
  EXPECT_EQ(view.rows[3].device, DeviceTypeName(kSlaveNumberedType, 2));
  std::lock_guard lock(network.devices.deviceMutex);
  EXPECT_EQ(network.devices.deviceTable[3].Name(), DeviceTypeName(kSlaveNumberedType, 2));
}

TEST_F(QuorvikDlg, AWorkingDirectoryOfAnyLengthIsUsedWhole) {
  fs::path deep = dir;
  for (int i = 0; i < 6; ++i) deep /= std::string(60, static_cast<char>('a' + i));
  fs::create_directories(deep);
  std::ofstream(deep / "Quorvik.ini");
  fs::current_path(deep);
  dlg.OnInitDialog();
  EXPECT_GT(dlg.workDir().size(), 254u);
  EXPECT_EQ(fs::path(dlg.workDir()), fs::canonical(deep));
  view.selectedEntry = 1;
  dlg.OnNetworkSelChange();
  EXPECT_TRUE(fs::exists(deep / "Quorvik.ini"));
}

// A port that another program holds hides every device that answers on
// it: the window names it and why, keeps saying so beside the list, and
// the next Find tries again.
TEST_F(QuorvikDlg, APortThatCouldNotBeOpenedIsNamedAndTriedAgainOnFind) {
  network.portProblems = {{kAppPort, EADDRINUSE}};
  dlg.OnInitDialog();
  const std::string port6454 =
      "UDP port 6454 (devices running their application): Address already in use; another "
      "program holds it";
  EXPECT_EQ(view.EventsStartingWith("message"),
            (std::vector<std::string>{"message " + std::string(kPortsIncompleteMessage) + " | " +
                                      port6454}));
  EXPECT_EQ(view.portProblems, (std::vector<std::string>{port6454}));

  network.calls.clear();
  dlg.FindDevices();  // still held: said beside the list, no second box
  EXPECT_EQ(network.calls.front(), "open 10.0.0.12");
  EXPECT_EQ(view.EventsStartingWith("message").size(), 1u);
  network.portProblems.clear();
  dlg.FindDevices();
  EXPECT_TRUE(view.portProblems.empty());
  network.calls.clear();
  dlg.FindDevices();  // all open now: no new opening
  EXPECT_EQ(network.calls.front(), "boot search");

  // Nothing bound at all: the usual message, with the reasons below it.
  network.openSucceeds = false;
  network.portProblems = {{kBootPortA, ENODEV}};
  view.selectedEntry = 1;
  dlg.OnNetworkSelChange();
  EXPECT_EQ(view.EventsStartingWith("message").back(),
            "message Connection to Network failed ! | UDP port 10001 (devices in their "
            "bootloader): no interface holds the chosen address");
}

// More devices than the list holds: the count line stays as it is, and
// the view is told how many answers found no room.
TEST_F(QuorvikDlg, AnswersTheListHasNoRoomForAreReportedBesideIt) {
  network.onSearch = [this](bool boot) {
    if (!boot) return;
    for (int i = 0; i < 103; ++i)
      ProcessDatagram(
          network.devices, kBootPortA,
          Gen1Answer(1, 0x0100, 0x0461, 512, kMac, IdentityBytes(static_cast<uint8_t>(i), 11))
              .Span());
  };
  dlg.OnInitDialog();
  EXPECT_EQ(view.statusLines.back(), "99 Interfaces found");
  EXPECT_EQ(view.droppedAnswers, 4);
  network.onSearch = nullptr;
  dlg.FindDevices();
  EXPECT_EQ(view.droppedAnswers, 0);
}

// A settings file that exists but cannot be used is said once, and never
// replaced by one holding only the new value.
TEST_F(QuorvikDlg, ASettingsFileThatCannotBeReadIsSaidOnceAndLeftAlone) {
  const fs::path settings = SettingsFilePath(CurrentWorkingDirectory());
  fs::create_directories(settings);  // a folder where the file should be
  DevicesAnswer();
  dlg.OnInitDialog();
  ASSERT_EQ(view.EventsStartingWith("message").size(), 1u);
  EXPECT_NE(view.EventsStartingWith("message")[0].find("is a directory"), std::string::npos);
  view.selectedRow = 0;
  dlg.OnAddToBlackList();
  view.selectedEntry = 1;
  dlg.OnNetworkSelChange();
  EXPECT_EQ(view.EventsStartingWith("message").size(), 1u);
  EXPECT_TRUE(fs::is_directory(settings));
}

}  // namespace
