// The parts of quorvik-cli that decide without a network: which row a
// command line names and what reaches stdout.

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <sstream>

#include "base/text.h"
#include "net/frames.h"
#include "net/reply_processing.h"
#include "tests/support/firmware_file_builder.h"
#include "tests/support/scratch_directory.h"
#include "tools/cli/cli_commands.h"
#include "tools/cli/cli_observer.h"
#include "tools/cli/cli_session.h"
#include "tools/cli/device_selection.h"
#include "tools/cli/event_output.h"
#include "tools/cli/firmware_inspect.h"

using namespace quorvik;

namespace fs = std::filesystem;

namespace {

DeviceRecord Record(uint16_t loaderType, std::vector<uint8_t> identity,
                    std::array<uint8_t, 6> mac) {
  DeviceRecord r;
  r.loaderType = loaderType;
  r.version = 0x0100;
  r.mac = mac;
  r.identityLength = static_cast<uint8_t>(identity.size());
  std::copy(identity.begin(), identity.end(), r.identity.begin());
  return r;
}

const std::vector<uint8_t> kEleven = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};

DeviceSelector BySerial(const std::string& hex) {
  DeviceSelector s;
  s.kind = DeviceSelector::Kind::kSerial;
  s.serial = *ParseSerial(hex);
  return s;
}

TEST(DeviceSelection, SerialAndMacTextIsReadAsListPrintsIt) {
  EXPECT_EQ(ParseSerial("0a0B"), (std::vector<uint8_t>{0x0A, 0x0B}));
  EXPECT_FALSE(ParseSerial(""));
  EXPECT_FALSE(ParseSerial("abc"));  // half a byte
  EXPECT_FALSE(ParseSerial("zz"));
  EXPECT_FALSE(ParseSerial(std::string(34, '1')));  // 17 bytes
  const std::array<uint8_t, 6> mac = {0x00, 0x0A, 0x95, 0x9D, 0x68, 0x16};
  EXPECT_EQ(ParseMac("00-0A-95-9D-68-16"), mac);
  EXPECT_EQ(ParseMac("00:0a:95:9d:68:16"), mac);
  EXPECT_EQ(ParseMac("000a959d6816"), mac);
  EXPECT_FALSE(ParseMac("00-0A:95-9D-68-16"));  // mixed separators
  EXPECT_FALSE(ParseMac("00-0A-95-9D-68"));
  EXPECT_FALSE(ParseMac("Not assigned"));
}

TEST(DeviceSelection, ASerialNamesTheDeviceInEitherModeButNeverItsUnits) {
  // A generation 2 loader pads the same identity to 16 bytes.
  std::vector<uint8_t> padded = kEleven;
  padded.resize(16, 0);
  DeviceRecord unit = Record(0x0381, {}, {});
  unit.slaveNumber = 1;
  unit.unitOf = 1;
  const std::vector<DeviceRecord> records = {Record(0, {9, 9}, {0, 0x0A, 0x95, 0, 0, 9}),
                                             Record(512, padded, kPlaceholderMac), unit};
  EXPECT_EQ(MatchingRows(records, BySerial("0102030405060708090A0B")), std::vector<int>{1});
  EXPECT_EQ(MatchingRows(records, BySerial("0102030405060708090a0b00000000")), std::vector<int>{1});
  EXPECT_TRUE(MatchingRows(records, BySerial("0102")).empty());  // a prefix is another serial
  EXPECT_TRUE(MatchingRows(records, BySerial("00")).empty());
  EXPECT_EQ(PhysicalDeviceKey(Record(0, kEleven, {1, 2, 3, 4, 5, 6})),
            PhysicalDeviceKey(records[1]));
}

TEST(DeviceSelection, MacsAndRowsCanBeAmbiguousOrMissing) {
  const std::vector<DeviceRecord> records = {Record(512, {1}, kPlaceholderMac),
                                             Record(512, {2}, kPlaceholderMac),
                                             Record(0, {3}, {0, 0x0A, 0x95, 0, 0, 3})};
  DeviceSelector byMac;
  byMac.kind = DeviceSelector::Kind::kMac;
  byMac.mac = kPlaceholderMac;
  EXPECT_EQ(MatchingRows(records, byMac), (std::vector<int>{0, 1}));
  byMac.mac = {0, 0x0A, 0x95, 0, 0, 3};
  EXPECT_EQ(MatchingRows(records, byMac), std::vector<int>{2});
  DeviceSelector byRow;
  byRow.row = 2;
  EXPECT_EQ(MatchingRows(records, byRow), std::vector<int>{2});
  byRow.row = 3;
  EXPECT_TRUE(MatchingRows(records, byRow).empty());
  // Devices without identity bytes are told apart by their address.
  EXPECT_NE(PhysicalDeviceKey(Record(0, {}, {1, 1, 1, 1, 1, 1})),
            PhysicalDeviceKey(Record(0, {}, {2, 2, 2, 2, 2, 2})));
}

