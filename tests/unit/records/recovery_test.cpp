// Recovery reads a journal that anyone who can write it may have written.

#include "records/recovery.h"

#include <gtest/gtest.h>

#include "commands/sha256.h"
#include "tests/support/firmware_file_builder.h"
#include "tests/support/scratch_directory.h"

using namespace quorvik;

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
  const FlatRecord start = JournalStartRecord(started, {});
  DeviceRecord inLoader = started.device;
  inLoader.loaderType = 0x300;
  const struct {
    std::string name;  // of the field changed
    JsonValue value;
    std::string problem;  // empty: written again
  } cases[] = {
      {"", nullptr, ""},
      {"time", std::string("not a time"), ""},
      {"fileBytes", nullptr, "does not record " + file + " with its size and SHA-256"},
      {"fileBytes", int64_t(bytes.size() + 1), file + " has changed since"},
      {"file", std::string("matrix.bin"), "does not record matrix.bin"},
      {"file", std::string("/dev/zero"), "/dev/zero: is a device, not a file"},
  };
  for (const auto& c : cases) {
    FlatRecord line = start;
    for (JsonField& field : line)
      if (field.name == c.name) field.value = c.value;
    const auto found = FindUnfinishedUpdates({line}, std::vector{inLoader}).halfUpdated.at(0);
    EXPECT_TRUE(c.problem.empty() ? found.fileProblem.empty()
                                  : found.fileProblem.find(c.problem) != std::string::npos)
        << found.fileProblem;
    EXPECT_EQ(found.when, c.name == "time" ? "" : TextOf(start, "time"));
  }
}

}  // namespace
