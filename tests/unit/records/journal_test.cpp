// The update journal against real files: lines that always parse, whole
// under two writers and after a killed one, hostile names as valid JSON and
// harmless CSV, and a journal that cannot be written said, not crashed on.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "base/text.h"
#include "commands/sha256.h"
#include "records/journal.h"

using namespace quorvik;

namespace fs = std::filesystem;

namespace {

CommandResult Result(const std::string& name) {
  CommandResult r;
  r.command = CommandKind::kUpdate;
  r.outcome = Outcome::kOk;
  r.reason = "RUN application.";
  r.deviceName = name;
  r.device.version = 0x0102;
  r.device.identityLength = 11;
  r.device.identity = {0x21, 0x22, 0x23, 0x24, 0x25, 0x26, 0x27, 0x28, 0x29, 0x2A, 0x2B};
  r.device.mac = {0x02, 0x51, 0, 0, 0, 1};
  r.addressed = r.device;
  r.addressed.loaderType = 0x300;
  r.addressed.deviceId = 0x3680;
  r.confirmed = Confirmation::kRunning;
  r.update = UpdateFacts{"/fw/a.bin", "ab", 1, 1300, 6, 0x1234, true};
  return r;
}

class Journal : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/quorvik-journal-XXXXXX";
    dir = ::mkdtemp(pattern);
    path = (dir / "state/quorvik/journal.jsonl").string();
  }
  void TearDown() override { fs::remove_all(dir); }
  // Appends `lines` lines from a child process; returns its pid.
  pid_t Writer(int lines, const std::string& name) const {
    const pid_t child = ::fork();
    if (child != 0) return child;
    const CJournal journal(path);
    const FlatRecord record = JournalRecord(Result(name), {"host", "quorvik-cli", "127.0.0.1"});
    for (int i = 0; lines < 0 || i < lines; ++i)
      if (journal.Append(record)) ::_exit(1);
    ::_exit(0);
  }

  fs::path dir;
  std::string path;
};

TEST_F(Journal, ALineHoldsEveryFieldInOrderAndReadsBack) {
  const CJournal journal(path);
  ASSERT_FALSE(journal.CheckWritable());  // makes the folders
  const FlatRecord record = JournalRecord(Result("Matrix Wall"), {"host", "quorvik", "10.0.0.2"});
  ASSERT_FALSE(journal.Append(record));
  const JournalRead read = ReadJournal(path);
  ASSERT_EQ(read.records.size(), 1u);
  EXPECT_EQ(read.records[0], record);
  std::vector<std::string> names;
  for (const auto& f : record) names.push_back(f.name);
  std::vector<std::string> expected = kJournalCommonFields;
  expected.insert(expected.end(), kJournalUpdateFields.begin(), kJournalUpdateFields.end());
  EXPECT_EQ(names, expected);
  EXPECT_EQ(TextOf(record, "mac"), "02-51-00-00-00-01");
  EXPECT_EQ(TextOf(record, "deviceId"), "0x3680");
  EXPECT_EQ(TextOf(record, "loaderType"), "0x0300");
  EXPECT_EQ(TextOf(record, "version"), "1.02");
  EXPECT_EQ(TextOf(record, "crc"), "0x1234");
  const std::string time = TextOf(record, "time");
  ASSERT_EQ(time.size(), 24u);  // 2026-12-08T04:27:26.123Z
  EXPECT_EQ(time[10], 'T');
  EXPECT_EQ(time.back(), 'Z');
  // The placeholder address names no device: null, never "Not assigned".
  CommandResult placeholder = Result("x");
  placeholder.device.mac = placeholder.addressed.mac = {0x00, 0x60, 0x35, 0, 0, 0};
  EXPECT_EQ(*FieldOf(ResultFields(placeholder), "mac"), JsonValue(nullptr));
}

