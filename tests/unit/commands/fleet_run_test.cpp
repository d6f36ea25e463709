// The fleet's run on a played network and virtual time: who is written,
// tried again, left alone or left out, what the observers and the journal
// are told, and the tally.

#include "commands/fleet_run.h"

#include <gtest/gtest.h>

#include <map>

#include "commands/device_commands.h"
#include "commands/firmware_file.h"
#include "net/reply_processing.h"
#include "tests/support/datagram_builder.h"
#include "tests/support/dlg_harness.h"
#include "tests/support/firmware_file_builder.h"
#include "tests/support/journal_only_observer.h"

using namespace quorvik;

namespace {

constexpr uint16_t kModel = 0x3680;
constexpr uint16_t kMcu = 0x0021;

// A device as the network plays it: it restarts into its loader when asked,
// starts its application after the run request, and answers the searches of
// the mode it is in.
struct PlayedDevice {
  char name;
  bool inLoader = false;
  uint16_t model = kModel;  // as its loader reports it
  int failedWrites = 0;     // attempts whose first block is not acknowledged
  bool vanishes = false;    // answers the planning search only

  std::vector<uint8_t> Mac() const { return {0x00, 0x0A, 0x95, 0x00, 0x00, uint8_t(name)}; }
  std::vector<uint8_t> Serial() const { return IdentityBytes(uint8_t(name), 11); }
};

struct RunCase {
  const char* what;
  std::vector<PlayedDevice> devices;
  int retries = 0;
  // Stop after the device whose blocks are being written.
  std::optional<char> stopWhileWriting;
  std::vector<std::string> told;  // what the observer is told, in order
  std::vector<std::string> journalled;
  std::map<char, int> blocksWritten;
  FleetTally tally;
};

class CRecordingObserver : public IFleetObserver {
 public:
  explicit CRecordingObserver(const FleetPlan& plan) : m_plan(plan) {}
  void OnDeviceStarted(size_t d, int attempt) override {
    told.push_back(Name(d) + " attempt " + std::to_string(attempt));
  }
  void OnBlocksWritten(size_t d, uint32_t done, uint32_t total) override {
    if (done == total) told.push_back(Name(d) + " wrote " + std::to_string(total) + " blocks");
  }
  void OnDeviceFinished(size_t d, const CommandResult& r, bool updated) override {
    told.push_back(Name(d) + (updated ? " updated: " : " failed: ") + r.reason);
  }
  void OnDeviceNotReached(size_t d, const CommandResult& r) override {
    told.push_back(Name(d) + " not reached: " + r.reason);
  }
  void OnStoppedBeforeTurn(size_t d) override { told.push_back(Name(d) + " left out"); }
  void OnAttemptResult(size_t, const CommandResult& r) override { handedOut.OnResult(r); }
  std::vector<std::string> told;
  CRecordedResults handedOut;

 private:
  std::string Name(size_t d) const {
    return std::string(1, static_cast<char>(m_plan.planned[d].record.identity[0]));
  }
  const FleetPlan& m_plan;
};

class CFleetRig : public CDlgHarness {
 public:
  explicit CFleetRig(std::vector<PlayedDevice> devices) : m_devices(std::move(devices)) {
    network.addresses = {{127, 0, 0, 1}};
    network.onSearch = [this](bool boot) {
      for (const PlayedDevice& d : m_devices) {
        if (d.vanishes && m_planned) continue;
        if (boot && d.inLoader)
          ProcessDatagram(
              network.devices, kBootPortA,
              Gen3Answer(0x0381, 0x0100, d.model, kMcu, 256, d.Mac(), 1, d.Serial()).Span());
        if (!boot && !d.inLoader)
          ProcessDatagram(network.devices, kAppPort,
                          AppAnswer(0x0100, d.Mac(), "Node", d.Serial()).Span());
      }
    };
    network.onEnterBootloader = [this](const DeviceRecord& r) { Find(r).inLoader = true; };
    network.onRun = [this](const DeviceRecord& r) { Find(r).inLoader = false; };
    network.onWrite = [this](const WriteCall& call) {
      PlayedDevice& d = Find(call.device);
      if (onWrite) onWrite(d);
      if (call.offset == 0 && d.failedWrites > 0) {
        --d.failedWrites;
        return false;
      }
      ++written[d.name];
      return true;
    };
    dlg.OnInitDialog();
    plan = PlanFleet(network.devices.Listed(), file);
    m_planned = true;
  }

  PlayedDevice& Find(const DeviceRecord& r) {
    for (PlayedDevice& d : m_devices)
      if (std::equal(r.mac.begin(), r.mac.end(), d.Mac().begin())) return d;
    throw std::runtime_error("a frame to no played device");
  }

  const std::vector<uint8_t> file =
      FirmwareFileBytes(2, {{kMcu, kModel, 0x01, 0x05, PatternBytes(600)}});
  FleetPlan plan;
  CRecordedResults journal;
  std::map<char, int> written;
  std::function<void(const PlayedDevice&)> onWrite;