TEST(InterfaceChoice, RequestedThenStoredThenFirst) {
  InterfaceList list;
  list.count = 2;
  list.addresses[0] = {192, 168, 1, 5};
  list.addresses[1] = {127, 0, 0, 1};
  EXPECT_EQ(ChooseInterfaceIndex(list, "", ""), 0);
  EXPECT_EQ(ChooseInterfaceIndex(list, "127.0.0.1", ""), 1);
  EXPECT_EQ(ChooseInterfaceIndex(list, "10.0.0.9", ""), 0);  // stale, as the window treats it
  EXPECT_EQ(ChooseInterfaceIndex(list, "127.0.0.1", "192.168.1.5"), 0);
  EXPECT_EQ(ChooseInterfaceIndex(list, "", "10.0.0.9"), std::nullopt);
  EXPECT_EQ(ChooseInterfaceIndex(InterfaceList{}, "", ""), std::nullopt);
}

std::vector<nlohmann::json> JsonLines(const std::string& text) {
  std::vector<nlohmann::json> events;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) events.push_back(nlohmann::json::parse(line));
  return events;
}

TEST(EventOutput, DeviceBytesBecomeValidTextInJsonAndHarmlessTextOnATerminal) {
  EXPECT_EQ(ToUtf8("Caf\xE9"), "Caf\xC3\xA9");                    // Latin-1, as the window shows it
  EXPECT_EQ(ToUtf8("Caf\xC3\xA9"), "Caf\xC3\xA9");                // already UTF-8
  EXPECT_EQ(ToUtf8("\xED\xA0\x80"), "\xC3\xAD\xC2\xA0\xC2\x80");  // a surrogate is no UTF-8
  const std::pair<std::string, std::string> shown[] = {
      {"Node\x1B[31m\r\n", "Node?[31m??"},
      {"a\xC2\x9B"
       "b",
       "a?b"},  // C1 CSI
      // Right-to-left override, and the first and last of both ranges.
      {"Matrix\xE2\x80\xAEok", "Matrix?ok"},
      {"\xE2\x80\xAA\xE2\x81\xA6x\xE2\x81\xA9", "??x?"},
      // Their neighbours are ordinary text: U+2029, U+202F, U+2065, U+206A.
      {"\xE2\x80\xA9\xE2\x80\xAF\xE2\x81\xA5\xE2\x81\xAA",
       "\xE2\x80\xA9\xE2\x80\xAF\xE2\x81\xA5\xE2\x81\xAA"},
      {"Caf\xC3\xA9 \xE2\x80\x94 B\xC3\xBChne", "Caf\xC3\xA9 \xE2\x80\x94 B\xC3\xBChne"},
  };
  for (const auto& [bytes, text] : shown) EXPECT_EQ(Printable(bytes), text) << bytes;

  std::ostringstream out, err;
  CEventWriter writer(OutputFormat::kJson, out, err, false);
  writer.Status("Set >Caf\xE9\x07< to Factory Defaults.", true);
  const auto events = JsonLines(out.str());
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0]["event"], "status");
  EXPECT_EQ(events[0]["text"], "Set >Caf\xC3\xA9\x07< to Factory Defaults.");
  EXPECT_EQ(events[0]["beep"], true);
  EXPECT_TRUE(err.str().empty());
}

TEST(EventOutput, QuotesInsideAQuotedValueAreEscapedSoThatTheResultLineParses) {
  CommandResult r;
  r.command = CommandKind::kReset;
  r.outcome = Outcome::kRefused;
  r.deviceName = "He said \"hi\", ok";
  r.reason = "C:\\fw\\";
  const std::string line = DeviceResultText(r);
  EXPECT_EQ(line.substr(0, line.find(" serial=")),
            R"(Result: refused reset device="He said \"hi\", ok")");
  EXPECT_EQ(line.substr(line.find(" reason=")), R"( reason="C:\\fw\\")");
}

TEST(EventOutput, ProgressWithoutATerminalIsOneEventPerTenth) {
  std::ostringstream out, err;
  CEventWriter writer(OutputFormat::kJson, out, err, false);
  // A 256 KiB write in 512-byte blocks.
  writer.ProgressRange(0, 512);
  writer.ProgressStep(1);
  writer.ProgressPos(0);
  for (int i = 0; i < 512; ++i) writer.ProgressAdvance();
  const auto events = JsonLines(out.str());
  ASSERT_EQ(events.size(), 10u);
  EXPECT_EQ(events.front()["percent"], 10);
  EXPECT_EQ(events.back()["percent"], 100);
  EXPECT_EQ(events.back()["pos"], 512);

  // A section shorter than a block: an empty range, one step, complete.
  std::ostringstream text, textErr;
  CEventWriter plain(OutputFormat::kText, text, textErr, false);
  plain.ProgressRange(0, 0);
  plain.ProgressAdvance();
  plain.ProgressAdvance();
  EXPECT_EQ(textErr.str(), "progress 100%\n");
  EXPECT_TRUE(text.str().empty());
}

