// The settings file against real files in a temporary folder.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "records/settings_file.h"

using namespace quorvik;

namespace fs = std::filesystem;

namespace {

class SettingsFile : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/quorvik-settings-XXXXXX";
    dir = ::mkdtemp(pattern);
    path = (dir / "Quorvik.ini").string();
  }
  void TearDown() override { fs::remove_all(dir); }
  void Put(const std::string& text) { std::ofstream(path, std::ios::binary) << text; }
  std::string Contents() const {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  size_t FilesInDir() const {
    return static_cast<size_t>(std::distance(fs::directory_iterator(dir), {}));
  }

  fs::path dir;
  std::string path;
};

TEST_F(SettingsFile, MissingFileSectionOrKeyReadsEmptyAndCreatesNothing) {
  CSettingsFile settings(path);
  EXPECT_EQ(settings.Read("APP", "HIDDEN"), "");
  EXPECT_FALSE(fs::exists(path));
  Put("[OTHER]\nHIDDEN=x\n[APP]\nSELECTED_IP=\n");
  EXPECT_EQ(settings.Read("APP", "HIDDEN"), "");
  EXPECT_EQ(settings.Read("APP", "SELECTED_IP"), "");
}

TEST_F(SettingsFile, NamesMatchWithoutCaseAndOtherLinesSurviveAWrite) {
  Put("; written by hand\r\n[Other]\r\nkey=1\r\n\r\n[app]\r\nSelected_Ip = 10.0.0.1\r\n"
      "extra=keep\r\n[Last]\r\nz=9\r\n");
  CSettingsFile settings(path);
  EXPECT_EQ(settings.Read("APP", "SELECTED_IP"), "10.0.0.1");
  ASSERT_TRUE(settings.Write("APP", "SELECTED_IP", "10.0.0.12"));
  ASSERT_TRUE(settings.Write("APP", "HIDDEN", "Node 0a0b"));
  EXPECT_EQ(Contents(),
            "; written by hand\r\n[Other]\r\nkey=1\r\n\r\n[app]\r\nSELECTED_IP=10.0.0.12\r\n"
            "extra=keep\r\nHIDDEN=Node 0a0b\r\n[Last]\r\nz=9\r\n");
}

TEST_F(SettingsFile, WriteCreatesFileAndSection) {
  CSettingsFile settings(path);
  ASSERT_TRUE(settings.Write("APP", "HIDDEN", "a"));
  EXPECT_EQ(Contents(), "[APP]\nHIDDEN=a\n");
  ASSERT_TRUE(settings.Write("APP", "HIDDEN", ""));
  EXPECT_EQ(settings.Read("APP", "HIDDEN"), "");
}

TEST_F(SettingsFile, ValuesOfAnyLengthRoundTrip) {
  std::string blackList;
  for (int i = 0; i < 400; ++i)
    blackList += "Pixel Driver 1 0102030405060708090a" + std::to_string(i) + ";";
  ASSERT_GT(blackList.size(), 10000u);
  CSettingsFile settings(path);
  ASSERT_TRUE(settings.Write("APP", "HIDDEN", blackList));
  EXPECT_EQ(settings.Read("APP", "HIDDEN"), blackList);
  ASSERT_TRUE(settings.Write("APP", "SELECTED_IP", "10.0.0.1"));
  EXPECT_EQ(settings.Read("APP", "HIDDEN"), blackList);
}

TEST_F(SettingsFile, ALineBreakInAValueCannotForgeAnotherKeyOrSection) {
  CSettingsFile settings(path);
  ASSERT_TRUE(settings.Write("APP", "HIDDEN", "Evil\n[APP]\nSELECTED_IP=6.6.6.6\r\nx"));
  EXPECT_EQ(settings.Read("APP", "SELECTED_IP"), "");
  EXPECT_EQ(settings.Read("APP", "HIDDEN"), "Evil [APP] SELECTED_IP=6.6.6.6  x");
}

TEST_F(SettingsFile, WriteReplacesTheFileWholeAndLeavesNoTemporaryBehind) {
  Put("[APP]\nHIDDEN=old\n");
  struct stat before {};
  ASSERT_EQ(::stat(path.c_str(), &before), 0);
  CSettingsFile settings(path);
  ASSERT_TRUE(settings.Write("APP", "HIDDEN", "new"));
  struct stat after {};
  ASSERT_EQ(::stat(path.c_str(), &after), 0);
  EXPECT_NE(before.st_ino, after.st_ino);  // renamed over, not rewritten in place
  EXPECT_EQ(FilesInDir(), 1u);

  // A write that cannot complete reports why and leaves nothing behind.
  const fs::path blocked = dir / "blocked.ini";
  fs::create_directories(blocked / "inside");
  CSettingsFile onAFolder(blocked.string());
  const FileWrite folder = onAFolder.Write("APP", "K", "v");
  EXPECT_FALSE(folder);
  EXPECT_EQ(folder.problem.message, blocked.string() +
                                        ": is a directory, not a file; it is left as it is and "
                                        "nothing is saved in it");
  CSettingsFile underAFile((dir / "Quorvik.ini" / "x.ini").string());
  const FileWrite underFile = underAFile.Write("APP", "K", "v");
  EXPECT_FALSE(underFile);
  EXPECT_EQ(underFile.problem.message,
            "cannot create the folder " + path + ": a file of that name is in the way");
  EXPECT_EQ(FilesInDir(), 2u);

  // A missing folder is made, parents and all.
  EXPECT_TRUE(CSettingsFile((dir / "new/deeper/Quorvik.ini").string()).Write("APP", "K", "v"));
  EXPECT_TRUE(fs::is_regular_file(dir / "new/deeper/Quorvik.ini"));
}

}  // namespace