 private:
  std::vector<PlayedDevice> m_devices;
  bool m_planned = false;
};

std::vector<std::string> Outcomes(const CRecordedResults& results) {
  std::vector<std::string> outcomes;
  for (const CommandResult& r : results.results)
    outcomes.push_back(std::string(1, static_cast<char>(r.device.identity[0])) + " " +
                       OutcomeName(r.outcome));
  return outcomes;
}

TEST(FleetRun, EachDeviceIsUpdatedTriedAgainLeftAloneOrLeftOutAsItsCaseAsks) {
  const std::vector<RunCase> cases = {
      {"a running device is restarted, written and confirmed running",
       {{'A'}},
       0,
       {},
       {"A attempt 1", "A wrote 3 blocks", "A updated: RUN application."},
       {"A ok"},
       {{'A', 3}},
       {1, 1, 0, 0, 1}},
      {"a lost acknowledgement fails the first attempt; the retry finds it in its loader",
       {{'B', true, kModel, 1}},
       1,
       {},
       {"B attempt 1", "B attempt 2", "B wrote 3 blocks", "B updated: RUN application."},
       {"B failed", "B ok"},
       {{'B', 3}},
       {1, 1, 0, 0, 1}},
      {"a loader that the file does not fit refuses once, however many retries",
       {{'C', false, 0x1234}},
       2,
       {},
       {"C attempt 1", "C failed: Wrong firmware file selected! (ERROR DEVICE)"},
       {"C refused"},
       {},
       {1, 0, 1, 0, 0}},
      {"a device gone since the plan is searched for once more, never written, not retried",
       {{'D', true}, {'E', true, kModel, 0, true}},
       1,
       {},
       {"D attempt 1", "D wrote 3 blocks", "D updated: RUN application.", "E attempt 1",
        "E not reached: not found again before its update"},
       {"D ok"},
       {{'D', 3}},
       {2, 1, 1, 0, 1}},
      {"a stop during a device's write ends the run after that device",
       {{'F', true}, {'G', true}},
       0,
       'F',
       {"F attempt 1", "F wrote 3 blocks", "F updated: RUN application.", "G left out"},
       {"F ok"},
       {{'F', 3}},
       {2, 1, 0, 0, 1, 1}},
  };
  for (const RunCase& c : cases) {
    SCOPED_TRACE(c.what);
    CFleetRig rig(c.devices);
    ASSERT_EQ(rig.plan.planned.size(), c.devices.size());
    bool stop = false;
    rig.onWrite = [&](const PlayedDevice& d) { stop = stop || c.stopWhileWriting == d.name; };
    FleetRunOptions options;
    for (size_t i = 0; i < rig.plan.planned.size(); ++i) options.chosen.push_back(i);
    options.path = "rig.bin";
    options.bytes = std::make_shared<const std::vector<uint8_t>>(rig.file);
    options.retries = c.retries;
    options.stopAfterDevice = [&] { return stop; };
    CRecordingObserver observer(rig.plan);
    CJournalOnly frontEnd(rig.journal);

    const FleetRunEnd end =
        RunFleetUpdate(rig.plan, options, rig.network, rig.clock, frontEnd, observer);

    EXPECT_EQ(observer.told, c.told);
    EXPECT_EQ(Outcomes(rig.journal), c.journalled);
    // Every attempt's result is handed out, as the command line prints it.
    EXPECT_EQ(Outcomes(observer.handedOut), c.journalled);
    EXPECT_EQ(rig.written, c.blocksWritten);
    const FleetTally& t = end.tally;
    EXPECT_EQ(FleetTallyText(t), FleetTallyText(c.tally));
    EXPECT_EQ(end.stopped, c.stopWhileWriting.has_value());
    EXPECT_FALSE(end.interrupted);
  }
}

// The window's first step: a file that cannot be used is said as an update
// says it, and nothing is searched; a good one is planned from one search.
TEST(FleetRun, PreparingReadsTheChosenFileOnceAndPlansFromOneSearch) {
  CFleetRig rig({{'K', true}});
  const std::string bad = (rig.clean.scratch.path() / "cut.bin").string();
  WriteFile(bad, std::vector<uint8_t>(rig.file.begin(), rig.file.begin() + 40));
  rig.view.chosenFile = bad;
  rig.network.calls.clear();
  EXPECT_FALSE(rig.dlg.PrepareFleet());
  EXPECT_TRUE(rig.network.calls.empty());
  EXPECT_FALSE(rig.view.waitCursor);
  ASSERT_FALSE(rig.dlg.statusLines().empty());
  EXPECT_EQ(rig.dlg.statusLines().back(), FirmwareVerdictLine(*ReadFirmwareFile(bad).verdict));

  const std::string good = (rig.clean.scratch.path() / "rig.bin").string();
  WriteFile(good, rig.file);
  rig.view.chosenFile = good;
  const auto prepared = rig.dlg.PrepareFleet();
  ASSERT_TRUE(prepared);
  EXPECT_EQ(prepared->path, good);
  EXPECT_EQ(*prepared->bytes, rig.file);
  ASSERT_EQ(prepared->plan.planned.size(), 1u);
  EXPECT_EQ(prepared->plan.planned[0].blocks, 3u);
  rig.view.chosenFile.reset();
  EXPECT_FALSE(rig.dlg.PrepareFleet());
}

}  // namespace
