// The Firmware-Update command on a recording window, a played network and
// virtual time: stages, waits, messages and what reaches the device.

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "app/quorvik_dlg.h"
#include "commands/sha256.h"
#include "net/frames.h"
#include "net/reply_processing.h"
#include "tests/support/datagram_builder.h"
#include "tests/support/dlg_harness.h"
#include "tests/support/fake_main_view.h"
#include "tests/support/firmware_file_builder.h"
#include "tests/support/scratch_directory.h"

using namespace quorvik;

namespace fs = std::filesystem;
using std::chrono::milliseconds;

namespace {

std::vector<uint8_t> ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

using Lines = std::vector<std::pair<std::string, bool>>;  // text, beeped

const std::vector<uint8_t> kMac = {0x00, 0x0A, 0x95, 0x00, 0x00, 0x07};

class FirmwareUpdate : public ::testing::Test, public CDlgHarness {
 public:
  void SetUp() override {
    network.addresses = {{127, 0, 0, 1}};
    network.onSearch = [this](bool boot) { Answer(boot); };
    network.onEnterBootloader = [this](const DeviceRecord&) {
      if (returnsFromRestart) inBootloader = true;
    };
    network.onRun = [this](const DeviceRecord&) { inBootloader = false; };
  }

  // One device of the chosen generation, in application mode until told to
  // enter its bootloader.
  void Answer(bool boot) {
    const auto id = IdentityBytes(0x30, 11);
    // Listed first, so that row 0 is not the device being updated.
    if (otherDevice && !boot)
      ProcessDatagram(network.devices, kAppPort,
                      AppAnswer(0x0100, kOtherMac, "Other", IdentityBytes(0x60, 11)).Span());
    if (silentAfterRun) return;
    if (boot && inBootloader) {
      if (typeWord >= 0x300)
        ProcessDatagram(
            network.devices, kBootPortA,
            Gen3Answer(typeWord, 0x0100, kDeviceType, kMcu, blockSize, kMac, 1, id).Span());
      else
        ProcessDatagram(network.devices, kBootPortA,
                        Gen1Answer(typeWord, 0x0100, kDeviceType, blockSize, kMac, id).Span());
    } else if (!boot && !inBootloader) {
      ProcessDatagram(network.devices, kAppPort, AppAnswer(0x0100, kMac, "Pixel Node", id).Span());
    }
  }

  std::string FirmwareFile(uint32_t length, int sections = 1) {
    std::vector<TestSection> list;
    for (int i = 1; i < sections; ++i) list.push_back({kMcu, 0x0001, 0, 0, PatternBytes(10)});
    list.push_back({kMcu, kDeviceType, 0x01, 0x05, PatternBytes(length)});
    const std::string path = (dir / "dimmer firmware %s.bin").string();
    WriteFile(path, FirmwareFileBytes(2, list));
    return path;
  }

  void StartAndChoose(const std::string& path) {
    dlg.SetResultSink(&results);
    dlg.OnInitDialog();
    view.chosenFile = path;
    view.events.clear();
    clock.elapsed = milliseconds(0);
  }

  Lines StatusLines() const {
    Lines out;
    for (const auto& e : view.events) {
      if (e.rfind("log ", 0) == 0) out.emplace_back(e.substr(4), false);
      if (e.rfind("tone ", 0) == 0 && !out.empty()) out.back().second = true;
    }
    return out;
  }

  static constexpr uint16_t kDeviceType = 0x3680;
  static constexpr uint16_t kMcu = 0x0021;
  uint16_t typeWord = 0x0381;  // generation 3, verifies
  uint16_t blockSize = 256;
  bool inBootloader = false;
  bool returnsFromRestart = true;
  bool otherDevice = false;
  bool silentAfterRun = false;
  CRecordedResults results;
  const std::vector<uint8_t> kOtherMac = {0x00, 0x0A, 0x95, 0x00, 0x00, 0x99};

