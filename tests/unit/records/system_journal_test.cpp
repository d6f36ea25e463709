// What the system journal is told of a result: the level an administrator
// filters on, a message that reads on one line whatever a device calls
// itself, and the update journal's fields under names journalctl accepts.

#include "records/system_journal.h"

#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <set>

using namespace quorvik;

namespace {

CommandResult Update() {
  CommandResult r;
  r.command = CommandKind::kUpdate;
  r.reason = r.statusLine = "RUN application.";
  r.deviceName = "Matrix Wall";
  r.device.version = 0x0102;
  r.device.identityLength = 11;
  r.device.identity = {0x21, 0x22, 0x23, 0x24, 0x25, 0x26, 0x27, 0x28, 0x29, 0x2A, 0x2B};
  r.device.mac = {0x02, 0x51, 0, 0, 0, 1};
  r.addressed = r.device;
  r.addressed.loaderType = 0x300;
  r.addressed.deviceId = 0x3680;
  r.frameSent = r.runRequestSent = true;
  r.confirmed = Confirmation::kRunning;
  r.runningVersion = 0x0103;
  r.update = UpdateFacts{"/fw/a.bin", "ab", 1, 1300, 6, 0x1234, true};
  r.duration = std::chrono::milliseconds(10512);
  return r;
}

std::map<std::string, std::string> Fields(const CommandResult& result) {
  std::map<std::string, std::string> fields;
  for (const auto& [name, value] :
       SystemJournalEntryOf(result, {"bench-2", "quorvik-cli", "10.0.0.2"}))
    EXPECT_TRUE(fields.emplace(name, value).second) << "twice: " << name;
  return fields;
}

TEST(SystemJournal, EachOutcomeHasItsLevelAndItsMessage) {
  struct Case {
    const char* what;
    std::function<void(CommandResult&)> change;
    int priority;
    std::string message;
  };
  const std::string device = "Matrix Wall 2122232425262728292A2B 1.02";
  const std::vector<Case> cases = {
      {"ok and running", [](CommandResult&) {}, 6, "update ok: " + device + " -> 1.03"},
      {"ok, no answer after the restart",
       [](CommandResult& r) {
         r.confirmed = Confirmation::kSilent;
         r.runningVersion.reset();
       },
       4, "update ok: " + device + " (no answer after the restart: not confirmed running)"},
      {"still in its loader",
       [](CommandResult& r) {
         r.outcome = Outcome::kFailed;
         r.confirmed = Confirmation::kInLoader;
         r.runningVersion.reset();
         r.reason = "Device still in its bootloader";
       },
       3, "update failed: " + device + " (Device still in its bootloader)"},
      {"refused after the restart",
       [](CommandResult& r) {
         r.outcome = Outcome::kRefused;
         r.confirmed = Confirmation::kNone;
         r.runningVersion.reset();
         r.reason = "Wrong file for this device";
       },
       4, "update refused: " + device + " (Wrong file for this device)"},
      {"interrupted",
       [](CommandResult& r) {
         r.outcome = Outcome::kInterrupted;
         r.confirmed = Confirmation::kNone;
         r.runningVersion.reset();
         r.reason = "interrupted";
       },
       4, "update interrupted: " + device + " (interrupted)"},
      {"a reset",
       [](CommandResult& r) {
         r = CommandResult{
             .command = CommandKind::kReset, .deviceName = "Dimmer", .device = r.device};
         r.frameSent = true;
       },
       6, "reset ok: Dimmer 2122232425262728292A2B 1.02"},
  };
  for (const Case& c : cases) {
    CommandResult result = Update();
    c.change(result);
    auto fields = Fields(result);
    EXPECT_EQ(fields["PRIORITY"], std::to_string(c.priority)) << c.what;
    EXPECT_EQ(fields["MESSAGE"], c.message) << c.what;
    EXPECT_EQ(fields["MESSAGE_ID"], SystemJournalMessageId(result.command)) << c.what;
    EXPECT_EQ(fields["SYSLOG_IDENTIFIER"], "quorvik-cli") << c.what;
    // The system journal stamps its own time and host.
    EXPECT_EQ(fields.count("QUORVIK_TIME") + fields.count("QUORVIK_HOST"), 0u) << c.what;
  }
}

TEST(SystemJournal, AHostileNameStaysOneLineInTheMessageAndWholeInItsField) {
  CommandResult result = Update();
  result.deviceName = "Wall\n\x1b[31mPRIORITY=0\xe9";
  auto fields = Fields(result);
  EXPECT_EQ(fields["MESSAGE"].find_first_of("\n\x1b"), std::string::npos) << fields["MESSAGE"];
  EXPECT_EQ(fields["PRIORITY"], "6");
  // Byte for byte but as UTF-8: the stray Latin-1 byte becomes its letter.
  EXPECT_EQ(fields["QUORVIK_DEVICE"], "Wall\n\x1b[31mPRIORITY=0\xc3\xa9");
}

TEST(SystemJournal, NamesAndIdsAreWhatTheSystemJournalAccepts) {
  // The names the manual page and the README give.
  EXPECT_EQ(SystemJournalFieldName("deviceId"), "QUORVIK_DEVICE_ID");
  EXPECT_EQ(SystemJournalFieldName("durationMs"), "QUORVIK_DURATION_MS");
  EXPECT_EQ(SystemJournalFieldName("sha256"), "QUORVIK_SHA256");
  const std::regex fieldName("QUORVIK_[A-Z0-9_]+");
  std::set<std::string> names;
  for (const std::string& field : JournalFields()) {
    const std::string name = SystemJournalFieldName(field);
    EXPECT_TRUE(std::regex_match(name, fieldName)) << name;
    EXPECT_LE(name.size(), 64u) << name;
    EXPECT_TRUE(names.insert(name).second) << name;
  }
  const std::regex id128("[0-9a-f]{32}");
  std::set<std::string> ids;
  for (CommandKind kind :
       {CommandKind::kUpdate, CommandKind::kReset, CommandKind::kRun, CommandKind::kReboot}) {
    EXPECT_TRUE(std::regex_match(SystemJournalMessageId(kind), id128));
    ids.insert(SystemJournalMessageId(kind));
  }
  EXPECT_EQ(ids.size(), 4u);
}

}  // namespace
