// Recovery reads a journal that anyone who can write it may have written:
// only the file a start line vouches for is read, and a time that is no
// time is not shown as one.

#include "records/recovery.h"

#include <gtest/gtest.h>

#include "commands/sha256.h"
#include "tests/support/firmware_file_builder.h"
#include "tests/support/scratch_directory.h"

namespace {

TEST(Recovery, OnlyTheFileAStartLineRecordsWithSizeAndHashIsReadAndABadTimeIsNoTime) {
  CScratchDirectory scratch;
  const std::string file = (scratch.path() / "matrix.bin").string();
  const std::vector<uint8_t> bytes = FirmwareFileBytes(2, {{33, 0x3680, 1, 5, PatternBytes(99)}});
  WriteFile(file, bytes);
  CommandResult started;
  started.device.identityLength = 1;
  started.device.identity = {0x21};
  started.update = UpdateFacts{.path = file, .sha256 = Sha256Hex(bytes), .fileBytes = bytes.size()};
  const FlatRecord start = JournalStartRecord(started, {"bench", "quorvik-cli", "127.0.0.1"});
  DeviceRecord inLoader = started.device;
  inLoader.loaderType = 0x300;
  const struct {
    const char* name;  // of the field changed; none for the line as written
    JsonValue value;
    std::string problem;  // empty: written again
  } cases[] = {
      {nullptr, nullptr, ""},
      {"time", std::string("not a time"), ""},
      {"fileBytes", nullptr, "does not record " + file + " with its size and SHA-256"},
      {"fileBytes", int64_t(bytes.size() + 1), file + " has changed since"},
      {"file", std::string("matrix.bin"), "does not record matrix.bin"},
      {"sha256", std::string("x"), "does not record"},
      {"file", std::string("/dev/zero"), "/dev/zero: is a device, not a file"},
  };
  for (const auto& c : cases) {
    FlatRecord line = start;
    for (JsonField& field : line)
      if (c.name && field.name == c.name) field.value = c.value;
    const auto found = FindUnfinishedUpdates({line}, std::vector{inLoader}).halfUpdated;
    ASSERT_EQ(found.size(), 1u);
    EXPECT_TRUE(c.problem.empty() ? found[0].fileProblem.empty()
                                  : found[0].fileProblem.find(c.problem) != std::string::npos)
        << found[0].fileProblem;
    EXPECT_EQ(found[0].when,
              c.name && c.name == std::string_view("time") ? "" : TextOf(start, "time"));
  }
  std::string problem;
  const auto u = FindUnfinishedUpdates({start}, std::vector{inLoader}).halfUpdated.at(0);
  EXPECT_EQ(ReadRecordedFile(u, problem).bytes, bytes);  // the bytes hashed
}

}  // namespace
