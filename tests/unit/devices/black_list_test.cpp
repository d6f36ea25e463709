// Hiding devices: the entry format, splitting, the dialog's Delete, and when
// the settings file is written.

#include <gtest/gtest.h>

#include "app/quorvik_dlg.h"
#include "devices/black_list.h"
#include "net/reply_processing.h"
#include "tests/support/datagram_builder.h"
#include "tests/support/dlg_harness.h"
#include "tests/support/fake_main_view.h"
#include "tests/support/scratch_directory.h"

using namespace quorvik;

namespace {

using Entries = std::vector<std::string>;

TEST(SplitBlackList, KeepsInnerEmptyEntriesButNoTrailingOne) {
  EXPECT_EQ(SplitBlackList(""), Entries{});
  EXPECT_EQ(SplitBlackList("a"), Entries{"a"});
  EXPECT_EQ(SplitBlackList("a;;b"), (Entries{"a", "", "b"}));
  EXPECT_EQ(SplitBlackList("a;b;"), (Entries{"a", "b"}));
  EXPECT_EQ(SplitBlackList(";"), Entries{""});
}

class BlackList : public ::testing::Test, protected CDlgHarness {
 protected:
  void SetUp() override {
    network.addresses = {{10, 0, 0, 1}};
    network.onSearch = [this](bool boot) {
      if (boot) return;
      for (const auto& [name, first] : devices)
        ProcessDatagram(
            network.devices, kAppPort,
            AppAnswer(0x0100, std::vector<uint8_t>(6, 1), name, IdentityBytes(first, 11)).Span());
    };
  }
  std::string Stored() const { return CSettingsFile(dlg.iniPath()).Read("APP", "HIDDEN"); }
  std::string Current() {
    std::lock_guard lock(network.devices.deviceMutex);
    return network.devices.blackList.text();
  }

  std::vector<std::pair<std::string, uint8_t>> devices = {
      {"Left", 0x10}, {"Centre;Truss", 0x20}, {"", 0x30}};
};

TEST_F(BlackList, AddingWritesEntriesWithOneSeparatorAndSavesAtOnce) {
  dlg.OnInitDialog();
  ASSERT_EQ(view.rows.size(), 3u);
  for (int row : {0, 1, 2}) {
    view.selectedRow = row;
    dlg.OnAddToBlackList();
  }
  const std::string expected =
      "101112131415161718191a (Left);"
      "202122232425262728292a (Centre;Truss);"
      "303132333435363738393a ()";
  EXPECT_EQ(Current(), expected);
  EXPECT_EQ(Stored(), expected);
  EXPECT_EQ(view.rows.size(), 3u);  // rows stay until the next search
  EXPECT_TRUE(view.EventsStartingWith("log 3").size() == 1);

  // Every later answer is dropped and counted, twice for two answers.
  dlg.FindDevices();
  EXPECT_EQ(view.statusLines.back(), "0 Interfaces found (3 hidden)");
  ProcessDatagram(
      network.devices, kAppPort,
      AppAnswer(0x0100, std::vector<uint8_t>(6, 1), "Left", IdentityBytes(0x10, 11)).Span());
  std::lock_guard lock(network.devices.deviceMutex);
  EXPECT_EQ(network.devices.hiddenCount, 4);
  EXPECT_EQ(CountUsedRecords(network.devices.deviceTable), 0);
}

TEST_F(BlackList, DialogDeletesAtOnceButSavesOnlyOnOk) {
  dlg.OnInitDialog();
  for (int row : {0, 1, 2}) {
    view.selectedRow = row;
    dlg.OnAddToBlackList();
  }
  const std::string saved = Stored();

  // A name with ";" shows as two rows; Escape after deleting the middle one
  // of the first three keeps the file as it was.
  view.onBlackListDialog = [](CDlgBlacklist& d) {
    EXPECT_EQ(d.FillList(),
              (Entries{"101112131415161718191a (Left)", "202122232425262728292a (Centre", "Truss)",
                       "303132333435363738393a ()"}));
    d.OnDelete(1);
    EXPECT_EQ(d.FillList().size(), 3u);
    return false;
  };
  dlg.OnShowBlackList();
  EXPECT_EQ(Stored(), saved);
  EXPECT_EQ(Current(), "101112131415161718191a (Left);Truss);303132333435363738393a ()");
  // The deletion works at once: the middle device shows again.
  dlg.FindDevices();
  EXPECT_EQ(view.rows.size(), 1u);

  // Delete without a selection changes nothing; OK saves.
  view.onBlackListDialog = [](CDlgBlacklist& d) {
    d.OnDelete(-1);
    return true;
  };
  dlg.OnShowBlackList();
  EXPECT_EQ(Stored(), "101112131415161718191a (Left);Truss);303132333435363738393a ()");
}

}  // namespace