TEST(EventOutput, ABarOnATerminalMakesWayForLogLines) {
  std::ostringstream out, err;
  CEventWriter writer(OutputFormat::kText, out, err, true);
  writer.ProgressRange(0, 4);
  writer.ProgressAdvance();
  EXPECT_NE(err.str().find("] 25%"), std::string::npos);
  err.str("");
  writer.Status("Start firmware update...", true);
  EXPECT_EQ(out.str(), "Start firmware update...\n");
  // Erased before the line, drawn again after it.
  EXPECT_EQ(err.str().rfind("\r\033[K", 0), 0u);
  EXPECT_NE(err.str().find("] 25%"), std::string::npos);
}

TEST(EventOutput, TheTableLinesUpUnderItsHeadings) {
  const std::string table = DeviceTableText(
      {{0, "Matrix Wall", "1.02", "2122232425262728292A2B", "00-0A-95-00-00-21", false},
       {1, "Caf\xE9", "", "A1A2", "", true}});
  std::istringstream in(table);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  ASSERT_EQ(lines.size(), 3u);
  const size_t serialColumn = lines[0].find("Serial");
  EXPECT_EQ(lines[1].find("2122232425262728292A2B"), serialColumn);
  // The é takes two bytes and one column.
  EXPECT_EQ(lines[2].find("A1A2"), serialColumn + 1);
  EXPECT_EQ(lines[2].substr(lines[2].size() - 4), "boot");
}

TEST(CliObserver, ALogLineCarriesItsToneAndNothingIsLeftUnprinted) {
  std::ostringstream out, err;
  CEventWriter writer(OutputFormat::kJson, out, err, false);
  std::istringstream noAnswers;
  DeviceSession devices;
  const CInterrupts none;
  CCliObserver observer(writer, devices, noAnswers, 0, none);
  const auto seen = [&] {
    std::vector<std::pair<std::string, bool>> lines;
    for (const auto& e : JsonLines(out.str())) lines.emplace_back(e["text"], e["beep"]);
    return lines;
  };
  observer.Status("Set device to firmware update ...", Beep::kAlert);
  observer.Status("1 Interfaces found", Beep::kNone);
  observer.Status("RUN application.", Beep::kNone);
  EXPECT_EQ(seen().size(), 2u);  // the newest waits for the next step
  observer.Flush();
  EXPECT_EQ(seen(),
            (std::vector<std::pair<std::string, bool>>{{"Set device to firmware update ...", true},
                                                       {"1 Interfaces found", false},
                                                       {"RUN application.", false}}));
}

TEST(CliObserver, AnswersTheListHadNoRoomForAreAFieldAndAWarning) {
  DeviceSession devices;
  devices.droppedCount = 3;
  std::ostringstream out, err;
  CEventWriter writer(OutputFormat::kJson, out, err, false);
  std::istringstream noAnswers;
  const CInterrupts none;
  CCliObserver observer(writer, devices, noAnswers, 0, none);
  observer.SearchEnded();
  const auto events = JsonLines(out.str());
  ASSERT_EQ(events.size(), 3u);
  EXPECT_EQ(events[0]["event"], "devices");
  EXPECT_EQ(events[0]["dropped"], 3);
  EXPECT_EQ(events[1]["event"], "warning");
  EXPECT_NE(err.str().find("3 answer(s) came from devices the list has no room for"),
            std::string::npos);
  EXPECT_EQ(events[2]["text"], "0 Interfaces found");  // the count line after the list
}

// What a signal asks of the run, asked by hand.
class CAskedInterrupts : public CInterrupts {
 public:
  void Interrupt() { m_interrupted = true; }
};

TEST(CliClock, TheRunsInterruptEndsTheCommandsWaitsAtOnce) {
  CAskedInterrupts interrupts;
  std::ostringstream out, err;
  CEventWriter writer(OutputFormat::kJson, out, err, false);
  std::istringstream noAnswers;
  DeviceSession devices;
  CCliObserver observer(writer, devices, noAnswers, 1.0, interrupts);
  CCliClock stationClock(1.0, interrupts);
  interrupts.Interrupt();
  for (IClock* clock : {&observer.clock(), static_cast<IClock*>(&stationClock)}) {
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(clock->Interrupted());
    EXPECT_THROW(clock->SleepFor(std::chrono::seconds(6)), CCommandCancelled);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
  }
}

