// Recovery reads a journal that anyone who can write it may have written:
// only the file a start line vouches for, with its size and SHA-256, is
// read, and a time that is no time is not shown as one.

#include "records/recovery.h"

#include <gtest/gtest.h>

#include <functional>

#include "commands/sha256.h"
#include "tests/support/firmware_file_builder.h"
#include "tests/support/scratch_directory.h"

namespace {

TEST(Recovery, OnlyTheFileAStartLineRecordsWithSizeAndHashIsReadAndABadTimeIsNoTime) {
  CScratchDirectory scratch;
  const std::string file = (scratch.path() / "matrix.bin").string();
  const std::vector<uint8_t> bytes =
      FirmwareFileBytes(2, {{33, 0x3680, 0x01, 0x05, PatternBytes(1300, 3)}});
  WriteFile(file, bytes);
  CommandResult started;
  started.device.identityLength = 11;
  started.device.identity = {0x21, 0x22, 0x23, 0x24, 0x25, 0x26, 0x27, 0x28, 0x29, 0x2a, 0x2b};
  started.addressed = started.device;
  started.update.emplace();
  started.update->path = file;
  started.update->sha256 = Sha256Hex(bytes);
  started.update->fileBytes = bytes.size();
  const FlatRecord start = JournalStartRecord(started, {"bench", "quorvik-cli", "127.0.0.1"});
  DeviceRecord inLoader = started.device;
  inLoader.loaderType = 0x300;

  const auto set = [](const char* name, JsonValue value) {
    return [=](FlatRecord& line) {
      for (JsonField& field : line)
        if (field.name == name) field.value = value;
    };
  };
  const struct {
    const char* what;
    std::function<void(FlatRecord&)> change;
    std::string problem;  // empty: written again
  } cases[] = {
      {"as written", [](FlatRecord&) {}, ""},
      {"a bad time", set("time", std::string("not a time")), ""},
      {"an earlier version's line",
       [](FlatRecord& line) { std::erase_if(line, [](auto& f) { return f.name == "fileBytes"; }); },
       "does not record " + file + " with its size and SHA-256"},
      {"another size", set("fileBytes", int64_t(bytes.size() + 1)), file + " has changed since"},
      {"a relative path", set("file", std::string("matrix.bin")), "does not record matrix.bin"},
      {"no hash", set("sha256", std::string("x")), "does not record"},
      {"a device", set("file", std::string("/dev/zero")), "/dev/zero: is a device, not a file"},
  };
  for (const auto& c : cases) {
    FlatRecord line = start;
    c.change(line);
    const UnfinishedUpdates found = FindUnfinishedUpdates({line}, std::vector{inLoader});
    ASSERT_EQ(found.halfUpdated.size(), 1u) << c.what;
    const UnfinishedUpdate& u = found.halfUpdated[0];
    if (c.problem.empty())
      EXPECT_EQ(u.fileProblem, "") << c.what;
    else
      EXPECT_NE(u.fileProblem.find(c.problem), std::string::npos)
          << c.what << ": " << u.fileProblem;
    EXPECT_EQ(u.when, std::string(c.what) == "a bad time" ? "" : TextOf(start, "time")) << c.what;
  }

  // The bytes handed out are the ones hashed, whatever the file becomes.
  UnfinishedUpdate u = FindUnfinishedUpdates({start}, std::vector{inLoader}).halfUpdated.at(0);
  std::string problem;
  const FirmwareFileRead read = ReadRecordedFile(u, problem);
  EXPECT_EQ(problem, "");
  EXPECT_EQ(read.bytes, bytes);
}

}  // namespace