// Names are the devices' bytes: quotes, control characters, invalid UTF-8
// and format directives come out as valid JSON, and CSV never runs a cell
// as a formula.
TEST_F(Journal, HostileNamesBecomeValidJsonAndHarmlessCsv) {
  const std::string names[] = {"Quote\" back\\slash",
                               "Line\r\nbreak\x01\x7F",
                               "Latin \xE9\xFF",
                               "%n%s%x",
                               "=HYPERLINK(\"x\")",
                               "-1+2",
                               "@SUM(A1)",
                               "\tTab"};
  std::vector<FlatRecord> records;
  for (const std::string& name : names) {
    const FlatRecord record = JournalRecord(Result(name), {"h", "quorvik", ""});
    const std::string line = EncodeJsonObject(record);
    EXPECT_EQ(line.find('\n'), std::string::npos);
    EXPECT_EQ(line.find('\r'), std::string::npos);
    const auto decoded = DecodeJsonObject(line);
    ASSERT_TRUE(decoded) << line;
    EXPECT_EQ(TextOf(*decoded, "device"), ToUtf8(name));
    records.push_back(record);
  }
  EXPECT_EQ(TextOf(*DecodeJsonObject(EncodeJsonObject(records[2])), "device"),
            "Latin \xC3\xA9\xC3\xBF");
  const std::string csv = JournalCsv(records);
  EXPECT_NE(csv.find(",\"Quote\"\" back\\slash\","), std::string::npos);
  EXPECT_NE(csv.find(",\"Line\r\nbreak"), std::string::npos);
  EXPECT_NE(csv.find(",\"'=HYPERLINK(\"\"x\"\")\","), std::string::npos);
  EXPECT_NE(csv.find(",'-1+2,"), std::string::npos);
  EXPECT_NE(csv.find(",'@SUM(A1),"), std::string::npos);
  EXPECT_NE(csv.find(",'\tTab,"), std::string::npos);
  EXPECT_EQ(csv.substr(0, 5), "time,");
}

TEST_F(Journal, TwoWritersNeverInterleaveAndAKilledOneLosesAtMostItsLastLine) {
  const pid_t a = Writer(300, std::string(200, 'A')), b = Writer(300, std::string(200, 'B'));
  int status = 0;
  ::waitpid(a, &status, 0);
  EXPECT_EQ(WEXITSTATUS(status), 0);
  ::waitpid(b, &status, 0);
  EXPECT_EQ(WEXITSTATUS(status), 0);
  JournalRead read = ReadJournal(path);
  EXPECT_EQ(read.records.size(), 600u);
  EXPECT_EQ(read.skipped, 0);

  const pid_t killed = Writer(-1, "kill -9");
  ::usleep(50 * 1000);
  ::kill(killed, SIGKILL);
  ::waitpid(killed, &status, 0);
  // A power cut mid-line, then one more program appends.
  std::ofstream(path, std::ios::app) << R"({"time":"2026-12-08T0)";
  ASSERT_FALSE(CJournal(path).Append(JournalRecord(Result("after"), {"h", "quorvik", ""})));
  read = ReadJournal(path);
  EXPECT_EQ(read.skipped, 1);
  EXPECT_GT(read.records.size(), 601u);
  EXPECT_EQ(TextOf(read.records.back(), "device"), "after");
}

TEST_F(Journal, AJournalThatCannotBeWrittenIsSaidNotCrashedOn) {
  fs::create_directories(path);  // a folder where the file should be
  const auto asFolder = CJournal(path).Append(JournalRecord(Result("x"), {"h", "quorvik", ""}));
  ASSERT_TRUE(asFolder);
  EXPECT_NE(asFolder->message.find(path), std::string::npos);
  EXPECT_TRUE(ReadJournal(path).problem);

  const std::string underFile = (dir / "file").string();
  std::ofstream(underFile) << "x";
  const auto blocked = CJournal(underFile + "/journal.jsonl").CheckWritable();
  ASSERT_TRUE(blocked);
  EXPECT_NE(blocked->message.find("folder"), std::string::npos);

  if (fs::exists("/dev/full")) {
    // A full disk: the line is not written, and that is said.
    const auto full = CJournal("/dev/full").Append({{"a", int64_t{1}}});
    EXPECT_TRUE(full);
  }

  // Where the journal is: the override first, then the option, then XDG.
  ::setenv("XDG_STATE_HOME", "/var/tmp/state", 1);
  ::unsetenv("QUORVIK_JOURNAL");
  EXPECT_EQ(JournalPath(), "/var/tmp/state/quorvik/journal.jsonl");
  EXPECT_EQ(JournalPath("/j.jsonl"), "/j.jsonl");
  ::setenv("QUORVIK_JOURNAL", "/forced.jsonl", 1);
  EXPECT_EQ(JournalPath("/j.jsonl"), "/forced.jsonl");
  ::unsetenv("QUORVIK_JOURNAL");
  ::unsetenv("XDG_STATE_HOME");
}