// A fleet or station run that lost its journal ends with exit 2 whatever
// its devices did, unless a signal ended it; the event says so.
TEST(CliSession, ARunThatLostItsJournalEndsAsIncomplete) {
  const struct {
    Outcome outcome;
    bool journalLost;
    int exit;
  } kCases[] = {{Outcome::kOk, false, 0},
                {Outcome::kFailed, false, 1},
                {Outcome::kOk, true, 2},
                {Outcome::kFailed, true, 2},
                {Outcome::kNoDevice, true, 2},
                {Outcome::kInterrupted, true, 130},
                {Outcome::kInterrupted, false, 130}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(OutcomeName(c.outcome) + std::string(c.journalLost ? " lost" : ""));
    std::ostringstream out, err;
    CEventWriter writer(OutputFormat::kJson, out, err, false);
    const CInterrupts none;
    const CliOptions options;
    CCliSession session(options, "station", writer, none);
    if (c.journalLost) session.SetJournalFailed();
    EXPECT_EQ(session.EndOfRun(c.outcome), c.exit);
    const auto events = JsonLines(out.str());
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0]["exit"], c.exit);
    EXPECT_EQ(events[0]["outcome"], OutcomeName(c.outcome));
    EXPECT_EQ(events[0].contains("journal"), c.journalLost);
  }
}

TEST(CliObserver, TheQuestionIsAnsweredFromTheCommandLineOrStdin) {
  std::ostringstream out, err;
  CEventWriter writer(OutputFormat::kJson, out, err, false);
  std::istringstream answers("yes\nn\n");
  DeviceSession devices;
  const CInterrupts none;
  CCliObserver observer(writer, devices, answers, 0, none);
  EXPECT_TRUE(observer.AskYesNo("Reset?"));
  EXPECT_FALSE(observer.AskYesNo("Reset?"));
  EXPECT_FALSE(observer.AskYesNo("Reset?"));  // end of input
  observer.SetAssumeYes(true);
  EXPECT_TRUE(observer.AskYesNo("Reset?"));
  const auto events = JsonLines(out.str());
  ASSERT_EQ(events.size(), 4u);
  EXPECT_EQ(events[1]["answer"], false);
}

class InspectFile : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/quorvik-inspect-XXXXXX";
    dir = ::mkdtemp(pattern);
  }
  void TearDown() override { fs::remove_all(dir); }
  std::string Write(const std::vector<uint8_t>& bytes) {
    const std::string path = (dir / "fw.bin").string();
    WriteFile(path, bytes);
    return path;
  }
  fs::path dir;
};

TEST_F(InspectFile, ListsEverySectionWithTheChecksumOfItsData) {
  const auto a = PatternBytes(20), b = PatternBytes(1300, 7);
  const auto report = InspectFirmwareFile(Write(FirmwareFileBytes(
      2, {{33, 0x0001, 0, 0, a}, {33, 0x3680, 0x12, 0x80, b}, {34, 0x3680, 0, 0, {}}})));
  ASSERT_EQ(report.sections.size(), 3u);
  EXPECT_EQ(report.formatVersion, 2);
  EXPECT_FALSE(report.defect);
  EXPECT_EQ(report.sections[1].section, (FirmwareSection{1, 33, 0x3680, 0x1180, 1300}));
  EXPECT_EQ(report.sections[0].crc, ComputeImageCrc(a));
  EXPECT_EQ(report.sections[1].crc, ComputeImageCrc(b));
  EXPECT_EQ(report.sections[2].section.dataLength, 0u);
}

TEST_F(InspectFile, ReportsWhatTheWindowWouldRefuseForEveryDevice) {
  auto truncated = FirmwareFileBytes(
      2, {{33, 0x0001, 0, 0, PatternBytes(20)}, {33, 0x3680, 0, 0, PatternBytes(100)}});
  truncated.resize(truncated.size() - 1);
  auto report = InspectFirmwareFile(Write(truncated));
  EXPECT_EQ(report.sections.size(), 1u);
  EXPECT_EQ(report.declaredSections, 2u);
  EXPECT_EQ(report.defect, FirmwareVerdict::kUnreadable);

  EXPECT_EQ(InspectFirmwareFile(Write({2, 0})).defect, FirmwareVerdict::kNoSections);
  EXPECT_EQ(InspectFirmwareFile((dir / "missing.bin").string()).defect,
            FirmwareVerdict::kUnreadable);
  std::vector<uint8_t> huge = {1, 0x36, 0x80, 0, 0, 0, 0, 0, 0, 0, 0x04, 0x00, 0x01};
  EXPECT_EQ(InspectFirmwareFile(Write(huge)).defect, FirmwareVerdict::kSectionTooLarge);
  EXPECT_STREQ(FirmwareVerdictLine(FirmwareVerdict::kSectionTooLarge),
               "Firmware section too large! (ERROR SIZE)");
}

}  // namespace
