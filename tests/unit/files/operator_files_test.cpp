// The operator's files against real files, links, FIFOs and devices: read
// whole or refused with a reason, replaced whole or left as they are.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>

#include "commands/firmware_file.h"
#include "files/operator_files.h"
#include "records/settings_file.h"

using namespace quorvik;

namespace fs = std::filesystem;

namespace {

class OperatorFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/quorvik-files-XXXXXX";
    dir = ::mkdtemp(pattern);
    // Readable by the unprivileged user some cases switch to.
    fs::permissions(dir, fs::perms::all);
  }
  void TearDown() override { fs::remove_all(dir); }
  std::string Path(const char* name) const { return (dir / name).string(); }
  static void Put(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
  }
  static std::string Contents(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
  }
  static mode_t Mode(const std::string& path) {
    struct stat st {};
    ::stat(path.c_str(), &st);
    return st.st_mode & 07777;
  }
  // Runs `body` as a user without privileges, as an operator would be: for
  // root, no file mode keeps anything unreadable. True when it passed.
  static bool AsOrdinaryUser(const std::function<bool()>& body) {
    if (::geteuid() != 0) return body();
    const pid_t child = ::fork();
    if (child == 0) {
      if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(2);
      ::_exit(body() ? 0 : 1);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
  }

  fs::path dir;
};

TEST_F(OperatorFiles, OnlyRegularFilesOfASaneSizeAreReadAndTheRestIsNamed) {
  Put(Path("ok"), "data");
  ASSERT_EQ(::mkfifo(Path("fifo").c_str(), 0600), 0);
  fs::create_directory(Path("folder"));
  Put(Path("big"), std::string(2000, 'x'));
  struct Case {
    std::string path;
    FileProblem::Kind kind;
    const char* says;
  };
  // A FIFO with no writer would block a plain open for ever; /dev/zero
  // never ends.
  for (const Case& c : {Case{Path("fifo"), FileProblem::Kind::kNotRegular, "is a FIFO"},
                        Case{Path("folder"), FileProblem::Kind::kNotRegular, "is a directory"},
                        Case{"/dev/zero", FileProblem::Kind::kNotRegular, "is a device"},
                        Case{Path("big"), FileProblem::Kind::kTooLarge, "larger than 1000 bytes"},
                        Case{Path("missing"), FileProblem::Kind::kMissing, "No such file"},
                        Case{Path("ok/below"), FileProblem::Kind::kMissing, "Not a directory"}}) {
    const FileRead read = ReadWholeFile(c.path, 1000);
    EXPECT_FALSE(read.bytes) << c.path;
    EXPECT_EQ(read.problem.kind, c.kind) << c.path;
    EXPECT_NE(read.problem.message.find(c.path), std::string::npos);
    EXPECT_NE(read.problem.message.find(c.says), std::string::npos) << read.problem.message;
  }
  EXPECT_EQ(ReadWholeFile(Path("ok"), 1000).bytes, "data");

  // The same paths as firmware: refused before anything is sent, never a
  // hang or a crash.
  for (const char* name : {"fifo", "folder", "missing"})
    EXPECT_EQ(ReadFirmwareFile(Path(name)).verdict, FirmwareVerdict::kUnreadable) << name;
  EXPECT_EQ(ReadFirmwareFile("/dev/urandom").verdict, FirmwareVerdict::kUnreadable);
  // And as settings: read as empty, and never written over.
  for (const char* name : {"fifo", "folder"}) {
    CSettingsFile settings(Path(name));
    EXPECT_EQ(settings.Read("APP", "HIDDEN"), "");
    EXPECT_TRUE(settings.ReadProblem());
    EXPECT_FALSE(settings.Write("APP", "HIDDEN", "x"));
  }
  EXPECT_TRUE(fs::is_fifo(Path("fifo")));
  EXPECT_TRUE(fs::is_directory(Path("folder")));
}

TEST_F(OperatorFiles, AWriteGoesThroughLinksKeepsTheModeAndLeavesReadOnlyFilesAlone) {
  Put(Path("real.ini"), "[APP]\nOTHER=1\n");
  ::chmod(Path("real.ini").c_str(), 0600);
  fs::create_symlink("real.ini", Path("link.ini"));
  CSettingsFile viaLink(Path("link.ini"));
  ASSERT_TRUE(viaLink.Write("APP", "HIDDEN", "a"));
  EXPECT_TRUE(fs::is_symlink(Path("link.ini")));
  EXPECT_EQ(Contents(Path("real.ini")), "[APP]\nOTHER=1\nHIDDEN=a\n");
  EXPECT_EQ(Mode(Path("real.ini")), 0600u);

  // A link to a file not made yet makes the file, not a regular copy of
  // the link.
  fs::create_symlink("later.ini", Path("dangling.ini"));
  ASSERT_TRUE(WriteFileAtomically(Path("dangling.ini"), "x"));
  EXPECT_TRUE(fs::is_symlink(Path("dangling.ini")));
  EXPECT_EQ(Contents(Path("later.ini")), "x");

  Put(Path("locked.ini"), "[APP]\nHIDDEN=kept\n");
  ::chmod(Path("locked.ini").c_str(), 0444);
  const FileWrite refused = CSettingsFile(Path("locked.ini")).Write("APP", "HIDDEN", "new");
  EXPECT_FALSE(refused);
  EXPECT_EQ(refused.problem.kind, FileProblem::Kind::kReadOnly);
  EXPECT_EQ(Contents(Path("locked.ini")), "[APP]\nHIDDEN=kept\n");
  EXPECT_EQ(Mode(Path("locked.ini")), 0444u);
  // Nothing is left behind by any of it.
  for (const auto& entry : fs::directory_iterator(dir))
    EXPECT_EQ(entry.path().filename().string().find(".tmp-"), std::string::npos);
}

TEST_F(OperatorFiles, ASettingsFileThatCannotBeReadIsNeverRewritten) {
  const std::string path = Path("Quorvik.ini");
  const std::string original = "; mine\n[NET]\nx=1\n[APP]\nSELECTED_IP=10.0.0.1\n";
  Put(path, original);
  ::chmod(path.c_str(), 0000);
  EXPECT_TRUE(AsOrdinaryUser([&] {
    CSettingsFile settings(path);
    const FileWrite written = settings.Write("APP", "HIDDEN", "0a0b (Node)");
    return settings.ReadProblem().has_value() && !written &&
           written.problem.message.find("Permission denied") != std::string::npos;
  }));
  ::chmod(path.c_str(), 0644);
  EXPECT_EQ(Contents(path), original);
}

}  // namespace