// Journals on disk spell control characters \u00xx, DEL included, and keep
// text UTF-8: a line written now is what earlier versions wrote. A line
// that is no flat object of integers and text is skipped, not guessed at.
TEST(JournalLine, IsWrittenAsBeforeAndReadOnlyWhenFlat) {
  const FlatRecord record = {{"device", std::string("\b\t\n\v\f\r\x7F\"\\/\xC3\xA9")},
                             {"bytes", int64_t{-7}},
                             {"verified", true},
                             {"crc", nullptr}};
  EXPECT_EQ(EncodeJsonObject(record),
            std::string(R"({"device":"\u0008\u0009\u000a\u000b\u000c\u000d\u007f\"\\/)") +
                "\xC3\xA9" + R"(","bytes":-7,"verified":true,"crc":null})");
  EXPECT_EQ(DecodeJsonObject(EncodeJsonObject(record)), record);
  // Another writer's Latin-1 still reads.
  const auto latin1 = DecodeJsonObject("{\"device\":\"Caf\xE9\"}");
  ASSERT_TRUE(latin1);
  EXPECT_EQ(TextOf(*latin1, "device"), "Caf\xC3\xA9");
  for (const char* none : {R"({"a":1.5})", R"({"a":[1]})", R"({"a":{}})", R"([{"a":1}])",
                           R"({"a":1)", R"({"a":9223372036854775808})", R"({"a":1} x)"})
    EXPECT_FALSE(DecodeJsonObject(none)) << none;
}

TEST(Sha256, KnownDigests) {
  const auto digest = [](const std::string& text) {
    return Sha256Hex(std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
  };
  EXPECT_EQ(digest(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(digest("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(digest("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
            "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
  EXPECT_EQ(digest(std::string(1000000, 'a')),
            "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

}  // namespace

namespace {

FlatRecord Line(const CommandResult& r, const char* outcome = nullptr) {
  const JournalContext context{"host", "quorvik-cli", "127.0.0.1"};
  return outcome ? JournalStartRecord(r, context) : JournalRecord(r, context);
}

std::vector<std::string> Outcomes(const std::vector<FlatRecord>& entries) {
  std::vector<std::string> outcomes;
  for (const FlatRecord& e : entries) outcomes.push_back(TextOf(e, "outcome"));
  return outcomes;
}

}  // namespace

TEST(JournalStart, CarriesTheEndsFieldsWithTheOutcomeStarted) {
  CommandResult r = Result("Matrix Wall");
  r.confirmed = Confirmation::kNone;
  const FlatRecord start = Line(r, "started");
  const FlatRecord end = Line(Result("Matrix Wall"));
  ASSERT_EQ(start.size(), end.size());
  for (size_t i = 0; i < start.size(); ++i) EXPECT_EQ(start[i].name, end[i].name);
  EXPECT_TRUE(IsStartLine(start));
  EXPECT_FALSE(IsStartLine(end));
  EXPECT_EQ(TextOf(start, "reason"), "Update started");
  EXPECT_EQ(TextOf(start, "file"), "/fw/a.bin");
  EXPECT_TRUE(EndsStart(start, end));
}

TEST(JournalHistory, AStartItsEndFollowsIsOneEntryAndOneNothingEndedIsUnfinished) {
  const CommandResult a = Result("A");
  CommandResult b = Result("B");
  b.device.identity[0] = 0x31;  // another device
  CommandResult other = a;
  other.update->path = "/fw/other.bin";
  CommandResult run = a;
  run.command = CommandKind::kRun;
  run.update.reset();
  // A ended; B started and never ended; A started, then its next line was
  // a run (not its end); A started with another file, and that ended.
  const std::vector<FlatRecord> lines = {
      Line(a, "started"), Line(b, "started"),     Line(a),    Line(a, "started"),
      Line(run),          Line(other, "started"), Line(other)};
  const std::vector<FlatRecord> entries = HistoryEntries(lines);
  EXPECT_EQ(Outcomes(entries),
            (std::vector<std::string>{"unfinished", "ok", "unfinished", "ok", "ok"}));
  EXPECT_EQ(TextOf(entries[0], "device"), "B");
  EXPECT_EQ(TextOf(entries[0], "reason"), "The update never ended");
  EXPECT_EQ(TextOf(entries[3], "command"), "run");
  // A start followed by another start of its device never ended either.
  EXPECT_EQ(Outcomes(HistoryEntries({Line(a, "started"), Line(a, "started"), Line(a)})),
            (std::vector<std::string>{"unfinished", "ok"}));
}

TEST(JournalHistory, ALoadersPaddedSerialIsTheSameDeviceAsItsApplications) {
  CommandResult app = Result("A");
  CommandResult loader = app;
  loader.device.identityLength = 16;  // padded with zeros by its loader
  EXPECT_EQ(JournalDeviceKey(Line(app)), JournalDeviceKey(Line(loader)));
  EXPECT_EQ(JournalDeviceKey(Line(app)), RecordDeviceKey(app.device));
  CommandResult noSerial = app;
  noSerial.device.identityLength = 0;
  noSerial.device.identity = {};
  EXPECT_EQ(JournalDeviceKey(Line(noSerial)), "mac:02-51-00-00-00-01");
}
