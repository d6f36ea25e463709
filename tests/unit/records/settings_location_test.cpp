// Where the settings live, and what the window does when they cannot be
// saved there, against real folders.

#include "records/settings_location.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "net/reply_processing.h"
#include "tests/support/dlg_harness.h"

using namespace quorvik;

namespace fs = std::filesystem;

namespace {

class SettingsLocation : public ::testing::Test, protected CDlgHarness {
 protected:
  void SetUp() override { network.addresses = {{10, 0, 0, 12}, {10, 0, 0, 1}}; }
  const fs::path& dir = clean.scratch.path();
};

TEST_F(SettingsLocation, TheWorkingDirectoryWinsOnlyWithARegularFileThere) {
  const std::string work = dir.string();
  fs::create_directories(dir / "linked");
  std::ofstream(dir / "linked/real.ini") << "[APP]\n";
  fs::create_directories(dir / "folder/Quorvik.ini");
  fs::create_directories(dir / "dangling");
  fs::create_symlink(dir / "nowhere.ini", dir / "dangling/Quorvik.ini");
  fs::create_symlink(dir / "linked/real.ini", dir / "linked/Quorvik.ini");
  fs::create_directories(dir / "plain");
  std::ofstream(dir / "plain/Quorvik.ini");

  struct Case {
    std::string workDir, xdg, home, expected;
  } cases[] = {
      // Existing set-ups keep the path exactly as earlier versions spelled it.
      {work + "/plain", "/x", "/h", work + "/plain//Quorvik.ini"},
      {work + "/linked", "/x", "/h", work + "/linked//Quorvik.ini"},
      {work + "/folder", "/x", "/h", "/x/quorvik/Quorvik.ini"},
      {work + "/dangling", "/x", "/h", "/x/quorvik/Quorvik.ini"},
      {work, "/x/cfg/", "/h", "/x/cfg/quorvik/Quorvik.ini"},
      {work, "", "/h", "/h/.config/quorvik/Quorvik.ini"},
      {work, "relative/cfg", "/h", "/h/.config/quorvik/Quorvik.ini"},
      {work, "", "", work + "//Quorvik.ini"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(SettingsPathFor(c.workDir, {c.xdg, c.home}), c.expected) << c.workDir << " " << c.xdg;
}

TEST_F(SettingsLocation, TheFolderIsCreatedPrivateOnTheFirstWriteOnly) {
  dlg.OnInitDialog();
  const fs::path expected = clean.scratch.ConfigSettingsPath();
  EXPECT_EQ(dlg.iniPath(), expected.string());
  EXPECT_FALSE(fs::exists(expected.parent_path()));  // reading creates nothing

  view.selectedEntry = 1;
  dlg.OnNetworkSelChange();
  EXPECT_EQ(CSettingsFile(expected).Read("APP", "SELECTED_IP"), "10.0.0.1");
  EXPECT_FALSE(fs::exists(dir / "Quorvik.ini"));
  struct stat info {};
  ASSERT_EQ(::stat(expected.parent_path().c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0700u);
  EXPECT_TRUE(view.EventsStartingWith("message").empty());
}

TEST_F(SettingsLocation, AFolderThatCannotBeCreatedIsSaidAndTheChangeHoldsForTheRun) {
  std::ofstream(dir / "config") << "a file where the folder should be";
  dlg.OnInitDialog();
  view.selectedEntry = 1;
  dlg.OnNetworkSelChange();
  EXPECT_EQ(network.calls.back(), "app search");  // the switch itself went ahead
  const std::string message =
      "message The settings file cannot be used; no setting is saved in it. | cannot create the "
      "folder " +
      (dir / "config").string() + ": a file of that name is in the way";
  EXPECT_EQ(view.EventsStartingWith("message"), std::vector<std::string>{message});

  // The black-list entry is lost neither for this run nor from the file in the way.
  DeviceRecord device;
  device.version = 0x0100;
  device.identityLength = 11;
  device.identity[0] = 0x42;
  {
    std::lock_guard lock(network.devices.deviceMutex);
    network.devices.deviceTable[0] = device;
  }
  view.selectedRow = 0;
  dlg.OnAddToBlackList();
  EXPECT_EQ(view.EventsStartingWith("message").size(), 1u);  // said once per run
  std::lock_guard lock(network.devices.deviceMutex);
  EXPECT_NE(network.devices.blackList.text().find("42000000"), std::string::npos);
  std::ifstream kept(dir / "config");
  EXPECT_EQ(std::string((std::istreambuf_iterator<char>(kept)), {}),
            "a file where the folder should be");
}

TEST_F(SettingsLocation, TheFirmwareDialogOpensWhereTheLastFileWasChosen) {
  dlg.OnInitDialog();
  fs::create_directories(dir / "images");
  view.chosenFile = (dir / "images/matrix.bin").string();
  EXPECT_TRUE(dlg.SelectFirmwareFile());
  EXPECT_EQ(view.lastFileRequest.proposedPath, dlg.workDir() + "/firmware.bin");

  // Remembered across runs, in the settings file.
  CQuorvikDlg restarted(view, network, clock);
  restarted.OnInitDialog();
  EXPECT_TRUE(restarted.SelectFirmwareFile());
  EXPECT_EQ(view.lastFileRequest.proposedPath, (dir / "images/firmware.bin").string());

  // A folder that has gone: back to the working directory.
  fs::remove_all(dir / "images");
  EXPECT_TRUE(restarted.SelectFirmwareFile());
  EXPECT_EQ(view.lastFileRequest.proposedPath, restarted.workDir() + "/firmware.bin");
}

}  // namespace