  const fs::path& dir = clean.scratch.path();
};

TEST_F(FirmwareUpdate, WithoutASelectedRowNothingHappensButTheAlert) {
  StartAndChoose(FirmwareFile(100));
  view.selectedRow = -1;
  dlg.OnFirmwareUpdate();
  EXPECT_EQ(StatusLines(), (Lines{{"Wrong interface selection !", true}}));
  EXPECT_TRUE(view.EventsStartingWith("file dialog").empty());
  EXPECT_TRUE(network.writes.empty());
}

TEST_F(FirmwareUpdate, ARunningDeviceIsRestartedFoundAgainWrittenVerifiedAndStarted) {
  const std::string path = FirmwareFile(1000, 2);
  StartAndChoose(path);
  view.ctrlHeld = true;
  dlg.OnFirmwareUpdate();

  EXPECT_EQ(view.lastFileRequest.proposedPath, dlg.workDir() + "/firmware.bin");
  EXPECT_EQ(view.lastFileRequest.defaultExtension, ".bin");
  EXPECT_EQ(view.lastFileRequest.filterName, "Firmware File (*.bin)");
  EXPECT_EQ(view.lastFileRequest.filterPattern, "*.bin");

  const Lines lines = StatusLines();
  const Lines expectedStart = {{"Set device to firmware update ...", true},
                               {"Get firmware update parameter...", true},
                               {"1 Interfaces found", false},
                               {"Start firmware update...", true},
                               {"Write and verify data complete. (" + path + " at index 1)", false},
                               {"RUN application.", false},
                               {"1 Interfaces found", false}};
  EXPECT_EQ(lines, expectedStart);
  // The box comes before the completion line, and only with Ctrl held.
  const auto box =
      std::find(view.events.begin(), view.events.end(), "message Firmware verification OK");
  const auto done =
      std::find(view.events.begin(), view.events.end(), "log " + expectedStart[4].first);
  ASSERT_NE(box, view.events.end());
  EXPECT_LT(box, done);

  ASSERT_EQ(network.writes.size(), 4u);
  for (size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(network.writes[i].offset, i * 256);
    EXPECT_EQ(network.writes[i].sectionLength, 1000u);
    EXPECT_EQ(network.writes[i].sectionParam, 0x0105);
    EXPECT_EQ(network.writes[i].tries, 500);
    EXPECT_EQ(network.writes[i].block.size(), 256u);
    EXPECT_EQ(network.writes[i].device.loaderType, 0x0300);
  }
  std::vector<uint8_t> expected = PatternBytes(1000);
  expected.resize(1024, 0xFF);
  EXPECT_EQ(network.WrittenImage(), expected);
  EXPECT_EQ(view.EventsStartingWith("progress range"),
            (std::vector<std::string>{"progress range 0..100", "progress range 0..3",
                                      "progress range 0..100"}));
  // 6 s restart, 2 s Find, 0.1 s after run, 3 s wait, 2 s Find, three beeps.
  EXPECT_EQ(clock.elapsed, milliseconds(6000 + 2000 + 100 + 3000 + 2000 + 300));
  EXPECT_TRUE(dlg.useLastFile());
  EXPECT_TRUE(view.checks[CheckBox::kUseLastFile]);
  EXPECT_FALSE(view.waitCursor);
}

TEST_F(FirmwareUpdate, ABootloaderIsWrittenAtOnceAndTheFileIsReusedWithoutDialog) {
  typeWord = 1;  // generation 1: no verification
  inBootloader = true;
  const std::string path = FirmwareFile(512);
  StartAndChoose(path);
  dlg.OnFirmwareUpdate();
  EXPECT_EQ(StatusLines(), (Lines{{"Write data complete. (" + path + " at index 0)", false},
                                  {"RUN application.", false},
                                  {"1 Interfaces found", false}}));
  EXPECT_TRUE(view.EventsStartingWith("message").empty());  // Ctrl not held
  EXPECT_EQ(network.writes.size(), 2u);

  // "Use last file again" is now set: the next run asks no file.
  inBootloader = true;
  view.ctrlHeld = true;
  dlg.FindDevices();
  view.events.clear();
  dlg.OnFirmwareUpdate();
  EXPECT_TRUE(view.EventsStartingWith("file dialog").empty());
  EXPECT_EQ(view.EventsStartingWith("message"),
            (std::vector<std::string>{"message NO firmware verification available!"}));
  EXPECT_EQ(network.writes.size(), 4u);
}

TEST_F(FirmwareUpdate, ADeviceThatNeverReturnsSaysSoAfterTheThirdStageLine) {
  returnsFromRestart = false;
  StartAndChoose(FirmwareFile(100));
  dlg.OnFirmwareUpdate();
  const Lines lines = StatusLines();
  ASSERT_GE(lines.size(), 5u);
  EXPECT_EQ(lines[3], (Lines::value_type{"Start firmware update...", true}));
  EXPECT_EQ(lines[4], (Lines::value_type{"Device not found again after restart!", true}));
  EXPECT_TRUE(network.writes.empty());
  EXPECT_EQ(std::count(network.calls.begin(), network.calls.end(), "run"), 0);
}

TEST_F(FirmwareUpdate, AMissedAcknowledgementReportsTheLastStatusAndStopsWriting) {
  inBootloader = true;
  StartAndChoose(FirmwareFile(1000));
  network.replyStatus = 0x0102;  // left over from an earlier exchange
  network.onWrite = [](const WriteCall& w) { return w.offset < 512; };
  dlg.OnFirmwareUpdate();
  EXPECT_EQ(StatusLines().front(), (Lines::value_type{"Timeout on write data! [0102]", true}));
  EXPECT_EQ(network.writes.size(), 3u);
  EXPECT_EQ(std::count(network.calls.begin(), network.calls.end(), "verify"), 0);
  EXPECT_EQ(std::count(network.calls.begin(), network.calls.end(), "run"), 0);
  EXPECT_FALSE(dlg.useLastFile());
}

TEST_F(FirmwareUpdate, AWrongChecksumOrStatusOrNoAnswerFailsVerification) {
  inBootloader = true;
  StartAndChoose(FirmwareFile(300));
  const std::vector<std::function<bool(uint16_t&, uint16_t&)>> answers = {
      [this](uint16_t& v, uint16_t& s) {
        v = static_cast<uint16_t>(ComputeImageCrc(network.WrittenImage()) ^ 1);
        s = 0;
        return true;
      },
      [this](uint16_t& v, uint16_t& s) {
        v = ComputeImageCrc(network.WrittenImage());
        s = 3;
        return true;
      },
      [](uint16_t&, uint16_t&) { return false; }};
  for (const auto& answer : answers) {
    network.onVerify = answer;
    view.events.clear();
    view.checks[CheckBox::kUseLastFile] = true;
    inBootloader = true;
    dlg.FindDevices();
    view.events.clear();
    dlg.OnFirmwareUpdate();
    EXPECT_EQ(StatusLines().front(), (Lines::value_type{"Firmware verification failed!", true}));
    EXPECT_EQ(std::count(network.calls.begin(), network.calls.end(), "run"), 0);
  }
}

TEST_F(FirmwareUpdate, ChainedUpdatesRunInALoopUntilTheOperatorUnticksTheBox) {
  StartAndChoose(FirmwareFile(256));
  view.checks[CheckBox::kAndMakeUpdate] = true;
  int runs = 0;
  network.onRun = [&](const DeviceRecord&) {
    inBootloader = false;
    if (++runs == 3) view.checks[CheckBox::kAndMakeUpdate] = false;
  };
  dlg.OnFirmwareUpdate();
  EXPECT_EQ(runs, 3);
  EXPECT_EQ(std::count(view.events.begin(), view.events.end(),
                       "file dialog " + dlg.workDir() + "/firmware.bin"),
            1);
  EXPECT_FALSE(dlg.andMakeUpdate());
  EXPECT_FALSE(view.checks[CheckBox::kAndMakeUpdate]);  // the operator's choice stands
}

TEST_F(FirmwareUpdate, BrokenFilesAndBlockSizesSendNothing) {
  inBootloader = true;
  typeWord = 1;
  StartAndChoose((dir / "missing.bin").string());
  dlg.OnFirmwareUpdate();
  EXPECT_EQ(StatusLines().front(),
            (Lines::value_type{"Firmware file not readable! (ERROR FILE)", true}));
  EXPECT_EQ(dlg.lastFirmwarePath(), "");

  // Another device type: the file is forgotten.
  const std::string other = (dir / "other.bin").string();
  WriteFile(other, FirmwareFileBytes(1, {{0, 0x0001, 0, 0, PatternBytes(10)}}));
  view.chosenFile = other;
  view.events.clear();
  dlg.OnFirmwareUpdate();
  EXPECT_EQ(StatusLines().front(),
            (Lines::value_type{"Wrong firmware file selected! (ERROR DEVICE)", true}));
  EXPECT_EQ(dlg.lastFirmwarePath(), "");

  // A block size that the frame cannot carry: the path is kept.
  blockSize = 514;
  dlg.FindDevices();
  view.chosenFile = FirmwareFile(100);
  view.events.clear();
  dlg.OnFirmwareUpdate();
  EXPECT_EQ(StatusLines().front(),
            (Lines::value_type{"Block size not supported! (ERROR BLOCK)", true}));
  EXPECT_EQ(dlg.lastFirmwarePath(), *view.chosenFile);
  blockSize = 0;
  dlg.FindDevices();
  view.events.clear();
  dlg.OnFirmwareUpdate();
  EXPECT_EQ(StatusLines().front(),
            (Lines::value_type{"Block size not supported! (ERROR BLOCK)", true}));
  EXPECT_TRUE(network.writes.empty());
  EXPECT_FALSE(view.waitCursor);
}

TEST_F(FirmwareUpdate, TheLastBlockPastTheBufferIsPaddedNotReadBeyondIt) {
  inBootloader = true;
  typeWord = 0x0381;
  blockSize = 500;  // does not divide 262,144
  StartAndChoose(FirmwareFile(static_cast<uint32_t>(kFirmwareImageSize)));
  dlg.OnFirmwareUpdate();
  ASSERT_EQ(network.writes.size(), 525u);
  const WriteCall& last = network.writes.back();
  EXPECT_EQ(last.offset, 524u * 500);
  ASSERT_EQ(last.block.size(), 500u);
  EXPECT_EQ(last.block[143], PatternBytes(kFirmwareImageSize)[kFirmwareImageSize - 1]);
  EXPECT_TRUE(
      std::all_of(last.block.begin() + 144, last.block.end(), [](uint8_t b) { return b == 0xFF; }));
  // Verification covered the padding too and passed.
  EXPECT_EQ(std::count(network.calls.begin(), network.calls.end(), "run"), 1);
}

struct OutcomeCase {
  const char* name;
  std::function<void(FirmwareUpdate&)> arrange;
  Outcome outcome;
  std::string reason;  // "" for the RUN line
  Confirmation confirmed;
  uint32_t blocks;
  bool restarted, runSent;
};

// Every way an update ends is handed out as a value, beside the line the
// window logs: what was sent, how far the write got, what the search after
// it saw. A device this command restarted is never left in its loader
// unless the write itself failed.
TEST_F(FirmwareUpdate, EveryOutcomeIsHandedOutAsAValue) {
  const OutcomeCase cases[] = {
      {"running", [](FirmwareUpdate&) {}, Outcome::kOk, "", Confirmation::kRunning, 4, true, true},
      {"image did not start",
       [](FirmwareUpdate& t) { t.network.onRun = [](const DeviceRecord&) {}; }, Outcome::kFailed,
       kStillInLoaderReason, Confirmation::kInLoader, 4, true, true},
      {"silent",
       [](FirmwareUpdate& t) {
         t.network.onRun = [&t](const DeviceRecord&) { t.silentAfterRun = true; };
       },
       Outcome::kOk, "", Confirmation::kSilent, 4, true, true},
      {"file for another device",
       [](FirmwareUpdate& t) {
         const std::string other = (t.dir / "other.bin").string();
         WriteFile(other, FirmwareFileBytes(2, {{kMcu, 0x0001, 0, 0, PatternBytes(10)}}));
         t.view.chosenFile = other;
       },
       Outcome::kRefused, "Wrong firmware file selected! (ERROR DEVICE)", Confirmation::kNone, 0,
       true, true},
      {"broken file",
       [](FirmwareUpdate& t) {
         auto bytes = FirmwareFileBytes(2, {{kMcu, kDeviceType, 0, 0, PatternBytes(100)}});
         bytes.pop_back();
         WriteFile(*t.view.chosenFile, bytes);
       },
       Outcome::kRefused, "Firmware file not readable! (ERROR FILE)", Confirmation::kNone, 0, false,
       false},
      {"lost", [](FirmwareUpdate& t) { t.returnsFromRestart = false; }, Outcome::kFailed,
       "Device not found again after restart!", Confirmation::kNone, 0, true, false},
      {"time-out",
       [](FirmwareUpdate& t) {
         t.network.onWrite = [](const WriteCall& w) { return w.offset < 512; };
       },
       Outcome::kFailed, "Timeout on write data! [0000]", Confirmation::kNone, 2, true, false},
      {"interrupted",
       [](FirmwareUpdate& t) {
         t.network.onWrite = [&t](const WriteCall& w) {
           t.clock.interrupted = w.offset >= 512;
           return !t.clock.interrupted;
         };
       },
       Outcome::kInterrupted,
       "Interrupted after 2 block(s) acknowledged and 1 block sent without an answer; the device "
       "may be left in its "
       "bootloader",
       Confirmation::kNone, 2, true, false},
  };
  for (const OutcomeCase& c : cases) {
    SCOPED_TRACE(c.name);
    inBootloader = silentAfterRun = false;
    returnsFromRestart = true;
    clock.interrupted = false;
    network.Reset();
    network.addresses = {{127, 0, 0, 1}};
    network.onSearch = [this](bool boot) { Answer(boot); };
    network.onEnterBootloader = [this](const DeviceRecord&) {
      if (returnsFromRestart) inBootloader = true;
    };
    network.onRun = [this](const DeviceRecord&) { inBootloader = false; };
    results.results.clear();
    const std::string path = FirmwareFile(1000);
    StartAndChoose(path);
    c.arrange(*this);
    try {
      dlg.OnFirmwareUpdate();
    } catch (const CCommandCancelled&) {
      EXPECT_EQ(c.outcome, Outcome::kInterrupted);
    }
    ASSERT_EQ(results.results.size(), 1u);
    const CommandResult& r = results.last();
    EXPECT_EQ(r.outcome, c.outcome);
    EXPECT_EQ(r.reason, c.reason.empty() ? "RUN application." : c.reason);
    EXPECT_EQ(r.confirmed, c.confirmed);
    EXPECT_EQ(r.deviceName, "Pixel Node");
    ASSERT_TRUE(r.update);
    EXPECT_EQ(r.update->blocks, c.blocks);
    EXPECT_EQ(r.frameSent, c.restarted);
    EXPECT_EQ(r.runRequestSent, c.runSent);
    EXPECT_EQ(std::count(network.calls.begin(), network.calls.end(), "enter bootloader"),
              c.restarted ? 1 : 0);
    EXPECT_EQ(std::count(network.calls.begin(), network.calls.end(), "run"), c.runSent ? 1 : 0);
    // The line that decided it is in the log, with the alert; an
    // interruption is no device's failure and logs none.
    const Lines lines = StatusLines();
    const bool logged =
        std::find(lines.begin(), lines.end(), Lines::value_type{c.reason, true}) != lines.end();
    EXPECT_EQ(logged, (c.outcome == Outcome::kFailed || c.outcome == Outcome::kRefused) &&
                          c.confirmed != Confirmation::kInLoader);
    EXPECT_EQ(
        std::find_if(lines.begin(), lines.end(),
                     [](const auto& l) { return l.first.rfind("Timeout", 0) == 0; }) != lines.end(),
        c.name == std::string("time-out"));
    if (c.outcome == Outcome::kOk) {
      EXPECT_EQ(r.update->sha256, Sha256Hex(ReadAll(path)));
      EXPECT_EQ(r.update->section, 0);
      EXPECT_EQ(r.update->bytes, 1000u);
      EXPECT_TRUE(r.update->verified);
      EXPECT_EQ(r.update->crc, ComputeImageCrc(network.WrittenImage()));
      EXPECT_EQ(r.addressed.loaderType, 0x0300);  // the loader it wrote
      EXPECT_EQ(r.device.loaderType, 0);          // the row it started from
    }
  }
}

// After each search a command makes, the device it works on is selected
// again: the list never shows another device while one is written, and
// "Use last file again" then means this device, not row 0.
TEST_F(FirmwareUpdate, TheDeviceBeingWorkedOnStaysSelectedThroughItsSearches) {
  otherDevice = true;
  StartAndChoose(FirmwareFile(300));
  ASSERT_EQ(view.rows.size(), 2u);
  view.selectedRow = 1;
  view.events.clear();
  const auto selectedMac = [this] {
    return view.selectedRow < 0 ? std::string() : view.rows[view.selectedRow].mac;
  };
  std::vector<std::string> selectedDuringWrite;
  network.onWrite = [&](const WriteCall&) {
    selectedDuringWrite.push_back(selectedMac());
    return true;
  };
  dlg.OnFirmwareUpdate();
  ASSERT_FALSE(selectedDuringWrite.empty());
  // Its loader is listed first after the restart, the other device second.
  EXPECT_EQ(selectedDuringWrite.front(), "00-0A-95-00-00-07");
  EXPECT_NE(view.selectedRow, 0);
  EXPECT_EQ(selectedMac(), "00-0A-95-00-00-07");

  // Again with the same file, no dialog: the same device, not row 0.
  network.writes.clear();
  dlg.OnFirmwareUpdate();
  ASSERT_FALSE(network.writes.empty());
  EXPECT_EQ(std::vector<uint8_t>(network.writes[0].device.mac.begin(),
                                 network.writes[0].device.mac.end()),
            kMac);
  // A plain Find selects row 0, as it always did.
  dlg.OnFind();
  EXPECT_EQ(view.selectedRow, 0);
}

// Only the one-device update and its chain tick "Use last file again". The
// fleet (its plan included), the station and recovery write the device
// they work on and leave the boxes, the last file and the selected device
// (here the other one) as they found them: the next Firmware-Update asks
// for a file again and goes to the device the operator had selected.
TEST_F(FirmwareUpdate, OnlyTheOneDeviceUpdateLeavesItsFileAndBoxBehind) {
  otherDevice = inBootloader = true;
  const std::string path = FirmwareFile(300);
  StationOptions station;
  station.path = path;
  station.bytes = std::make_shared<const std::vector<uint8_t>>(ReadAll(path));
  station.once = true;
  IFleetObserver fleetDialog;
  IStationObserver tiles;
  // Each writes and starts our device, row 0 (its loader answers first).
  const std::vector<std::pair<const char*, std::function<void()>>> kRuns = {
      {"fleet",
       [&] {
         view.chosenFile = path;
         const std::optional<FleetPreparation> plan = dlg.PrepareFleet();
         view.chosenFile.reset();
         ASSERT_TRUE(plan && plan->plan.planned[0].record.mac[5] == kMac[5]);
         dlg.RunFleet(plan->plan, {{0}, path, plan->bytes}, fleetDialog);
       }},
      {"station", [&] { dlg.RunStation(station, tiles); }},
      {"recover: the same file",
       [&] {
         dlg.WriteSameFileAgain(0, path, ReadFirmwareFile(path), {true, kDefaultSettle});
       }},
      {"recover: its application", [&] { dlg.StartHalfUpdated(0); }},
  };
  StartAndChoose(path);
  for (const auto& [name, run] : kRuns) {
    SCOPED_TRACE(name);
    inBootloader = true;
    view.checks[CheckBox::kAndMakeUpdate] = true;
    dlg.OnFind();  // two devices: no chain
    view.SelectRow(1);
    network.calls.clear();
    run();
    EXPECT_EQ(std::count(network.calls.begin(), network.calls.end(), "run"), 1);
    EXPECT_FALSE(view.checks[CheckBox::kUseLastFile]);
    EXPECT_TRUE(dlg.lastFirmwarePath().empty());
    ASSERT_GE(view.selectedRow, 0);
    EXPECT_EQ(view.rows[view.selectedRow].mac, "00-0A-95-00-00-99");

    view.events.clear();
    network.writes.clear();
    dlg.OnFirmwareUpdate();
    EXPECT_EQ(view.EventsStartingWith("file dialog").size(), 1u);
    EXPECT_TRUE(network.writes.empty());
  }
}

// A fleet reads its file once, and recovery writes what its check read:
// what is written and recorded is those bytes, whatever the file on disk
// holds by a device's turn.
TEST_F(FirmwareUpdate, AnUpdateWithBytesReadEarlierNeverReadsTheFileAgain) {
  inBootloader = true;
  const std::string path = FirmwareFile(600);
  StartAndChoose(path);
  const auto read = std::make_shared<const std::vector<uint8_t>>(ReadAll(path));
  WriteFile(path, FirmwareFileBytes(2, {{kMcu, kDeviceType, 0, 0, PatternBytes(600, 99)}}));
  FleetRunOptions options;
  options.chosen = {0};
  options.path = path;
  options.bytes = read;
  IFleetObserver dialog;
  dlg.RunFleet(PlanFleet(network.devices.Listed(), *read), options, dialog);
  ASSERT_EQ(results.results.size(), 1u);
  EXPECT_EQ(results.last().outcome, Outcome::kOk);
  EXPECT_EQ(results.last().update->sha256, Sha256Hex(*read));
  std::vector<uint8_t> expected = PatternBytes(600);
  expected.resize(768, 0xFF);
  EXPECT_EQ(network.WrittenImage(), expected);
  EXPECT_TRUE(view.EventsStartingWith("file dialog").empty());

  network.writes.clear();
  inBootloader = true;
  dlg.OnFind();
  dlg.WriteSameFileAgain(0, path, FirmwareFileRead{*read, std::nullopt, ""}, Waits{});
  EXPECT_EQ(results.last().update->sha256, Sha256Hex(*read));
  EXPECT_EQ(network.WrittenImage(), expected);
}

}  // namespace

namespace {

// A journal that records each update's start with what had reached the
// network by then, and may refuse to take it.
class CStartJournal : public IResultSink {
 public:
  explicit CStartJournal(const CFakeNetwork& network) : m_network(network) {}
  void OnResult(const CommandResult& result) override { ends.push_back(result); }
  bool OnStarted(const CommandResult& result) override {
    starts.push_back(result);
    callsAtStart = m_network.calls;
    writesAtStart = m_network.writes.size();
    return takes;
  }
  bool takes = true;
  std::vector<CommandResult> starts, ends;
  std::vector<std::string> callsAtStart;
  size_t writesAtStart = 0;

 private:
  const CFakeNetwork& m_network;
};

}  // namespace

TEST_F(FirmwareUpdate, TheStartOfARunningDevicesUpdateIsRecordedBeforeItsRestart) {
  CStartJournal journal(network);
  dlg.SetJournal(&journal);
  const std::string path = FirmwareFile(1000);
  StartAndChoose(path);
  dlg.OnFirmwareUpdate();
  ASSERT_EQ(journal.starts.size(), 1u);
  EXPECT_EQ(
      std::count(journal.callsAtStart.begin(), journal.callsAtStart.end(), "enter bootloader"), 0);
  EXPECT_EQ(std::count(network.calls.begin(), network.calls.end(), "enter bootloader"), 1);
  const CommandResult& start = journal.starts[0];
  ASSERT_TRUE(start.update);
  EXPECT_EQ(start.update->path, path);
  EXPECT_EQ(start.update->sha256, Sha256Hex(ReadAll(path)));
  EXPECT_FALSE(start.update->section);  // known only once its loader answers
  ASSERT_EQ(journal.ends.size(), 1u);
  EXPECT_EQ(journal.ends[0].outcome, Outcome::kOk);
}

TEST_F(FirmwareUpdate, TheStartOfALoadersUpdateIsRecordedBeforeItsFirstBlock) {
  inBootloader = true;
  CStartJournal journal(network);
  dlg.SetJournal(&journal);
  StartAndChoose(FirmwareFile(1000));
  dlg.OnFirmwareUpdate();
  ASSERT_EQ(journal.starts.size(), 1u);
  EXPECT_EQ(journal.writesAtStart, 0u);
  EXPECT_EQ(network.writes.size(), 4u);
  EXPECT_EQ(journal.starts[0].update->section, 0);
  EXPECT_EQ(journal.starts[0].update->bytes, 1000u);
}

TEST_F(FirmwareUpdate, AStartTheJournalCannotTakeEndsTheUpdateWithNothingSent) {
  CStartJournal journal(network);
  journal.takes = false;
  dlg.SetJournal(&journal);
  StartAndChoose(FirmwareFile(1000));
  dlg.OnFirmwareUpdate();
  EXPECT_EQ(std::count(network.calls.begin(), network.calls.end(), "enter bootloader"), 0);
  EXPECT_TRUE(network.writes.empty());
  ASSERT_FALSE(results.results.empty());
  EXPECT_EQ(results.results[0].outcome, Outcome::kRefused);
  EXPECT_EQ(results.results[0].statusLine, kStartNotRecordedLine);
  EXPECT_FALSE(results.results[0].frameSent);
}
