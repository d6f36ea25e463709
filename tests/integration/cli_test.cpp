// quorvik-cli as a script runs it: a child process in a private network
// namespace, against quorvik-devsim, judged by its output, its exit code
// and the images the simulated devices end up holding. Waits run scaled
// down with the tests' --time-scale.

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <sstream>
#include <thread>
#include <tuple>

#include "commands/sha256.h"
#include "net/frames.h"
#include "net/instance_lock.h"
#include "records/journal.h"
#include "tests/support/firmware_file_builder.h"
#include "tests/support/netns_guard.h"
#include "tests/support/simulator_process.h"

using namespace quorvik;

namespace fs = std::filesystem;

namespace {

struct CliRun {
  int exitCode = -1;
  std::string out;
  std::string err;
  std::vector<std::string> Lines() const {
    std::vector<std::string> lines;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }
  bool Has(const std::string& line) const {
    const auto lines = Lines();
    return std::find(lines.begin(), lines.end(), line) != lines.end();
  }
  std::vector<nlohmann::json> Events() const {
    std::vector<nlohmann::json> events;
    for (const auto& line : Lines()) events.push_back(nlohmann::json::parse(line));
    return events;
  }
};

// The quorvik-cli that RunCli runs at the moment, for a test that signals it.
pid_t g_running = -1;

// Runs quorvik-cli in the current directory; `onLine` sees each stdout line
// as it is written, while the program still runs.
CliRun RunCli(std::vector<std::string> args, const std::string& input = "",
              const std::function<void(const std::string&)>& onLine = {}) {
  // The machine's own system journal is no place for simulated devices.
  if (const std::set<std::string> reaching = {"update", "reset", "run", "reboot", "recover",
                                              "station"};
      !args.empty() && reaching.count(args[0]) != 0)
    args.push_back("--no-syslog");
  args.insert(args.begin(), QUORVIK_CLI_PATH);
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  int in[2], out[2], err[2];
  if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0)
    return {};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
  pid_t pid = -1;
  const int rc = ::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  g_running = pid;
  ::close(in[0]);
  ::close(out[1]);
  ::close(err[1]);
  CliRun run;
  if (rc == 0 && !input.empty())
    if (::write(in[1], input.data(), input.size()) < 0) ADD_FAILURE() << "stdin not written";
  ::close(in[1]);
  std::thread errReader([&] {
    char buffer[4096];
    for (ssize_t got; (got = ::read(err[0], buffer, sizeof buffer)) > 0;)
      run.err.append(buffer, static_cast<size_t>(got));
  });
  char buffer[4096];
  std::string partial;
  for (ssize_t got; (got = ::read(out[0], buffer, sizeof buffer)) > 0;) {
    run.out.append(buffer, static_cast<size_t>(got));
    partial.append(buffer, static_cast<size_t>(got));
    for (size_t end; (end = partial.find('\n')) != std::string::npos; partial.erase(0, end + 1))
      if (onLine) onLine(partial.substr(0, end));
  }
  errReader.join();
  ::close(out[0]);
  ::close(err[0]);
  int status = 0;
  if (rc == 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status))
    run.exitCode = WEXITSTATUS(status);
  g_running = -1;
  return run;
}

// RFC 4180: quoted cells may hold commas, quotes (doubled) and line ends.
std::vector<std::vector<std::string>> ParseCsv(const std::string& text) {
  std::vector<std::vector<std::string>> rows(1);
  std::string cell;
  bool quoted = false;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (quoted) {
      if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
        cell += '"';
        ++i;
      } else if (c == '"') {
        quoted = false;
      } else {
        cell += c;
      }
    } else if (c == '"') {
      quoted = true;
    } else if (c == ',') {
      rows.back().push_back(std::move(cell));
      cell.clear();
    } else if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
      rows.back().push_back(std::move(cell));
      cell.clear();
      rows.emplace_back();
      ++i;
    } else {
      cell += c;
    }
  }
  rows.pop_back();  // after the last CRLF
  return rows;
}

const nlohmann::json* EventOf(const std::vector<nlohmann::json>& events, const char* kind) {
  for (const auto& e : events)
    if (e["event"] == kind) return &e;
  return nullptr;
}

// A copy of the first event of a kind; null when there is none.
nlohmann::json FirstEvent(const CliRun& run, const char* kind) {
  const auto events = run.Events();
  const nlohmann::json* event = EventOf(events, kind);
  return event ? *event : nlohmann::json();
}

std::vector<uint8_t> ReadAll(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), {}};
}

// A running generation 3 device (verifying) of the matrix type.
std::string AppDevice(const std::string& identity, const std::string& mac,
                      const std::string& extra = "") {
  return R"({"mode": "app", "loaderType": 897, "deviceId": 13952, "mcuId": 33, "blockSize": 256,
             "bootDelayMs": 100, "appVersion": 258, "name": "Matrix Wall", "identity": ")" +
         identity + R"(", "mac": ")" + mac + "\"" + extra + "}";
}

std::string Devices(std::initializer_list<std::string> devices) {
  std::string json = R"({"devices": [)";
  for (const auto& d : devices) json += (json.back() == '[' ? "" : ",") + d;
  return json + "]}";
}

std::string SummaryOf(const std::string& simOutput, const std::string& identity) {
  const size_t at = simOutput.find("summary device=" + identity + " ");
  if (at == std::string::npos) return {};
  return simOutput.substr(at, simOutput.find('\n', at) - at);
}

class Cli : public ::testing::Test {
 protected:
  void SetUp() override {
    QUORVIK_REQUIRE_PRIVATE_NETNS();
    char pattern[] = "/tmp/quorvik-cli-XXXXXX";
    dir = ::mkdtemp(pattern);
    previous = fs::current_path();
    fs::current_path(dir);
    section = PatternBytes(1300, 7);
    file = (dir / "matrix.bin").string();
    // Each test journals into its own folder, never the user's.
    journal = (dir / "journal.jsonl").string();
    ::setenv("QUORVIK_JOURNAL", journal.c_str(), 1);
    WriteFile(file, FirmwareFileBytes(2, {{33, 0x0001, 0, 0, PatternBytes(20)},
                                          {33, 0x3680, 0x01, 0x05, section}}));
  }
  void TearDown() override {
    ::unsetenv("QUORVIK_JOURNAL");
    if (!dir.empty()) {
      fs::current_path(previous);
      fs::remove_all(dir);
    }
  }
  // The lines that end commands: each update's start line is left out.
  std::vector<FlatRecord> Journal() const {
    std::vector<FlatRecord> ends;
    for (FlatRecord& line : ReadJournal(journal).records)
      if (!IsStartLine(line)) ends.push_back(std::move(line));
    return ends;
  }
  std::vector<FlatRecord> AllJournalLines() const { return ReadJournal(journal).records; }
  // What a device of 256-byte blocks holds after the section was written.
  std::vector<uint8_t> WrittenImage() const {
    std::vector<uint8_t> image = section;
    image.resize(6 * 256, 0xFF);
    return image;
  }
  std::string Completed() const {
    return "Write and verify data complete. (" + file + " at index 1)";
  }

  fs::path dir, previous;
  std::vector<uint8_t> section;
  std::string file;
  std::string journal;
};

constexpr const char* kFast = "--time-scale=0.1";

TEST_F(Cli, ListShowsTheRowsAndTheCountLineWithTheWindowsSettings) {
  // A stale stored interface falls back to the first, as in the window;
  // the black-listed device is counted, not listed.
  const std::string ini =
      "[APP]\nSELECTED_IP=10.1.1.1\nHIDDEN=3132333435363738393a3b (Matrix Wall)\n";
  std::ofstream(dir / "Quorvik.ini") << ini;
  CSimulatorProcess sim(
      QUORVIK_DEVSIM_PATH,
      Devices({AppDevice("2122232425262728292a2b", "00-0A-95-00-00-21"),
               AppDevice("3132333435363738393a3b", "00-0A-95-00-00-31"),
               R"({"mode": "boot", "loaderType": 1, "deviceId": 13840, "version": 261,
                   "identity": "a1a2a3a4a5a6a7a8a9aaab", "mac": "00-0A-95-00-00-41"})"}));
  ASSERT_TRUE(sim.ready());

  const CliRun text = RunCli({"list", kFast});
  EXPECT_EQ(text.exitCode, 0) << text.err;
  const auto lines = text.Lines();
  ASSERT_EQ(lines.size(), 4u) << text.out;
  EXPECT_EQ(lines[0].rfind("Row  Device", 0), 0u);
  EXPECT_NE(text.out.find("Matrix Wall"), std::string::npos);
  EXPECT_NE(text.out.find("2122232425262728292A2B  00-0A-95-00-00-21  app"), std::string::npos);
  EXPECT_NE(text.out.find("A1A2A3A4A5A6A7A8A9AAAB  00-0A-95-00-00-41  boot"), std::string::npos);
  EXPECT_EQ(lines.back(), "2 Interfaces found (1 hidden)");

  const CliRun json = RunCli({"list", "--json", "--iface", "127.0.0.1", kFast});
  EXPECT_EQ(json.exitCode, 0) << json.err;
  const auto events = json.Events();
  ASSERT_GE(events.size(), 3u);
  const auto devices = std::find_if(events.begin(), events.end(),
                                    [](const auto& e) { return e["event"] == "devices"; });
  ASSERT_NE(devices, events.end());
  ASSERT_EQ((*devices)["rows"].size(), 2u);
  for (const auto& row : (*devices)["rows"])
    EXPECT_EQ(row["mode"], row["serial"] == "2122232425262728292A2B" ? "app" : "boot");
  EXPECT_EQ(events[events.size() - 2]["text"], "2 Interfaces found (1 hidden)");
  EXPECT_EQ(events.back()["event"], "result");
  EXPECT_EQ(events.back()["count"], 2);

  const CliRun elsewhere = RunCli({"list", "--iface", "10.9.9.9", kFast});
  EXPECT_EQ(elsewhere.exitCode, 2);
  std::ifstream stored(dir / "Quorvik.ini");
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(stored), {}), ini);
}

TEST_F(Cli, UpdateBySerialWritesVerifiesAndStartsOnlyThatDevice) {
  CSimulatorProcess sim(QUORVIK_DEVSIM_PATH,
                        Devices({AppDevice("2122232425262728292a2b", "00-0A-95-00-00-21"),
                                 AppDevice("3132333435363738393a3b", "00-0A-95-00-00-31")}));
  ASSERT_TRUE(sim.ready());
  const CliRun run =
      RunCli({"update", "--file", file, "--serial", "3132333435363738393a3b", kFast});
  EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
  EXPECT_TRUE(run.Has("Set device to firmware update ..."));
  EXPECT_TRUE(run.Has(Completed())) << run.out;
  EXPECT_TRUE(run.Has("RUN application."));
  EXPECT_TRUE(
      run.Has("Result: ok update device=\"Matrix Wall\" serial=3132333435363738393A3B "
              "mac=00-0A-95-00-00-31 reason=\"RUN application.\" confirmed=running"))
      << run.out;
  // Without a terminal, progress is plain lines on stderr.
  EXPECT_NE(run.err.find("progress 100%"), std::string::npos);
  sim.Stop();
  EXPECT_EQ(ReadAll(sim.dumpDir() / "3132333435363738393a3b.img"), WrittenImage());
  EXPECT_NE(SummaryOf(sim.output(), "2122232425262728292a2b").find(" writes=0 "),
            std::string::npos);
}

TEST_F(Cli, UpdateByMacReportsEveryEventAsJson) {
  CSimulatorProcess sim(QUORVIK_DEVSIM_PATH,
                        Devices({AppDevice("2122232425262728292a2b", "00-0A-95-00-00-21"),
                                 AppDevice("3132333435363738393a3b", "00-0A-95-00-00-31")}));
  ASSERT_TRUE(sim.ready());
  const CliRun run = RunCli({"update", "-f", file, "--mac", "00:0a:95:00:00:21", "--json", kFast});
  EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
  const auto events = run.Events();
  ASSERT_FALSE(events.empty());
  bool verified = false, progressed = false, beeped = false;
  for (const auto& e : events) {
    verified |= e["event"] == "status" && e["text"] == Completed();
    progressed |= e["event"] == "progress" && e["percent"] == 100;
    beeped |=
        e["event"] == "status" && e["text"] == "Start firmware update..." && e["beep"] == true;
  }
  EXPECT_TRUE(verified);
  EXPECT_TRUE(progressed);
  EXPECT_TRUE(beeped);
  // Reported with what the search after it saw: the device runs.
  const auto result = std::find_if(events.begin(), events.end(),
                                   [](const auto& e) { return e["event"] == "device_result"; });
  ASSERT_NE(result, events.end());
  EXPECT_EQ((*result)["outcome"], "ok");
  EXPECT_EQ((*result)["serial"], "2122232425262728292A2B");
  EXPECT_EQ((*result)["confirmed"], "running");
  EXPECT_EQ((*result)["blocks"], 6);
  EXPECT_EQ((*result)["bytes"], 1300);
  EXPECT_EQ((*result)["section"], 1);
  EXPECT_EQ((*result)["verified"], true);
  const auto run_ = std::find_if(events.begin(), events.end(), [](const auto& e) {
    return e["event"] == "status" && e["text"] == "RUN application.";
  });
  EXPECT_LT(run_, result);
  EXPECT_EQ(events.back(), (nlohmann::json{{"event", "result"},
                                           {"command", "update"},
                                           {"outcome", "ok"},
                                           {"exit", 0},
                                           {"devices", 1},
                                           {"succeeded", 1}}));
  EXPECT_TRUE(run.err.empty()) << run.err;
  sim.Stop();
  EXPECT_EQ(ReadAll(sim.dumpDir() / "2122232425262728292a2b.img"), WrittenImage());
}

TEST_F(Cli, AChainUpdatesEachSwappedInDeviceAndEndsWhenTheSameOneAnswersAgain) {
  const std::vector<std::string> identities = {"4142434445464748494a4b", "5152535455565758595a5b",
                                               "6162636465666768696a6b"};
  std::vector<std::unique_ptr<CSimulatorProcess>> sims;
  std::vector<std::string> summaries;
  const auto plugIn = [&](size_t k) {
    sims.push_back(std::make_unique<CSimulatorProcess>(
        QUORVIK_DEVSIM_PATH,
        Devices({AppDevice(identities[k], "00-0A-95-00-01-0" + std::to_string(k))})));
  };
  plugIn(0);
  ASSERT_TRUE(sims[0]->ready());
  // The technician swaps the device as soon as its result is printed; the
  // pause after an update leaves the time for it.
  int results = 0;
  const CliRun run = RunCli({"update", "--file", file, "--row", "0", "--chain", "--time-scale=0.3"},
                            "", [&](const std::string& line) {
                              if (line.rfind("Result: ", 0) != 0) return;
                              if (++results == 3) return;
                              sims.back()->Stop();
                              plugIn(static_cast<size_t>(results));
                            });
  EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
  EXPECT_EQ(results, 3) << run.out;
  EXPECT_EQ(run.Lines().back(),
            "Chain ended after 3 device(s), 3 ok: the same device answered again");
  ASSERT_EQ(sims.size(), 3u);
  for (size_t k = 0; k < sims.size(); ++k) {
    sims[k]->Stop();
    EXPECT_EQ(ReadAll(sims[k]->dumpDir() / (identities[k] + ".img")), WrittenImage())
        << "device " << k;
  }
}

TEST_F(Cli, AFileForAnotherDeviceIsRefusedWithoutAWrite) {
  CSimulatorProcess sim(QUORVIK_DEVSIM_PATH, Devices({R"({"mode": "boot", "loaderType": 1,
      "deviceId": 4660, "blockSize": 256, "identity": "0102030405060708090a0b"})"}));
  ASSERT_TRUE(sim.ready());
  const CliRun run = RunCli({"update", "--file", file, "--row", "0", kFast});
  EXPECT_EQ(run.exitCode, 2) << run.out << run.err;
  EXPECT_TRUE(run.Has("Wrong firmware file selected! (ERROR DEVICE)")) << run.out;
  sim.Stop();
  EXPECT_NE(SummaryOf(sim.output(), "0102030405060708090a0b").find(" writes=0 "),
            std::string::npos);
}

TEST_F(Cli, ALostAcknowledgementFailsTheDevice) {
  CSimulatorProcess sim(
      QUORVIK_DEVSIM_PATH,
      Devices({AppDevice("2122232425262728292a2b", "00-0A-95-00-00-21", R"(, "dropAcks": [3])")}));
  ASSERT_TRUE(sim.ready());
  const CliRun run =
      RunCli({"update", "--file", file, "--serial", "2122232425262728292A2B", kFast});
  EXPECT_EQ(run.exitCode, 1) << run.out << run.err;
  EXPECT_TRUE(run.Has("Timeout on write data! [0000]")) << run.out;
  EXPECT_FALSE(run.Has("RUN application."));
}

TEST_F(Cli, NoDeviceAnswersToTheSelector) {
  CSimulatorProcess sim(QUORVIK_DEVSIM_PATH,
                        Devices({AppDevice("2122232425262728292a2b", "00-0A-95-00-00-21")}));
  ASSERT_TRUE(sim.ready());
  EXPECT_EQ(RunCli({"update", "--file", file, "--serial", "ffff", kFast}).exitCode, 3);
  EXPECT_EQ(RunCli({"reboot", "--row", "1", kFast}).exitCode, 3);
  // A running device offers no "Run application".
  EXPECT_EQ(RunCli({"run", "--row", "0", kFast}).exitCode, 2);
  EXPECT_EQ(RunCli({"update", "--serial", "21", kFast}).exitCode, 2);  // no --file
}

TEST_F(Cli, ResetAsksUnlessToldYes) {
  CSimulatorProcess sim(QUORVIK_DEVSIM_PATH,
                        Devices({AppDevice("2122232425262728292a2b", "00-0A-95-00-00-21")}));
  ASSERT_TRUE(sim.ready());
  const CliRun declined = RunCli({"reset", "--row", "0", kFast}, "n\n");
  EXPECT_EQ(declined.exitCode, 2);
  EXPECT_NE(declined.err.find("Do you want to set >Matrix Wall< to Factory Defaults ? [y/N]"),
            std::string::npos);
  const CliRun done = RunCli({"reset", "--row", "0", "--yes", kFast});
  EXPECT_EQ(done.exitCode, 0) << done.out << done.err;
  EXPECT_TRUE(done.Has("Set >Matrix Wall< to Factory Defaults."));
  sim.Stop();
  // Nothing from the declined run; two frames from the other, because the
  // padded serial ends in two equal (zero) bytes.
  EXPECT_NE(SummaryOf(sim.output(), "2122232425262728292a2b").find(" resets=2 "), std::string::npos)
      << sim.output();
}

TEST_F(Cli, RunAndRebootSucceedOnlyWhenTheDeviceComesBack) {
  CSimulatorProcess sim(
      QUORVIK_DEVSIM_PATH,
      Devices({AppDevice("2122232425262728292a2b", "00-0A-95-00-00-21"),
               AppDevice("3132333435363738393a3b", "00-0A-95-00-00-31", R"(, "neverReturn": true)"),
               R"({"mode": "boot", "loaderType": 1, "deviceId": 13840, "version": 261,
                   "identity": "a1a2a3a4a5a6a7a8a9aaab", "mac": "00-0A-95-00-00-41"})"}));
  ASSERT_TRUE(sim.ready());

  const CliRun rebooted = RunCli({"reboot", "--serial", "2122232425262728292a2b", kFast});
  EXPECT_EQ(rebooted.exitCode, 0) << rebooted.out << rebooted.err;
  EXPECT_TRUE(rebooted.Has("Start reboot ...")) << rebooted.out;
  EXPECT_TRUE(rebooted.Has("Reboot done.")) << rebooted.out;

  // Entering the loader is accepted, but the device never answers again: a
  // failure of the device, not a success.
  const CliRun lost = RunCli({"reboot", "--serial", "3132333435363738393a3b", kFast});
  EXPECT_EQ(lost.exitCode, 1) << lost.out << lost.err;
  EXPECT_TRUE(lost.Has("Reboot failed!")) << lost.out;
  EXPECT_FALSE(lost.Has("Reboot done."));

  const CliRun started = RunCli({"run", "--mac", "00:0a:95:00:00:41", kFast});
  EXPECT_EQ(started.exitCode, 0) << started.out << started.err;
  EXPECT_TRUE(started.Has("RUN application.")) << started.out;

  sim.Stop();
  for (const char* identity : {"2122232425262728292a2b", "a1a2a3a4a5a6a7a8a9aaab"}) {
    const std::string summary = SummaryOf(sim.output(), identity);
    EXPECT_NE(summary.find(" mode=app "), std::string::npos) << summary;
    EXPECT_NE(summary.find(" runs=1 "), std::string::npos) << summary;
    EXPECT_NE(summary.find(" writes=0 "), std::string::npos) << summary;
  }
  EXPECT_NE(SummaryOf(sim.output(), "3132333435363738393a3b").find(" runs=0 "), std::string::npos)
      << sim.output();
}

TEST_F(Cli, InspectListsEverySectionOfAFile) {
  const auto a = PatternBytes(20), b = PatternBytes(700, 3);
  WriteFile(file, FirmwareFileBytes(2, {{33, 0x0001, 0, 0, a},
                                        {33, 0x3680, 0x01, 0x05, section},
                                        {34, 0x3680, 0x12, 0x80, b}}));
  const CliRun run = RunCli({"inspect", file});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  const auto lines = run.Lines();
  ASSERT_EQ(lines.size(), 4u) << run.out;
  char expected[160];
  std::snprintf(expected, sizeof expected,
                "section 2: format 2  mcu 0x0022  device 0x3680  param 0x1180  length 700  "
                "crc 0x%.4X  ",
                ComputeImageCrc(b));
  EXPECT_EQ(lines[2].rfind(expected, 0), 0u) << lines[2];
  EXPECT_EQ(lines[3], "3 section(s) of 3 declared");

  const CliRun json = RunCli({"inspect", "--json", file});
  const auto events = json.Events();
  ASSERT_EQ(events.size(), 4u);
  EXPECT_EQ(events[1]["crc"], ComputeImageCrc(section));
  EXPECT_EQ(events[1]["length"], 1300);

  auto bytes = FirmwareFileBytes(2, {{33, 0x0001, 0, 0, a}, {33, 0x3680, 0, 0, b}});
  bytes.resize(bytes.size() - 10);
  WriteFile(file, bytes);
  const CliRun truncated = RunCli({"inspect", file});
  EXPECT_EQ(truncated.exitCode, 2);
  // Anything but a regular file is refused, never read.
  for (const char* special : {"/", "/dev/zero"})
    EXPECT_EQ(RunCli({"inspect", special}).exitCode, 2) << special;
  EXPECT_TRUE(truncated.Has("Refused: Firmware file not readable! (ERROR FILE)")) << truncated.out;
}

// Every command that reached a device leaves one journal line saying what
// happened, and `history` gives the lines back, also as CSV.
TEST_F(Cli, TheJournalRecordsWhatReachedEachDeviceAndHistoryGivesItBack) {
  CSimulatorProcess sim(
      QUORVIK_DEVSIM_PATH,
      Devices({AppDevice("2122232425262728292a2b", "00-0A-95-00-00-21"),
               AppDevice("3132333435363738393a3b", "00-0A-95-00-00-31", R"(, "dropAcks": [3])"),
               AppDevice("4142434445464748494a4b", "00-0A-95-00-00-41",
                         R"(, "imageNeverStarts": true)")}));
  ASSERT_TRUE(sim.ready());
  EXPECT_EQ(RunCli({"update", "-f", file, "--serial", "2122232425262728292A2B", kFast}).exitCode,
            0);
  EXPECT_EQ(RunCli({"update", "-f", file, "--serial", "3132333435363738393A3B", kFast}).exitCode,
            1);
  // Written and started, but the image did not run: the device answers
  // from its loader again.
  const CliRun stuck =
      RunCli({"update", "-f", file, "--serial", "4142434445464748494A4B", "--json", kFast});
  EXPECT_EQ(stuck.exitCode, 1) << stuck.out;
  const auto stuckEvents = stuck.Events();
  const nlohmann::json* stuckResult = EventOf(stuckEvents, "device_result");
  ASSERT_TRUE(stuckResult);
  EXPECT_EQ((*stuckResult)["confirmed"], "in-loader");
  EXPECT_EQ((*stuckResult)["reason"], "Device still in its bootloader after RUN application");
  EXPECT_EQ(RunCli({"reset", "--serial", "2122232425262728292A2B", "--yes", kFast}).exitCode, 0);
  // Declined: nothing reached the device, nothing is journalled.
  EXPECT_EQ(RunCli({"reset", "--serial", "2122232425262728292A2B", kFast}, "n\n").exitCode, 2);

  const auto lines = Journal();
  ASSERT_EQ(lines.size(), 4u);
  std::vector<std::string> names;
  for (const auto& field : lines[0]) names.push_back(field.name);
  std::vector<std::string> expected = kJournalCommonFields;
  expected.insert(expected.end(), kJournalUpdateFields.begin(), kJournalUpdateFields.end());
  EXPECT_EQ(names, expected);
  const std::vector<uint8_t> fileBytes = ReadAll(file);
  char crc[8];
  std::snprintf(crc, sizeof crc, "0x%04x", ComputeImageCrc(WrittenImage()));
  const FlatRecord ok = {{"program", std::string("quorvik-cli")},
                         {"interface", std::string("127.0.0.1")},
                         {"command", std::string("update")},
                         {"outcome", std::string("ok")},
                         {"reason", std::string("RUN application.")},
                         {"device", std::string("Matrix Wall")},
                         {"deviceId", std::string("0x3680")},
                         {"serial", std::string("2122232425262728292A2B")},
                         {"mac", std::string("00-0A-95-00-00-21")},
                         {"loaderType", std::string("0x0300")},
                         {"version", std::string("1.02")},
                         {"confirmed", std::string("running")},
                         {"file", file},
                         {"sha256", Sha256Hex(fileBytes)},
                         {"section", int64_t{1}},
                         {"bytes", int64_t{1300}},
                         {"blocks", int64_t{6}},
                         {"crc", std::string(crc)},
                         {"verified", true}};
  for (const JsonField& field : ok)
    EXPECT_EQ(*FieldOf(lines[0], field.name), field.value) << field.name;
  EXPECT_EQ(TextOf(lines[1], "reason"), "Timeout on write data! [0000]");
  EXPECT_EQ(*FieldOf(lines[1], "blocks"), JsonValue(int64_t{2}));
  EXPECT_EQ(*FieldOf(lines[1], "confirmed"), JsonValue(nullptr));
  EXPECT_EQ(*FieldOf(lines[1], "crc"), JsonValue(nullptr));
  EXPECT_EQ(TextOf(lines[2], "outcome"), "failed");
  EXPECT_EQ(TextOf(lines[2], "confirmed"), "in-loader");
  EXPECT_EQ(TextOf(lines[3], "command"), "reset");
  EXPECT_EQ(TextOf(lines[3], "reason"), "Set >Matrix Wall< to Factory Defaults.");
  EXPECT_EQ(FieldOf(lines[3], "file"), nullptr);

  const CliRun csv = RunCli({"history", "--csv"});
  EXPECT_EQ(csv.exitCode, 0) << csv.err;
  const auto rows = ParseCsv(csv.out);
  ASSERT_EQ(rows.size(), 5u) << csv.out;
  EXPECT_EQ(rows[0], expected);
  EXPECT_EQ(rows[2][6], "Timeout on write data! [0000]");
  EXPECT_EQ(rows[4][6], "Set >Matrix Wall< to Factory Defaults.");
  EXPECT_EQ(rows[4][14], "");  // no file for a reset

  const CliRun one = RunCli({"history", "--serial", "3132333435363738393a3b", "--json"});
  const auto events = one.Events();
  ASSERT_EQ(events.size(), 2u) << one.out;
  EXPECT_EQ(events[0]["outcome"], "failed");
  EXPECT_EQ(events[1]["count"], 1);
}

// Whatever a device calls itself, its history line keeps its fields apart
// and its order.
TEST_F(Cli, AHistoryLineParsesWhateverTheDeviceIsCalled) {
  std::ofstream(journal) << nlohmann::json{{"time", "2026-12-01T18:30:00Z"},
                                           {"command", "reset"},
                                           {"outcome", "ok"},
                                           {"reason", "Set >x< to Factory Defaults."},
                                           {"device", "He said \"hi\", ok\\ \u202E"},
                                           {"serial", "2122"},
                                           {"mac", "00-0A-95-00-00-21"},
                                           {"version", "1.02"}}
                                .dump()
                         << "\n";
  const CliRun run = RunCli({"history"});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.out, R"(2026-12-01T18:30:00Z  reset ok  "He said \"hi\", ok\\ ?" serial=2122 )"
                     R"(mac=00-0A-95-00-00-21 version=1.02 reason="Set >x< to Factory Defaults.")"
                     "\n");
}

// A value that names nothing is bad usage, said in a line or two, before
// anything else happens.
TEST_F(Cli, AValueThatNamesNothingIsAUsageError) {
  const struct {
    std::vector<std::string> args;
    std::string says;
  } cases[] = {
      {{"history", "--since", "2026-13-45"}, "--since takes a date"},
      {{"history", "--since", "2026-02-30"}, "--since takes a date"},
      {{"history", "--since", "2026-12-01T25:99:00Z"}, "--since takes a date"},
      {{"history", "--journal", (dir / "none.jsonl").string()}, "journal: no file at"},
      {{"list", "--wait-lock", "nan"}, "--wait-lock: a decimal number is needed"},
      {{"update", "-f", file, "--row", "0", "--chain", "--max-devices", "0"},
       "--max-devices: a number of devices is needed, 1 or more"},
      {{"list", "--iface", ""}, "--iface: an IPv4 address is needed"},
      {{"reset", "--row", "0", "--journal", journal, "--no-journal"}, "excludes"},
  };
  // Else it would stand for the journal named.
  ::unsetenv("QUORVIK_JOURNAL");
  for (const auto& c : cases) {
    const CliRun run = RunCli(c.args);
    EXPECT_EQ(run.exitCode, 2) << c.args[2] << "\n" << run.out << run.err;
    EXPECT_NE(run.err.find(c.says), std::string::npos) << run.err;
    EXPECT_LE(std::count(run.err.begin(), run.err.end(), '\n'), 2) << run.err;
  }
}

// A run that cannot use the network says why and sends nothing: another
// program holds the ports, a port is taken, or the command line is wrong.
TEST_F(Cli, ARunThatCannotUseTheNetworkSaysWhyAndEndsWithAResult) {
  {
    const CInstanceLock::Attempt held = CInstanceLock::Acquire("holder-test");
    ASSERT_TRUE(held.lock);
    const CliRun busy = RunCli({"list", "--json", kFast});
    EXPECT_EQ(busy.exitCode, 2);
    const auto events = busy.Events();
    ASSERT_EQ(events.size(), 2u) << busy.out;
    EXPECT_EQ(events[0]["event"], "error");
    EXPECT_NE(events[0]["text"].get<std::string>().find("holder-test (pid " +
                                                        std::to_string(::getpid()) + ")"),
              std::string::npos)
        << events[0];
    EXPECT_EQ(events[1]["outcome"], "refused");
  }

  const int holder = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_in any{};
  any.sin_family = AF_INET;
  any.sin_port = htons(6454);
  ASSERT_EQ(::bind(holder, reinterpret_cast<const sockaddr*>(&any), sizeof any), 0);
  const CliRun held = RunCli({"list", kFast});
  ::close(holder);
  EXPECT_EQ(held.exitCode, 1);
  EXPECT_NE(held.err.find("quorvik-cli: not every port could be opened\nquorvik-cli: UDP port 6454 "
                          "(devices running their application): Address already in use; another "
                          "program holds it\n"),
            std::string::npos)
      << held.err;

  const CliRun usage = RunCli({"update", "--serial", "21", "--json"});
  EXPECT_EQ(usage.exitCode, 2);
  const auto events = usage.Events();
  ASSERT_EQ(events.size(), 2u) << usage.out;
  EXPECT_EQ(events[0]["event"], "error");
  EXPECT_EQ(events[1],
            (nlohmann::json{
                {"event", "result"}, {"command", "update"}, {"outcome", "refused"}, {"exit", 2}}));
}

// Ctrl-C ends the acknowledgement wait at once and reports what was done.
TEST_F(Cli, AnInterruptEndsTheWriteAtOnceAndSaysHowFarItGot) {
  CSimulatorProcess sim(QUORVIK_DEVSIM_PATH,
                        Devices({AppDevice("2122232425262728292a2b", "00-0A-95-00-00-21",
                                           R"(, "delayAck": {"index": 3, "ms": 30000})")}));
  ASSERT_TRUE(sim.ready());
  std::chrono::steady_clock::time_point signalled;
  const CliRun run =
      RunCli({"update", "-f", file, "--row", "0", "--json", kFast}, "", [&](const std::string& l) {
        // The third of the six blocks is being written.
        if (l.find("\"max\":5,\"percent\":60") == std::string::npos || g_running < 0) return;
        signalled = std::chrono::steady_clock::now();
        ::kill(g_running, SIGINT);
      });
  const auto took = std::chrono::steady_clock::now() - signalled;
  EXPECT_EQ(run.exitCode, 130) << run.out << run.err;
  EXPECT_LT(took, std::chrono::seconds(3));
  const auto events = run.Events();
  const nlohmann::json* result = EventOf(events, "device_result");
  ASSERT_TRUE(result) << run.out;
  EXPECT_EQ((*result)["outcome"], "interrupted");
  EXPECT_EQ((*result)["blocks"], 2);
  EXPECT_NE((*result)["reason"].get<std::string>().find("may be left in its bootloader"),
            std::string::npos);
  EXPECT_EQ(events.back()["event"], "result");
  EXPECT_EQ(events.back()["outcome"], "interrupted");
  EXPECT_EQ(run.out.find("Timeout on write data!"), std::string::npos);
  ASSERT_EQ(Journal().size(), 1u);
  EXPECT_EQ(TextOf(Journal()[0], "outcome"), "interrupted");
}

// The doctor's findings by id, from its JSON events.
std::map<std::string, nlohmann::json> DoctorChecks(const CliRun& run) {
  std::map<std::string, nlohmann::json> checks;
  for (const auto& event : run.Events())
    if (event["event"] == "check") checks[event["id"]] = event;
  return checks;
}

TEST_F(Cli, DoctorNamesTheProgramThatHoldsAPortAndSearchesOnTheOthers) {
  // Held without address reuse, as a program that does not share would.
  const int holder = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_port = htons(kAppPort);
  ASSERT_EQ(::bind(holder, reinterpret_cast<const sockaddr*>(&local), sizeof local), 0);

  const CliRun run = RunCli({"doctor", "--json", kFast});
  ::close(holder);
  auto checks = DoctorChecks(run);
  const std::string me = std::to_string(::getpid());
  EXPECT_EQ(checks["port-6454"]["status"], "warn");
  EXPECT_NE(checks["port-6454"]["title"].get<std::string>().find("(pid " + me + ", "),
            std::string::npos)
      << checks["port-6454"];
  EXPECT_EQ(checks["port-10001"]["status"], "pass");
  EXPECT_EQ(checks["search"]["status"], "warn");
  EXPECT_NE(
      checks["search"]["detail"].get<std::string>().find("not opened 6454: Address already in use"),
      std::string::npos)
      << checks["search"];
  // Only lo: no real card, and the chosen one reaches nothing else.
  EXPECT_EQ(checks["interfaces"]["status"], "fail");
  EXPECT_EQ(checks["chosen"]["status"], "warn");
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.Events().back()["event"], "result");

  const CliRun text = RunCli({"doctor", kFast});
  EXPECT_TRUE(text.Has("PASS  UDP 10010 is free: answers of bootloaders")) << text.out;
  EXPECT_EQ(text.Lines().back(), "Network check: 6 pass, 2 warn, 1 fail") << text.out;
}

TEST_F(Cli, DoctorFindsTheFirewallRuleThatDropsAnswersAndTheSearchConfirmsIt) {
  CSimulatorProcess sim(QUORVIK_DEVSIM_PATH,
                        Devices({AppDevice("2122232425262728292a2b", "00-0a-95-00-00-21")}));
  ASSERT_TRUE(sim.ready());
  auto checks = DoctorChecks(RunCli({"doctor", "--json", kFast}));
  EXPECT_EQ(checks["search"]["status"], "pass") << checks["search"];
  EXPECT_EQ(checks["search"]["detail"], "answers per port 10001: 0, 10010: 0, 6454: 1");

  // Only ever inside this test's private namespace (the fixture skips
  // anywhere else): its ruleset is its own.
  if (std::system("nft add table inet quorvik_test && nft add chain inet quorvik_test input "
                  "'{ type filter hook input priority 0; policy accept; }' && nft add rule inet "
                  "quorvik_test input udp dport 6454 drop 2>/dev/null") != 0)
    GTEST_SKIP() << "nft cannot add rules here (not installed, or no CAP_NET_ADMIN in the "
                    "namespace); the firewall part is not tested";
  const CliRun run = RunCli({"doctor", "--json", kFast});
  std::system("nft delete table inet quorvik_test");
  checks = DoctorChecks(run);
  EXPECT_EQ(checks["firewall"]["status"], "fail");
  EXPECT_EQ(checks["firewall"]["detail"],
            "UDP 6454 (unicast) by nftables inet quorvik_test chain input: udp dport 6454 drop");
  EXPECT_EQ(checks["search"]["status"], "warn");
  EXPECT_EQ(checks["search"]["detail"], "answers per port 10001: 0, 10010: 0, 6454: 0");
}

// A rig of mixed loaders updated in one run: planned from one search (what
// fits, what not, two loaders told apart by serial behind the placeholder
// address), each device found again by what tells it apart, a lost device
// and one whose acknowledgement is lost (tried again), and a tally.
TEST_F(Cli, UpdateAllPlansThenUpdatesEveryDeviceAndCountsThem) {
  const auto boot = [](const std::string& identity, const std::string& more) {
    return R"({"mode": "boot", "deviceId": 13952, "mcuId": 33, "identity": ")" + identity + "\"" +
           more + "}";
  };
  CSimulatorProcess sim(
      QUORVIK_DEVSIM_PATH,
      Devices(
          {AppDevice("a1a1a1a1a1a1a1a1a1a1a1", "00-0A-95-00-00-A1"),
           AppDevice("b2b2b2b2b2b2b2b2b2b2b2", "00-0A-95-00-00-B2", R"(, "neverReturn": true)"),
           boot("c3c3c3c3c3c3c3c3c3c3c3",
                R"(, "loaderType": 1, "blockSize": 128, "mac": "00-60-35-00-00-00")"),
           boot(
               "d4d4d4d4d4d4d4d4d4d4d4d4d4d4d4d4",
               R"(, "loaderType": 512, "blockSize": 256, "mac": "00-60-35-00-00-00", "bootPort": 10010)"),
           AppDevice("e5e5e5e5e5e5e5e5e5e5e5", "00-0A-95-00-00-E5",
                     R"(, "loaderType": 512, "dropAcks": [2])"),
           boot("f6f6f6f6f6f6f6f6f6f6f6", R"(, "loaderType": 768, "blockSize": 512)"),
           AppDevice("a7a7a7a7a7a7a7a7a7a7a7", "00-0A-95-00-00-A7",
                     R"(, "loaderType": 1, "blockSize": 64)"),
           R"({"mode": "boot", "deviceId": 4660, "identity": "a8a8a8a8a8a8a8a8a8a8a8"})",
           boot("a9a9a9a9a9a9a9a9a9a9a9", R"(, "mcuId": 34)")}));
  ASSERT_TRUE(sim.ready());

  const CliRun dry = RunCli({"update", "--file", file, "--all", "--dry-run", "--json", kFast});
  EXPECT_EQ(dry.exitCode, 0) << dry.out << dry.err;
  const auto dryEvents = dry.Events();
  const nlohmann::json* plan = EventOf(dryEvents, "plan");
  ASSERT_TRUE(plan);
  ASSERT_EQ((*plan)["devices"].size(), 7u) << *plan;
  ASSERT_EQ((*plan)["skipped"].size(), 2u);
  std::set<std::string> reasons;
  for (const auto& skip : (*plan)["skipped"]) reasons.insert(skip["reason"]);
  EXPECT_EQ(reasons, (std::set<std::string>{"Wrong firmware file selected! (ERROR DEVICE)",
                                            "Wrong firmware file selected! (ERROR MCU)"}));
  for (const auto& d : (*plan)["devices"]) {
    // What a running device is made of shows only after its restart.
    EXPECT_EQ(d["section"].is_null(), d["mode"] == "app") << d;
    EXPECT_GT(d["estimateMs"], 0);
  }
  // Estimated for the waits the run makes: the fixed pauses cost each
  // device 5.1 s instead of a boot and a poll after its run request, and a
  // running one 8 s instead of a boot, a poll and the settle time after
  // its restart request.
  const CliRun fixed =
      RunCli({"update", "--file", file, "--all", "--dry-run", "--json", "--fixed-waits", kFast});
  const auto fixedEvents = fixed.Events();
  const nlohmann::json* fixedPlan = EventOf(fixedEvents, "plan");
  ASSERT_TRUE(fixedPlan) << fixed.out << fixed.err;
  std::map<std::string, int64_t> moreBySerial;
  for (const auto& d : (*fixedPlan)["devices"])
    moreBySerial[d["serial"]] += d["estimateMs"].get<int64_t>();
  for (const auto& d : (*plan)["devices"])
    moreBySerial[d["serial"]] -= d["estimateMs"].get<int64_t>();
  for (const auto& d : (*plan)["devices"])
    EXPECT_EQ(moreBySerial[d["serial"]], d["mode"] == "app" ? 3850 + 6450 : 3850) << d;
  // Without a terminal to ask, and without --yes, nothing is updated.
  EXPECT_EQ(RunCli({"update", "--file", file, "--all", kFast}).exitCode, 2);
  EXPECT_TRUE(Journal().empty());

  const CliRun run = RunCli(
      {"update", "--file", file, "--all", "--yes", "--retries", "1", "--json", "--time-scale=0.1"});
  EXPECT_EQ(run.exitCode, 1) << run.out << run.err;
  const auto events = run.Events();
  const nlohmann::json* summary = EventOf(events, "summary");
  ASSERT_TRUE(summary) << run.out;
  EXPECT_EQ(*summary, (nlohmann::json{{"event", "summary"},
                                      {"planned", 7},
                                      {"updated", 6},
                                      {"failed", 1},
                                      {"skipped", 2},
                                      {"notStarted", 0},
                                      {"running", 6}}));
  EXPECT_EQ(events.back()["event"], "result");
  // Every attempt that reached a device is journalled: the lost one once,
  // the one tried again twice.
  const auto lines = Journal();
  ASSERT_EQ(lines.size(), 8u);
  std::map<std::string, std::vector<std::string>> outcomes;
  for (const auto& line : lines)
    outcomes[TextOf(line, "serial").substr(0, 2)].push_back(TextOf(line, "outcome"));
  EXPECT_EQ(outcomes["B2"], std::vector<std::string>{"failed"});
  EXPECT_EQ(outcomes["E5"], (std::vector<std::string>{"failed", "ok"}));
  sim.Stop();
  for (const auto& [identity, blockSize] :
       std::vector<std::pair<std::string, size_t>>{{"a1a1a1a1a1a1a1a1a1a1a1", 512},
                                                   {"c3c3c3c3c3c3c3c3c3c3c3", 128},
                                                   {"d4d4d4d4d4d4d4d4d4d4d4d4d4d4d4d4", 256},
                                                   {"e5e5e5e5e5e5e5e5e5e5e5", 512},
                                                   {"f6f6f6f6f6f6f6f6f6f6f6", 512},
                                                   {"a7a7a7a7a7a7a7a7a7a7a7", 64}}) {
    std::vector<uint8_t> expected = section;
    expected.resize((section.size() + blockSize - 1) / blockSize * blockSize, 0xFF);
    EXPECT_EQ(ReadAll(sim.dumpDir() / (identity + ".img")), expected) << identity;
  }
  for (const char* untouched : {"a8a8a8a8a8a8a8a8a8a8a8", "a9a9a9a9a9a9a9a9a9a9a9"})
    EXPECT_NE(SummaryOf(sim.output(), untouched).find(" writes=0 "), std::string::npos);
}

// Devices on addresses of their own are written side by side; two that
// share an address can be told apart by no acknowledgement and go one after
// the other. A device that fails, one tried again and one that never comes
// back do not disturb the others' transfers.
TEST_F(Cli, UpdateAllWritesDevicesOnAddressesOfTheirOwnSideBySide) {
  const auto boot = [](const std::string& identity, const std::string& more) {
    return R"({"mode": "boot", "deviceId": 13952, "mcuId": 33, "identity": ")" + identity + "\"" +
           more + "}";
  };
  struct Sim {
    std::string source, config;
  };
  const std::vector<Sim> sims = {
      {"127.0.0.2", Devices({AppDevice("a1a1a1a1a1a1a1a1a1a1a1", "00-0A-95-00-00-A1")})},
      {"127.0.0.3",
       Devices({boot("c3c3c3c3c3c3c3c3c3c3c3",
                     R"(, "loaderType": 1, "blockSize": 128, "mac": "00-0A-95-00-00-C3")")})},
      {"127.0.0.4", Devices({AppDevice("e5e5e5e5e5e5e5e5e5e5e5", "00-0A-95-00-00-E5",
                                       R"(, "loaderType": 512, "dropAcks": [2])")})},
      {"127.0.0.5",
       Devices({AppDevice("d1d1d1d1d1d1d1d1d1d1d1", "00-0A-95-00-00-D1"),
                boot("d2d2d2d2d2d2d2d2d2d2d2",
                     R"(, "loaderType": 768, "blockSize": 512, "mac": "00-0A-95-00-00-D2")")})},
      {"127.0.0.6", Devices({AppDevice("b2b2b2b2b2b2b2b2b2b2b2", "00-0A-95-00-00-B2",
                                       R"(, "neverReturn": true)")})},
      {"127.0.0.7",
       Devices({boot("f1f1f1f1f1f1f1f1f1f1f1",
                     R"(, "loaderType": 1, "blockSize": 128, "mac": "00-0A-95-00-00-F1")")})},
      {"127.0.0.8",
       Devices({boot("f2f2f2f2f2f2f2f2f2f2f2",
                     R"(, "loaderType": 512, "blockSize": 256, "mac": "00-0A-95-00-00-F2")")})},
      {"127.0.0.9", Devices({AppDevice("f3f3f3f3f3f3f3f3f3f3f3", "00-0A-95-00-00-F3")})},
      {"127.0.0.10", Devices({AppDevice("f4f4f4f4f4f4f4f4f4f4f4", "00-0A-95-00-00-F4",
                                        R"(, "loaderType": 512)")})},
      {"127.0.0.11",
       Devices({boot("f5f5f5f5f5f5f5f5f5f5f5",
                     R"(, "loaderType": 768, "blockSize": 512, "mac": "00-0A-95-00-00-F5")")})},
      {"127.0.0.12", Devices({AppDevice("f6f6f6f6f6f6f6f6f6f6f6", "00-0A-95-00-00-F6",
                                        R"(, "loaderType": 1)")})}};
  std::vector<std::unique_ptr<CSimulatorProcess>> running;
  for (const Sim& sim : sims) {
    running.push_back(std::make_unique<CSimulatorProcess>(QUORVIK_DEVSIM_PATH, sim.config,
                                                          "--source " + sim.source));
    ASSERT_TRUE(running.back()->ready());
  }

  const CliRun run = RunCli({"update", "--file", file, "--all", "--yes", "--parallel", "6",
                             "--retries", "1", "--json", kFast});
  EXPECT_EQ(run.exitCode, 1) << run.out << run.err;
  const auto events = run.Events();
  const nlohmann::json* summary = EventOf(events, "summary");
  ASSERT_TRUE(summary) << run.out;
  EXPECT_EQ(*summary, (nlohmann::json{{"event", "summary"},
                                      {"planned", 12},
                                      {"updated", 11},
                                      {"failed", 1},
                                      {"skipped", 0},
                                      {"notStarted", 0},
                                      {"running", 11}}));
  std::map<std::string, std::vector<std::string>> outcomes;
  for (const auto& line : Journal())
    outcomes[TextOf(line, "serial").substr(0, 2)].push_back(TextOf(line, "outcome"));
  EXPECT_EQ(outcomes, (std::map<std::string, std::vector<std::string>>{{"A1", {"ok"}},
                                                                       {"B2", {"failed"}},
                                                                       {"C3", {"ok"}},
                                                                       {"D1", {"ok"}},
                                                                       {"D2", {"ok"}},
                                                                       {"E5", {"failed", "ok"}},
                                                                       {"F1", {"ok"}},
                                                                       {"F2", {"ok"}},
                                                                       {"F3", {"ok"}},
                                                                       {"F4", {"ok"}},
                                                                       {"F5", {"ok"}},
                                                                       {"F6", {"ok"}}}));
  // Writes of several devices were told apart by device.
  EXPECT_NE(run.out.find("\"event\":\"device_progress\""), std::string::npos);

  for (auto& sim : running) sim->Stop();
  const std::vector<std::tuple<size_t, std::string, size_t>> images = {
      {0, "a1a1a1a1a1a1a1a1a1a1a1", 256}, {1, "c3c3c3c3c3c3c3c3c3c3c3", 128},
      {2, "e5e5e5e5e5e5e5e5e5e5e5", 256}, {3, "d1d1d1d1d1d1d1d1d1d1d1", 256},
      {3, "d2d2d2d2d2d2d2d2d2d2d2", 512}, {5, "f1f1f1f1f1f1f1f1f1f1f1", 128},
      {6, "f2f2f2f2f2f2f2f2f2f2f2", 256}, {7, "f3f3f3f3f3f3f3f3f3f3f3", 256},
      {8, "f4f4f4f4f4f4f4f4f4f4f4", 256}, {9, "f5f5f5f5f5f5f5f5f5f5f5", 512},
      {10, "f6f6f6f6f6f6f6f6f6f6f6", 256}};
  for (const auto& [sim, identity, blockSize] : images) {
    std::vector<uint8_t> expected = section;
    expected.resize((section.size() + blockSize - 1) / blockSize * blockSize, 0xFF);
    EXPECT_EQ(ReadAll(running[sim]->dumpDir() / (identity + ".img")), expected) << identity;
  }
  // The pair on one address: every acknowledgement of one before any of the
  // other's.
  std::istringstream log(running[3]->output());
  std::string previous;
  int switches = 0;
  for (std::string line; std::getline(log, line);) {
    if (line.rfind("tx ", 0) != 0 || line.find(" op=0x5011 ") == std::string::npos) continue;
    const size_t at = line.find(" index=");
    const std::string device = line.substr(at, line.find(' ', at + 1) - at);
    if (!previous.empty() && device != previous) ++switches;
    previous = device;
  }
  EXPECT_EQ(switches, 1) << running[3]->output();
}

// An unattended run goes on when the device answers: a restarted device is
// written only once its loader was heard after the restart request; a
// loader that answers before it takes blocks costs an attempt, never a
// success; every line names the waits, and --fixed-waits brings back the
// one-device update's pauses. The one-device update keeps them always.
TEST_F(Cli, AFleetWaitsForEachDeviceToAnswerAndSaysSo) {
  CSimulatorProcess a(QUORVIK_DEVSIM_PATH,
                      Devices({AppDevice("a1a1a1a1a1a1a1a1a1a1a1", "00-0A-95-00-00-A1")}),
                      "--source 127.0.0.2");
  CSimulatorProcess b(QUORVIK_DEVSIM_PATH,
                      Devices({AppDevice("b2b2b2b2b2b2b2b2b2b2b2", "00-0A-95-00-00-B2",
                                         R"(, "bootDelayMs": 300, "takesBlocksAfterMs": 2000)")}),
                      "--source 127.0.0.3");
  ASSERT_TRUE(a.ready() && b.ready());
  EXPECT_EQ(RunCli({"update", "--file", file, "--serial", "a1a1a1a1a1a1a1a1a1a1a1", "--settle",
                    "100", kFast})
                .exitCode,
            2);

  const CliRun run = RunCli(
      {"update", "--file", file, "--all", "--yes", "--retries", "1", "--parallel", "2", kFast});
  EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
  std::map<std::string, std::vector<std::string>> outcomes;
  for (const auto& line : Journal()) {
    outcomes[TextOf(line, "serial").substr(0, 2)].push_back(TextOf(line, "outcome"));
    EXPECT_EQ(TextOf(line, "waits"), "ready");
  }
  EXPECT_EQ(outcomes, (std::map<std::string, std::vector<std::string>>{{"A1", {"ok"}},
                                                                       {"B2", {"failed", "ok"}}}));
  for (CSimulatorProcess* sim : {&a, &b}) {
    // Nothing is written before the loader is there to take it.
    const std::string log = sim->output();
    // (Every simulator hears the other's writes, matched by none of its
    // devices.)
    const size_t inLoader = log.find("what=mode mode=boot");
    size_t firstWrite = std::string::npos;
    std::istringstream lines(log);
    for (std::string line; firstWrite == std::string::npos && std::getline(lines, line);)
      if (line.find(" op=0x5010 ") != std::string::npos && line.find(" matched=1") != line.npos)
        firstWrite = log.find(line);
    ASSERT_NE(firstWrite, std::string::npos) << log;
    EXPECT_LT(inLoader, firstWrite) << log;
  }
  EXPECT_NE(b.output().find("what=write-ignored"), std::string::npos);

  b.Stop();
  const size_t before = Journal().size();
  EXPECT_EQ(RunCli({"update", "--file", file, "--all", "--yes", "--fixed-waits", kFast}).exitCode,
            0);
  const auto lines = Journal();
  ASSERT_EQ(lines.size(), before + 1);
  for (size_t i = before; i < lines.size(); ++i) EXPECT_EQ(TextOf(lines[i], "waits"), "fixed");
}

// Two lanes, four devices in their loaders: a lane that frees up takes the
// next of them at once instead of leaving it to a second wave, which would
// begin only after the search that confirms the first.
TEST_F(Cli, ALaneThatFreesUpTakesTheNextDeviceInItsLoader) {
  std::vector<std::unique_ptr<CSimulatorProcess>> sims;
  for (const char* id : {"c1", "c2", "c3", "c4"}) {
    const std::string identity = std::string(id) + "c0c0c0c0c0c0c0c0c0c0";
    sims.push_back(std::make_unique<CSimulatorProcess>(
        QUORVIK_DEVSIM_PATH,
        Devices({R"({"mode": "boot", "deviceId": 13952, "mcuId": 33, "loaderType": 897,)"
                 R"( "identity": ")" +
                 identity + R"(", "mac": "00-0A-95-00-00-)" + id + "\"}"}),
        "--source 127.0.0." + std::to_string(20 + sims.size())));
    ASSERT_TRUE(sims.back()->ready());
  }
  const CliRun run =
      RunCli({"update", "--file", file, "--all", "--yes", "--parallel", "2", "--json", kFast});
  EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
  const std::vector<FlatRecord> lines = AllJournalLines();
  ASSERT_EQ(lines.size(), 8u);
  for (size_t i = 0; i < 4; ++i) EXPECT_TRUE(IsStartLine(lines[i])) << i;
}

// The first device is the canary: it never comes back, so the file is not
// tried on the rest.
// Running devices on addresses of their own whose loaders come up on one
// address: an acknowledgement could be either's, so their writes, side by
// side until the restart, go one at a time after it. A write one of them
// fails is never taken for the other's acknowledgement.
TEST_F(Cli, LoadersThatShareAnAddressAreWrittenOneAtATime) {
  std::vector<std::unique_ptr<CSimulatorProcess>> sims;
  for (const auto& [id, more] : std::vector<std::pair<std::string, std::string>>{
           {"d1", ""}, {"d2", R"(, "failWrite": {"index": 60, "status": 5})"}}) {
    sims.push_back(std::make_unique<CSimulatorProcess>(
        QUORVIK_DEVSIM_PATH,
        Devices({AppDevice(id + std::string(20, '0'), "00-0A-95-00-00-" + id,
                           R"(, "loaderSource": "127.0.0.9")" + more)}),
        "--source 127.0.0." + std::to_string(2 + sims.size())));
    ASSERT_TRUE(sims.back()->ready());
  }
  // Long enough for every block of the one to fall due while the other
  // waits.
  const std::vector<uint8_t> longer = PatternBytes(100 * 256, 5);
  WriteFile(file, FirmwareFileBytes(2, {{33, 0x3680, 0x01, 0x05, longer}}));
  const CliRun run =
      RunCli({"update", "--file", file, "--all", "--yes", "--parallel", "2", "--json", kFast});
  EXPECT_EQ(run.exitCode, 1) << run.out << run.err;
  // One device's blocks, then the other's: never both at once.
  std::string previous;
  int switches = 0;
  for (const auto& e : run.Events()) {
    if (e["event"] != "device_progress") continue;
    if (!previous.empty() && e["serial"] != previous) ++switches;
    previous = e["serial"];
  }
  EXPECT_EQ(switches, 1) << run.out;
  std::map<std::string, std::string> outcomes;
  for (const auto& line : Journal()) outcomes[TextOf(line, "serial")] = TextOf(line, "outcome");
  EXPECT_EQ(outcomes,
            (std::map<std::string, std::string>{{"D1" + std::string(20, '0'), "ok"},
                                                {"D2" + std::string(20, '0'), "failed"}}));
  for (auto& sim : sims) sim->Stop();
  EXPECT_EQ(ReadAll(sims[0]->dumpDir() / "d100000000000000000000.img"), longer);
}

TEST_F(Cli, ACanaryThatDoesNotComeBackRunningLeavesTheRestAlone) {
  CSimulatorProcess sim(
      QUORVIK_DEVSIM_PATH,
      Devices({AppDevice("b2b2b2b2b2b2b2b2b2b2b2", "00-0A-95-00-00-B2", R"(, "neverReturn": true)"),
               AppDevice("a1a1a1a1a1a1a1a1a1a1a1", "00-0A-95-00-00-A1")}));
  ASSERT_TRUE(sim.ready());
  const CliRun run = RunCli({"update", "--file", file, "--all", "--yes", "--parallel", "2",
                             "--canary", "1", "--json", kFast});
  EXPECT_EQ(run.exitCode, 1) << run.out << run.err;
  const auto events = run.Events();
  const nlohmann::json* summary = EventOf(events, "summary");
  ASSERT_TRUE(summary) << run.out;
  EXPECT_EQ(*summary, (nlohmann::json{{"event", "summary"},
                                      {"planned", 2},
                                      {"updated", 0},
                                      {"failed", 1},
                                      {"skipped", 0},
                                      {"notStarted", 1},
                                      {"running", 0}}));
  const nlohmann::json* error = EventOf(events, "error");
  ASSERT_TRUE(error) << run.out;
  EXPECT_NE(error->at("text").get<std::string>().find("first device B2B2B2B2B2B2B2B2B2B2B2 failed"),
            std::string::npos)
      << *error;
  sim.Stop();
  EXPECT_NE(SummaryOf(sim.output(), "a1a1a1a1a1a1a1a1a1a1a1").find(" writes=0 "),
            std::string::npos);
}

// Two devices that answer with one serial (cloned, or a factory default):
// every request names the serial, so anything sent would reach both. They
// are one row, marked, and nothing goes to them.
TEST_F(Cli, DevicesAnsweringWithOneSerialAreMarkedAndNoCommandReachesThem) {
  const std::string id = "c3c3c3c3c3c3c3c3c3c3c3";
  const auto boot = [&](const std::string& more) {
    return Devices({R"({"mode": "boot", "mcuId": 33, "identity": ")" + id + "\"" + more + "}"});
  };
  struct Case {
    const char* name;
    std::string first, second;
    size_t rows;
    std::vector<std::string> named;  // in the refusal
    std::string firstArgs = "", secondArgs = "";
  };
  const std::vector<Case> cases = {
      {"two addresses, one model",
       boot(R"(, "deviceId": 13952, "mac": "02-00-00-00-00-0A")"),
       boot(R"(, "deviceId": 13952, "mac": "02-00-00-00-00-0B")"),
       1,
       {"02-00-00-00-00-0A", "02-00-00-00-00-0B"}},
      {"two models behind the placeholder address",
       boot(R"(, "deviceId": 13952, "loaderType": 512, "mac": "00-60-35-00-00-00")"),
       boot(R"(, "deviceId": 4660, "loaderType": 512, "mac": "00-60-35-00-00-00")"),
       1,
       {"model 0x3680", "model 0x1234"}},
      {"two loader generations behind the placeholder address",
       boot(R"(, "deviceId": 13952, "loaderType": 1, "mac": "00-60-35-00-00-00")"),
       boot(R"(, "deviceId": 13952, "loaderType": 512, "mac": "00-60-35-00-00-00")"),
       2,
       {"loader 0x0001", "loader 0x0200"}},
      // A configuration copied onto a second unit: only the address it
      // answers from differs.
      {"exact clones on two addresses",
       boot(R"(, "deviceId": 13952, "mac": "02-00-00-00-00-0A")"),
       boot(R"(, "deviceId": 13952, "mac": "02-00-00-00-00-0A")"),
       1,
       {"02-00-00-00-00-0A at 127.0.0.2 and 02-00-00-00-00-0A at 127.0.0.3"},
       "--source 127.0.0.2",
       "--source 127.0.0.3"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CSimulatorProcess one(QUORVIK_DEVSIM_PATH, c.first, c.firstArgs);
    CSimulatorProcess two(QUORVIK_DEVSIM_PATH, c.second, c.secondArgs);
    ASSERT_TRUE(one.ready() && two.ready());

    const CliRun list = RunCli({"list", "--json", kFast});
    const nlohmann::json devices = FirstEvent(list, "devices");
    ASSERT_FALSE(devices.is_null()) << list.out;
    ASSERT_EQ(devices["rows"].size(), c.rows) << devices;
    for (const auto& row : devices["rows"]) EXPECT_EQ(row["twins"], 2) << row;
    EXPECT_NE(list.err.find("2 devices answer as serial C3C3"), std::string::npos) << list.err;

    const CliRun plan = RunCli({"update", "--file", file, "--all", "--dry-run", "--json", kFast});
    const nlohmann::json planned = FirstEvent(plan, "plan");
    ASSERT_FALSE(planned.is_null()) << plan.out;
    EXPECT_TRUE(planned["devices"].empty()) << planned;
    for (const auto& skip : planned["skipped"])
      EXPECT_EQ(skip["reason"].get<std::string>().rfind("ambiguous: 2 devices answer", 0), 0u);

    const CliRun update = RunCli({"update", "--file", file, "--row", "0", "--json", kFast});
    EXPECT_EQ(update.exitCode, 2) << update.out;
    const nlohmann::json result = FirstEvent(update, "device_result");
    ASSERT_FALSE(result.is_null()) << update.out;
    EXPECT_EQ(result["outcome"], "refused");
    for (const std::string& named : c.named)
      EXPECT_NE(result["reason"].get<std::string>().find(named), std::string::npos)
          << result["reason"];

    const std::string rig = (dir / "rig.json").string();
    fs::remove(rig);
    EXPECT_EQ(RunCli({"list", "--save-rig", rig, kFast}).exitCode, 0);
    const CliRun roll = RunCli({"rollcall", rig, "--json", kFast});
    EXPECT_NE(roll.exitCode, 0);
    EXPECT_EQ(FirstEvent(roll, "rollcall")["twins"], 2) << roll.out;

    one.Stop();
    two.Stop();
    for (const CSimulatorProcess* sim : {&one, &two})
      EXPECT_NE(SummaryOf(sim->output(), id).find(" writes=0 "), std::string::npos)
          << sim->output();
  }
  EXPECT_TRUE(Journal().empty());
}

// What an update result says is what happened: a section of no bytes is
// no update, a journal that stops taking lines makes the run incomplete,
// and the file is recorded by a path that still means something later.
TEST_F(Cli, ResultsSayWhatReachedTheDeviceAndTheJournal) {
  const std::string boot = R"({"mode": "boot", "loaderType": 897, "deviceId": 13952,
      "mcuId": 33, "bootDelayMs": 100, "identity": "2122232425262728292a2b",
      "mac": "00-0A-95-00-00-21"})";
  CSimulatorProcess sim(QUORVIK_DEVSIM_PATH, Devices({boot}));
  ASSERT_TRUE(sim.ready());

  WriteFile(dir / "empty.bin", FirmwareFileBytes(2, {{33, 0x3680, 0x01, 0x05, {}}}));
  const CliRun inspect = RunCli({"inspect", "empty.bin", "--json"});
  EXPECT_EQ(FirstEvent(inspect, "section")["empty"], true) << inspect.out;
  const CliRun plan =
      RunCli({"update", "--file", "empty.bin", "--all", "--dry-run", "--json", kFast});
  EXPECT_EQ(FirstEvent(plan, "plan")["skipped"][0]["reason"], "empty section");
  const CliRun empty = RunCli({"update", "--file", "empty.bin", "--row", "0", "--json", kFast});
  EXPECT_EQ(empty.exitCode, 0) << empty.out << empty.err;
  const nlohmann::json result = FirstEvent(empty, "device_result");
  ASSERT_FALSE(result.is_null()) << empty.out;
  EXPECT_EQ(result["bytes"], 0);
  EXPECT_EQ(result["warning"], "The file holds no data for this device: nothing was written.");
  ASSERT_EQ(Journal().size(), 1u);
  EXPECT_EQ(TextOf(Journal()[0], "file"), (dir / "empty.bin").string());

  // The journal's folder turns into a file once the run has begun, as a
  // disk that fills up would refuse the line.
  const fs::path folder = dir / "state";
  ::setenv("QUORVIK_JOURNAL", (folder / "journal.jsonl").c_str(), 1);
  for (const bool fleet : {false, true}) {
    SCOPED_TRACE(fleet ? "update --all" : "update --row");
    fs::remove_all(folder);
    std::vector<std::string> args = {"update", "--file", file, "--json", kFast};
    for (const char* more : fleet ? std::vector<const char*>{"--all", "--yes"}
                                  : std::vector<const char*>{"--row", "0"})
      args.push_back(more);
    // Once the blocks (three of 512 bytes) are being written: the update's
    // start is on disk.
    const CliRun run = RunCli(args, "", [&](const std::string& line) {
      if (line.find("\"event\":\"progress\",\"max\":2,") == std::string::npos ||
          fs::is_regular_file(folder))
        return;
      fs::remove_all(folder);
      std::ofstream(folder) << "not a folder";
    });
    EXPECT_EQ(run.exitCode, 2) << run.out << run.err;
    EXPECT_EQ(FirstEvent(run, "device_result")["outcome"], "ok");
    EXPECT_EQ(run.Events().back()["journal"], "incomplete") << run.out;
  }
}

// The roll-call before doors open: a rig saved from the network, then the
// network changed under it.
TEST_F(Cli, ARollCallTellsWhatIsMissingUnexpectedOrChangedAgainstASavedRig) {
  const auto node = [](const std::string& identity, const std::string& mac, int appVersion) {
    return R"({"mode": "app", "deviceId": 13952, "name": "Matrix Wall", "appVersion": )" +
           std::to_string(appVersion) + R"(, "identity": ")" + identity + R"(", "mac": ")" + mac +
           "\"}";
  };
  const std::string a = "2122232425262728292a2b", b = "3132333435363738393a3b";
  const std::string gateway = R"({"mode": "boot", "loaderType": 897, "deviceId": 37640,
      "version": 769, "units": 3, "identity": "4142434445464748", "mac": "00-0A-95-00-00-41"})";
  const std::string rig = (dir / "rig.json").string();
  const auto rollCall = [&] { return RunCli({"rollcall", rig, "--json", kFast}); };
  const auto statusOf = [](const CliRun& run) {
    std::map<std::string, std::string> status;
    for (const auto& e : run.Events())
      if (e["event"] == "rollcall") status[e["serial"]] = e["status"];
    return status;
  };
  {
    CSimulatorProcess sim(
        QUORVIK_DEVSIM_PATH,
        Devices({node(a, "00-0A-95-00-00-21", 258), node(b, "00-0A-95-00-00-31", 258), gateway}));
    ASSERT_TRUE(sim.ready());
    const CliRun saved = RunCli({"list", "--save-rig", rig, kFast});
    EXPECT_EQ(saved.exitCode, 0) << saved.out << saved.err;
    // The gateway's two unit rows are part of it, not rig devices.
    EXPECT_TRUE(saved.Has("Rig saved to " + rig + ": 3 device(s): 3 new, 0 found again"))
        << saved.out;
    // The technician labels a node in any editor.
    std::ifstream in(rig);
    std::string text((std::istreambuf_iterator<char>(in)), {});
    text.replace(text.find(R"("label":"")", text.find("2122232425262728292A2B")), 10,
                 R"("label":"Truss 3 SR")");
    WriteFile(rig, std::vector<uint8_t>(text.begin(), text.end()));
    const CliRun same = RunCli({"rollcall", rig, kFast});
    EXPECT_EQ(same.exitCode, 0) << same.out << same.err;
    EXPECT_EQ(same.Lines().back(),
              "Roll-call: 3 present, 0 changed, 0 missing, 0 unexpected, 0 hidden");
  }
  // b is gone, a new node is on the cable, a runs other firmware.
  const std::string c = "5152535455565758595a5b";
  CSimulatorProcess sim(QUORVIK_DEVSIM_PATH, Devices({node(a, "00-0A-95-00-00-21", 515), gateway,
                                                      node(c, "00-0A-95-00-00-51", 258)}));
  ASSERT_TRUE(sim.ready());
  const CliRun changed = rollCall();
  EXPECT_EQ(changed.exitCode, 4) << changed.out << changed.err;
  const auto events = changed.Events();
  EXPECT_EQ(statusOf(changed),
            (std::map<std::string, std::string>{{"2122232425262728292A2B", "changed"},
                                                {"3132333435363738393A3B", "missing"},
                                                {"4142434445464748", "present"},
                                                {"5152535455565758595A5B", "unexpected"}}));
  for (const auto& e : events)
    if (e["event"] == "rollcall" && e["status"] == "changed") {
      EXPECT_EQ(e["label"], "Truss 3 SR");
      EXPECT_EQ(e["old"], (nlohmann::json{{"version", "1.02"}, {"mode", "app"}}));
      EXPECT_EQ(e["new"], (nlohmann::json{{"version", "2.03"}, {"mode", "app"}}));
    }
  const nlohmann::json* summary = EventOf(events, "summary");
  ASSERT_NE(summary, nullptr);
  EXPECT_EQ(*summary, (nlohmann::json{{"event", "summary"},
                                      {"present", 1},
                                      {"changed", 1},
                                      {"missing", 1},
                                      {"unexpected", 1},
                                      {"hidden", 0}}));
  EXPECT_EQ(
      events.back(),
      (nlohmann::json{
          {"event", "result"}, {"command", "rollcall"}, {"outcome", "differs"}, {"exit", 4}}));

  // Black-listed devices are hidden, not missing, and change no exit code;
  // re-saving takes what answered and keeps the label and the hidden device.
  std::ofstream(dir / "Quorvik.ini")
      << "[APP]\nHIDDEN=" << b << " (Matrix Wall);" << c << " (Matrix Wall)\n";
  EXPECT_EQ(RunCli({"list", "--save-rig", rig, kFast}).exitCode, 0);
  const CliRun hidden = rollCall();
  EXPECT_EQ(hidden.exitCode, 0) << hidden.out << hidden.err;
  EXPECT_EQ(statusOf(hidden),
            (std::map<std::string, std::string>{{"2122232425262728292A2B", "present"},
                                                {"3132333435363738393A3B", "hidden"},
                                                {"4142434445464748", "present"}}));
  EXPECT_NE(hidden.out.find(R"("label":"Truss 3 SR")"), std::string::npos);
}

// The rig as desired state: a declaration written by `declare`, a plan
// with each reason, an apply that writes only what is out of date and reads
// each version back (a mislabelled file caught), and a second apply on a
// converged rig that writes nothing.
TEST_F(Cli, ApplyBringsEachDeviceToTheDeclaredFirmwareAndReadsItBack) {
  const auto versioned = [](uint8_t major, uint8_t minor) {
    std::vector<uint8_t> data = PatternBytes(1300, 9);
    data[0] = major;
    data[1] = minor;
    return FirmwareFileBytes(2, {{33, 0x3680, 0x01, 0x05, data}});
  };
  const std::string v304 = (dir / "fw" / "matrix-3.04.bin").string();
  const std::string mislabelled = (dir / "fw" / "matrix-3.02.bin").string();
  const std::string pixel = (dir / "fw" / "pixel.bin").string();
  fs::create_directory(dir / "fw");
  WriteFile(v304, versioned(3, 4));
  WriteFile(mislabelled, versioned(3, 2));
  WriteFile(pixel, FirmwareFileBytes(2, {{0, 0x1601, 0, 0, PatternBytes(300)}}));
  const std::string reportsImage = R"(, "imageVersionAt": 0)";
  const auto app = [&](const char* id, int version, const std::string& more = "") {
    return AppDevice(std::string(22, id[0]), std::string("00-0A-95-00-00-") + id,
                     R"(, "appVersion": )" + std::to_string(version) + more);
  };
  CSimulatorProcess sim(
      QUORVIK_DEVSIM_PATH,
      Devices({app("A1", 0x0102, reportsImage), app("B2", 0x0304), app("C3", 0x030A),
               app("D4", 0x0100, reportsImage), app("E5", 0x0102), app("F6", 0x0200),
               app("99", 0x0100),
               R"({"mode": "boot", "deviceId": 13952, "mcuId": 34, "identity": ")" +
                   std::string(22, '7') + R"(", "mac": "00-0A-95-00-00-77"})"}));
  ASSERT_TRUE(sim.ready());
  // One configuration on two units: nothing may be written to either.
  CSimulatorProcess twin1(QUORVIK_DEVSIM_PATH, Devices({app("66", 0x0102)}), "--source 127.0.0.2");
  CSimulatorProcess twin2(QUORVIK_DEVSIM_PATH, Devices({app("66", 0x0102)}), "--source 127.0.0.3");
  ASSERT_TRUE(twin1.ready() && twin2.ready());
  // The matrix units' model is on record from an earlier loader answer; E5's
  // is not, and D4 names a file of its own.
  const auto entry = [](const char* id, const std::string& more) {
    return R"({"serial": ")" + std::string(22, id[0]) + R"(", "label": "unit )" + id + "\"" + more +
           "}";
  };
  const std::string matrix = R"(, "deviceId": "0x3680")";
  const std::string rig = (dir / "rig.json").string();
  std::ofstream(rig)
      << R"({"format": 1, "type": "quorvik-rig", "devices": [)" << entry("A1", matrix) << ","
      << entry("B2", matrix) << "," << entry("C3", matrix) << ","
      << entry("D4", matrix + R"(, "firmware": {"file": "fw/matrix-3.02.bin", "sha256": ")" +
                         Sha256Hex(ReadAll(mislabelled)) + R"(", "version": "3.04"})")
      << "," << entry("E5", "") << "," << entry("F6", R"(, "deviceId": "0x1601")") << ","
      << entry("7", "") << "," << entry("88", matrix) << "," << entry("66", matrix) << "]}\n";
  for (const auto& [file, more] : std::vector<std::pair<std::string, std::vector<std::string>>>{
           {v304, {"--version", "3.04"}}, {pixel, {"--version", "2.01", "--model", "1601"}}}) {
    std::vector<std::string> args = {"declare", rig, "--file", file};
    args.insert(args.end(), more.begin(), more.end());
    const CliRun declared = RunCli(args);
    ASSERT_EQ(declared.exitCode, 0) << declared.out << declared.err;
  }
  // A file for a model it has no section for is refused, the rig untouched.
  const std::vector<uint8_t> before = ReadAll(rig);
  EXPECT_EQ(
      RunCli({"declare", rig, "--file", pixel, "--version", "2.01", "--model", "3680"}).exitCode,
      2);
  EXPECT_EQ(ReadAll(rig), before);
  EXPECT_NE(std::string(before.begin(), before.end()).find(R"("file":"fw/matrix-3.04.bin")"),
            std::string::npos);
  // The pixel file changes after it was declared: nothing is written from it.
  WriteFile(pixel, FirmwareFileBytes(2, {{0, 0x1601, 0, 0, PatternBytes(301)}}));

  const auto actions = [](const CliRun& run) {
    std::map<std::string, std::string> reasons;
    for (const auto& e : run.Events())
      if (e["event"] == "plan_device")
        reasons[e["serial"].get<std::string>().substr(0, 2) + " " +
                e["action"].get<std::string>()] = e["reason"];
    return reasons;
  };
  const std::string metrics = (dir / "quorvik.prom").string();
  const CliRun plan = RunCli({"plan", rig, "--json", "--metrics", metrics, kFast});
  EXPECT_EQ(plan.exitCode, 4) << plan.out << plan.err;
  EXPECT_EQ(
      actions(plan),
      (std::map<std::string, std::string>{
          {"AA update", "update 1.02 -> 3.04"},
          {"BB up-to-date", "up-to-date"},
          {"CC held", "held: downgrade 3.10 -> 3.04"},
          {"DD update", "update 1.00 -> 3.04"},
          {"EE no-firmware",
           "no firmware declared: its model is unknown while it runs its application (save "
           "the rig while it is in its loader, or name its firmware on its entry)"},
          {"FF file-changed",
           "file changed: its SHA-256 is " + Sha256Hex(ReadAll(pixel)).substr(0, 12) +
               "..., the rig declares " +
               Sha256Hex(FirmwareFileBytes(2, {{0, 0x1601, 0, 0, PatternBytes(300)}}))
                   .substr(0, 12) +
               "..."},
          {"77 file-does-not-fit", "file does not fit (Wrong firmware file selected! (ERROR MCU))"},
          {"88 missing", "missing"},
          {"99 unexpected", "unexpected: not in the rig"},
          {"66 ambiguous",
           "ambiguous: 2 devices answer as serial 6666666666666666666666: 00-0A-95-00-00-66 at "
           "127.0.0.2 and 00-0A-95-00-00-66 at 127.0.0.3; a command would reach them all."}}))
      << plan.out;
  const std::string prom((std::istreambuf_iterator<char>(std::ifstream(metrics).rdbuf())), {});
  EXPECT_NE(
      prom.find(
          R"(quorvik_rig_firmware_devices{rig="rig.json",model="Matrix Wall",state="out_of_date"} 2)"),
      std::string::npos)
      << prom;
  const CliRun allowed = RunCli({"plan", rig, "--allow-downgrade", "--json", kFast});
  EXPECT_EQ(actions(allowed)["CC update"], "update 3.10 -> 3.04 (downgrade allowed)");

  const CliRun apply =
      RunCli({"apply", rig, "--yes", "--parallel", "4", "--retries", "1", "--json", kFast});
  EXPECT_EQ(apply.exitCode, 1) << apply.out << apply.err;
  std::map<std::string, std::pair<std::string, std::string>> results;
  for (const auto& e : apply.Events())
    if (e["event"] == "device_result")
      results[e["serial"].get<std::string>().substr(0, 2)] = {e["outcome"], e["reason"]};
  EXPECT_EQ(
      results,
      (std::map<std::string, std::pair<std::string, std::string>>{
          {"AA", {"ok", "RUN application. (3.04 confirmed)"}},
          {"DD", {"failed", "the device reports 3.02 after a file declared to install 3.04"}}}))
      << apply.out;
  // Read back wrong is not tried again: the same file would install the same.
  const auto lines = Journal();
  ASSERT_EQ(lines.size(), 2u);
  for (const auto& line : lines) EXPECT_EQ(TextOf(line, "installs"), "3.04");

  // Converged: a rig of what is now up to date plans nothing and applies
  // nothing but its search.
  std::ofstream(rig) << R"({"format": 1, "type": "quorvik-rig", "devices": [)"
                     << entry("A1", matrix) << "," << entry("B2", matrix) << "]}\n";
  ASSERT_EQ(RunCli({"declare", rig, "--file", v304, "--version", "3.04"}).exitCode, 0);
  std::ofstream(dir / "Quorvik.ini")
      << "[APP]\nHIDDEN=" << std::string(22, 'c') << " (x);" << std::string(22, 'd') << " (x);"
      << std::string(22, 'e') << " (x);" << std::string(22, 'f') << " (x);" << std::string(22, '7')
      << " (x);" << std::string(22, '9') << " (x);" << std::string(22, '6') << " (x)\n";
  const CliRun converged = RunCli({"plan", rig, kFast});
  EXPECT_EQ(converged.exitCode, 0) << converged.out << converged.err;
  const CliRun again = RunCli({"apply", rig, "--yes", "--json", kFast});
  EXPECT_EQ(again.exitCode, 0) << again.out << again.err;
  EXPECT_EQ(Journal().size(), 2u);
  sim.Stop();
  EXPECT_NE(SummaryOf(sim.output(), std::string(22, 'a')).find(" writes=6 "), std::string::npos)
      << sim.output();
  EXPECT_NE(SummaryOf(sim.output(), std::string(22, 'b')).find(" writes=0 "), std::string::npos);
  for (CSimulatorProcess* twin : {&twin1, &twin2}) {
    twin->Stop();
    EXPECT_NE(SummaryOf(twin->output(), std::string(22, '6')).find(" writes=0 "),
              std::string::npos);
  }
}

TEST_F(Cli, ARigFileThatCannotBeReadIsRefusedBeforeAnySearch) {
  CSimulatorProcess sim(QUORVIK_DEVSIM_PATH,
                        Devices({AppDevice("2122232425262728292a2b", "00-0A-95-00-00-21")}));
  ASSERT_TRUE(sim.ready());
  const std::string rig = (dir / "rig.json").string();
  ASSERT_EQ(RunCli({"list", "--save-rig", rig, kFast}).exitCode, 0);
  std::ifstream in(rig);
  const std::string saved((std::istreambuf_iterator<char>(in)), {});
  const struct {
    std::string name, text, says;
  } files[] = {
      {"cut.json", saved.substr(0, saved.size() / 2), "ends in the middle"},
      {"broken.json", "{\"format\": 1, \"type\": \"quorvik-rig\", devices: []}", "is not JSON"},
      {"foreign.json", R"({"devices": [{"serial": "2122232425262728292A2B"}]})", "no Quorvik rig"},
      {"binary.json",
       std::string("\x7F"
                   "ELF\0\x01\xFF",
                   7),
       "is not JSON"},
  };
  for (const auto& f : files) {
    const std::string path = (dir / f.name).string();
    WriteFile(path, std::vector<uint8_t>(f.text.begin(), f.text.end()));
    for (const auto& args :
         {std::vector<std::string>{"rollcall", path, "--json", kFast},
          std::vector<std::string>{"list", "--save-rig", path, "--json", kFast}}) {
      const CliRun run = RunCli(args);
      EXPECT_EQ(run.exitCode, 2) << f.name << " " << args[0] << "\n" << run.out << run.err;
      const auto events = run.Events();
      ASSERT_EQ(events.size(), 2u) << run.out;  // no search: an error, then the result
      EXPECT_EQ(events[0]["event"], "error");
      EXPECT_NE(events[0]["text"].get<std::string>().find(f.says), std::string::npos)
          << events[0]["text"];
      EXPECT_EQ(events[1]["exit"], 2);
    }
    std::ifstream left(path, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(left), {}), f.text) << f.name;
  }
  EXPECT_EQ(RunCli({"rollcall", (dir / "none.json").string(), kFast}).exitCode, 2);
  EXPECT_EQ(RunCli({"rollcall", dir.string(), kFast}).exitCode, 2);
}

// An update's start is on disk before the restart request leaves; its end
// follows as a line of its own, and history shows the pair as one entry.
TEST_F(Cli, AnUpdateJournalsItsStartBeforeTheRestartAndHistoryShowsOneEntry) {
  CSimulatorProcess sim(QUORVIK_DEVSIM_PATH,
                        Devices({AppDevice("2122232425262728292a2b", "00-0A-95-00-00-21")}));
  ASSERT_TRUE(sim.ready());
  const CliRun run = RunCli({"update", "-f", file, "--row", "0", kFast});
  ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
  const auto lines = AllJournalLines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(TextOf(lines[0], "outcome"), "started");
  EXPECT_EQ(TextOf(lines[0], "reason"), "Update started");
  EXPECT_EQ(TextOf(lines[1], "outcome"), "ok");
  std::vector<std::string> startNames, endNames;
  for (const auto& field : lines[0]) startNames.push_back(field.name);
  for (const auto& field : lines[1]) endNames.push_back(field.name);
  EXPECT_EQ(startNames, endNames);
  for (const char* same : {"command", "device", "serial", "mac", "file", "sha256"})
    EXPECT_EQ(TextOf(lines[0], same), TextOf(lines[1], same)) << same;
  EXPECT_EQ(TextOf(lines[0], "sha256"), Sha256Hex(ReadAll(file)));
  EXPECT_EQ(std::get<int64_t>(*FieldOf(lines[0], "blocks")), 0);

  const CliRun history = RunCli({"history", "--json"});
  ASSERT_EQ(history.exitCode, 0) << history.err;
  const auto events = history.Events();
  ASSERT_EQ(events.size(), 2u) << history.out;
  EXPECT_EQ(events[0]["outcome"], "ok");
  EXPECT_EQ(events[1]["count"], 1);
  // Nothing was left: recover finds nothing and says so.
  const CliRun recover = RunCli({"recover", "--json", kFast});
  EXPECT_EQ(recover.exitCode, 0) << recover.out << recover.err;
  EXPECT_EQ(recover.Events().back()["halfUpdated"], 0);
}

// A journal that cannot take the start: nothing reaches the device.
TEST_F(Cli, AnUpdateWhoseStartCannotBeJournalledSendsNothing) {
  CSimulatorProcess sim(QUORVIK_DEVSIM_PATH,
                        Devices({AppDevice("2122232425262728292a2b", "00-0A-95-00-00-21")}));
  ASSERT_TRUE(sim.ready());
  const fs::path folder = dir / "state";
  ::setenv("QUORVIK_JOURNAL", (folder / "journal.jsonl").c_str(), 1);
  // During the search before the update: the journal was writable when the
  // command began, and is not when the start is to be written.
  const CliRun run = RunCli(
      {"update", "-f", file, "--row", "0", "--json", kFast}, "", [&](const std::string& line) {
        if (line.find("\"event\":\"progress\"") == std::string::npos || fs::is_regular_file(folder))
          return;
        fs::remove_all(folder);
        std::ofstream(folder) << "not a folder";
      });
  EXPECT_EQ(run.exitCode, 2) << run.out << run.err;
  const nlohmann::json result = FirstEvent(run, "device_result");
  EXPECT_EQ(result["outcome"], "refused") << run.out;
  EXPECT_EQ(result["reason"],
            "The journal cannot record the start of this update: nothing was sent.");
  sim.Stop();
  const std::string summary = SummaryOf(sim.output(), "2122232425262728292a2b");
  EXPECT_NE(summary.find(" mode=app "), std::string::npos) << summary;
  EXPECT_NE(summary.find(" writes=0 "), std::string::npos) << summary;
}

// A program killed in the middle of the write: the device waits in its
// loader with half an image; history says unfinished, recover finds it and
// writes the same file again.
TEST_F(Cli, RecoverFindsAHalfUpdatedDeviceAndWritesTheSameFileAgain) {
  CSimulatorProcess sim(
      QUORVIK_DEVSIM_PATH,
      Devices({AppDevice("2122232425262728292a2b", "00-0A-95-00-00-21", R"(, "dropAcks": [3])"),
               AppDevice("3132333435363738393a3b", "00-0A-95-00-00-31")}));
  ASSERT_TRUE(sim.ready());
  const CliRun killed =
      RunCli({"update", "-f", file, "--serial", "2122232425262728292A2B", "--json", kFast}, "",
             [&](const std::string& l) {
               if (l.find("\"max\":5,\"percent\":60") == std::string::npos || g_running < 0) return;
               // The third block is out, and its answer lost.
               std::this_thread::sleep_for(std::chrono::milliseconds(300));
               ::kill(g_running, SIGKILL);
             });
  EXPECT_EQ(killed.exitCode, -1);
  ASSERT_EQ(AllJournalLines().size(), 1u);

  const CliRun history = RunCli({"history"});
  EXPECT_NE(history.out.find(" update unfinished  \"Matrix Wall\" serial=2122232425262728292A2B"),
            std::string::npos)
      << history.out;
  EXPECT_NE(history.out.find("reason=\"The update never ended\""), std::string::npos);

  const CliRun found = RunCli({"recover", "--json", kFast});
  EXPECT_EQ(found.exitCode, 4) << found.out << found.err;
  const nlohmann::json half = FirstEvent(found, "half_updated");
  ASSERT_FALSE(half.is_null()) << found.out;
  EXPECT_EQ(half["serial"], "2122232425262728292A2B");
  EXPECT_EQ(half["file"], file);
  EXPECT_EQ(half["since"], TextOf(AllJournalLines()[0], "time"));
  EXPECT_FALSE(half.contains("fileProblem"));
  EXPECT_EQ(found.Events().back()["left"], 1);

  // A file that changed is named, and the device is not written.
  const std::vector<uint8_t> original = ReadAll(file);
  std::vector<uint8_t> changed = original;
  changed.back() ^= 0xFF;
  WriteFile(file, changed);
  const CliRun refused = RunCli({"recover", "--yes", kFast});
  EXPECT_EQ(refused.exitCode, 4) << refused.out << refused.err;
  EXPECT_NE(refused.err.find(file + " has changed since"), std::string::npos) << refused.err;
  EXPECT_EQ(AllJournalLines().size(), 1u);

  WriteFile(file, original);
  const CliRun recovered = RunCli({"recover", "--yes", "--json", kFast});
  EXPECT_EQ(recovered.exitCode, 0) << recovered.out << recovered.err;
  EXPECT_EQ(recovered.Events().back()["recovered"], 1);
  EXPECT_EQ(FirstEvent(recovered, "device_result")["confirmed"], "running");
  // The unfinished start stays what it was; the recovery follows it.
  const CliRun after = RunCli({"history", "--json"});
  const auto entries = after.Events();
  ASSERT_EQ(entries.size(), 3u) << after.out;
  EXPECT_EQ(entries[0]["outcome"], "unfinished");
  EXPECT_EQ(entries[1]["outcome"], "ok");
  // Confirmed by the first answer of its application, not after a pause.
  EXPECT_EQ(entries[1]["waits"], "ready");
  EXPECT_EQ(RunCli({"recover", kFast}).exitCode, 0);
  sim.Stop();
  EXPECT_EQ(ReadAll(sim.dumpDir() / "2122232425262728292a2b.img"), WrittenImage());
  EXPECT_NE(SummaryOf(sim.output(), "2122232425262728292a2b").find(" mode=app "),
            std::string::npos);
}

// A unit in its loader that the file fits, on the bench as `onBench` says.
std::string BenchUnit(const std::string& identity, const std::string& more = "") {
  return R"({"mode": "boot", "deviceId": 13952, "mcuId": 33, "blockSize": 256, "appVersion": 261,
             "identity": ")" +
         identity + "\"" + more + "}";
}

// One station run against a bench on which units come and go, heard while
// units are written: the two put on at the start are worked on together;
// one of them fails at once and says so at once, is taken away and put back
// while the other is still written, and is tried again; the other is left
// standing and is not; a unit of another model is ignored once; a running
// unit put down mid-batch is found at once and updated next. Test equipment
// reads every line.
TEST_F(Cli, TheStationUpdatesEachUnitPutOnTheBenchOnceAStay) {
  struct Sim {
    std::string source, config;
  };
  const std::vector<Sim> sims = {
      {"127.0.0.2", Devices({BenchUnit("a1a1a1a1a1a1a1a1a1a1a1",
                                       R"(, "mac": "00-0A-95-00-00-A1", "ackDelayMs": 1000)")})},
      {"127.0.0.3",
       Devices({BenchUnit("b2b2b2b2b2b2b2b2b2b2b2",
                          R"(, "mac": "00-0A-95-00-00-B2", "failWrite": {"index": 1, "status": 7},
                                          "onBench": [{"untilMs": 1500, "fromMs": 0}, {"fromMs": 3000}])")})},
      {"127.0.0.4",
       Devices(
           {R"({"mode": "boot", "deviceId": 13953, "mcuId": 33, "identity": "c3c3c3c3c3c3c3c3c3c3c3"})",
            AppDevice("d4d4d4d4d4d4d4d4d4d4d4", "00-0A-95-00-00-D4",
                      R"(, "onBench": {"fromMs": 4000})")})}};
  std::vector<std::unique_ptr<CSimulatorProcess>> running;
  for (const Sim& sim : sims) {
    running.push_back(std::make_unique<CSimulatorProcess>(QUORVIK_DEVSIM_PATH, sim.config,
                                                          "--source " + sim.source));
    ASSERT_TRUE(running.back()->ready());
  }
  const auto started = std::chrono::steady_clock::now();
  std::map<std::string, std::chrono::steady_clock::time_point> when;
  int oks = 0;
  const CliRun run = RunCli({"station", "--file", file, "--parallel", "2", "--porcelain", kFast},
                            "", [&](const std::string& line) {
                              when.emplace(line, std::chrono::steady_clock::now());
                              // The last of the four updates: the first Ctrl-C ends it idle.
                              if (line.rfind("OK ", 0) == 0 && ++oks == 3 && g_running > 0)
                                ::kill(g_running, SIGINT);
                            });
  // Every unit ended passed.
  EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(25));

  const std::string a = "A1A1A1A1A1A1A1A1A1A1A1", b = "B2B2B2B2B2B2B2B2B2B2B2",
                    c = "C3C3C3C3C3C3C3C3C3C3C3", d = "D4D4D4D4D4D4D4D4D4D4D4";
  std::vector<std::string> lines;
  for (const std::string& line : run.Lines()) {
    if (line.rfind("WRITING ", 0) == 0) {
      std::istringstream fields(line.substr(8));
      std::string serial, progress;
      fields >> serial >> progress;
      EXPECT_TRUE(serial == a || serial == b || serial == d) << line;
      EXPECT_EQ(progress.substr(progress.find('/')), "/6") << line;
      continue;
    }
    lines.push_back(line);
  }
  ASSERT_EQ(lines.size(), 11u) << run.out << run.err;
  EXPECT_EQ(lines[0], "READY");
  EXPECT_EQ(lines[1].rfind("IGNORED " + c + " ", 0), 0u) << lines[1];
  // The first two side by side: both found before either ends.
  EXPECT_EQ(std::set<std::string>(lines.begin() + 2, lines.begin() + 4),
            (std::set<std::string>{"FOUND " + a + " 3680", "FOUND " + b + " 3680"}));
  // B's failure, its return and D's arrival are all told while A is written.
  const std::vector<std::string> meanwhile(lines.begin() + 4, lines.begin() + 8);
  EXPECT_EQ(meanwhile, (std::vector<std::string>{"FAIL " + b + " Timeout on write data! [0007]",
                                                 "FOUND " + b + " 3680", "FOUND " + d + " unknown",
                                                 "OK " + a + " 1.05"}));
  EXPECT_GT(when["OK " + a + " 1.05"] - when["FAIL " + b + " Timeout on write data! [0007]"],
            std::chrono::seconds(3));
  EXPECT_EQ(std::set<std::string>(lines.begin() + 8, lines.end() - 1),
            (std::set<std::string>{"OK " + b + " 1.05", "OK " + d + " 1.02"}));
  EXPECT_EQ(lines.back().rfind("SUMMARY ok=3 fail=0 ignored=1 per-hour=", 0), 0u) << lines.back();
  EXPECT_NE(run.err.find("stopping after"), std::string::npos) << run.err;

  // Every update is journalled as the station's.
  std::map<std::string, std::vector<std::string>> outcomes;
  for (const auto& line : Journal()) {
    EXPECT_EQ(TextOf(line, "program"), "quorvik-cli station");
    outcomes[TextOf(line, "serial").substr(0, 2)].push_back(TextOf(line, "outcome"));
  }
  EXPECT_EQ(outcomes, (std::map<std::string, std::vector<std::string>>{
                          {"A1", {"ok"}}, {"B2", {"failed", "ok"}}, {"D4", {"ok"}}}));
  for (auto& sim : running) sim->Stop();
  EXPECT_NE(SummaryOf(running[2]->output(), "c3c3c3c3c3c3c3c3c3c3c3").find(" writes=0 "),
            std::string::npos);
}

// Two units that share a serial are one unit, left alone once however they
// take turns answering; a unit that passed is left alone when put back
// unless --again flashes it; every unit counts once in the summary.
TEST_F(Cli, TheStationCountsUnitsAndLeavesAlonePassedAndTwinUnitsOnce) {
  const std::string twin = "e7e7e7e7e7e7e7e7e7e7e7", p = "F8F8F8F8F8F8F8F8F8F8F8";
  for (const bool again : {false, true}) {
    SCOPED_TRACE(again ? "--again" : "by default");
    std::vector<std::unique_ptr<CSimulatorProcess>> bench;
    for (const auto& [source, config] : std::vector<std::pair<std::string, std::string>>{
             {"127.0.0.2", Devices({BenchUnit(twin, R"(, "mac": "00-0A-95-00-00-E1")")})},
             {"127.0.0.3", Devices({BenchUnit(twin, R"(, "mac": "00-0A-95-00-00-E2")")})},
             {"127.0.0.4", Devices({BenchUnit("f8f8f8f8f8f8f8f8f8f8f8",
                                              R"(, "bootDelayMs": 100,
                                   "onBench": [{"fromMs": 0, "untilMs": 1500}, {"fromMs": 3000}])")})}}) {
      bench.push_back(
          std::make_unique<CSimulatorProcess>(QUORVIK_DEVSIM_PATH, config, "--source " + source));
      ASSERT_TRUE(bench.back()->ready());
    }
    std::vector<std::string> args = {"station", "--file", file, "--porcelain", kFast};
    if (again) args.push_back("--again");
    std::thread later;
    int oks = 0;
    const CliRun run = RunCli(args, "", [&](const std::string& line) {
      if (again && line.rfind("OK " + p, 0) == 0 && ++oks == 2) ::kill(g_running, SIGINT);
      // Long enough after the unit is put back for the twins to have
      // flapped, were they to.
      if (!again && line.rfind("IGNORED " + p, 0) == 0)
        later = std::thread([pid = g_running] {
          std::this_thread::sleep_for(std::chrono::seconds(3));
          ::kill(pid, SIGINT);
        });
    });
    if (later.joinable()) later.join();
    EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
    std::vector<std::string> lines;
    for (const std::string& line : run.Lines())
      if (line.rfind("WRITING ", 0) != 0) lines.push_back(line);
    const std::string twins =
        "IGNORED E7E7E7E7E7E7E7E7E7E7E7 ambiguous: 2 devices answer as serial "
        "E7E7E7E7E7E7E7E7E7E7E7: 00-0A-95-00-00-E1 and 00-0A-95-00-00-E2; a command would "
        "reach them all.";
    std::vector<std::string> expected = {"READY", twins, "FOUND " + p + " 3680",
                                         "OK " + p + " 1.05"};
    if (again)
      expected.insert(expected.end(), {"FOUND " + p + " unknown", "OK " + p + " 1.05"});
    else
      expected.push_back("IGNORED " + p + " done with this file before");
    expected.push_back("SUMMARY ok=1 fail=0 ignored=2 per-hour=");
    ASSERT_EQ(lines.size(), expected.size()) << run.out << run.err;
    lines.back() = lines.back().substr(0, expected.back().size());
    EXPECT_EQ(lines, expected) << run.out;
  }
}

// A journal that stops taking lines mid-run (its file turned into a folder
// while the first device is written) stops a fleet and a station from
// taking further devices: the one being written finishes, nothing new is
// started, and the run exits 2 instead of failing device after device.
TEST_F(Cli, AFleetOrStationThatLosesItsJournalTakesNoFurtherDevice) {
  struct Case {
    const char* name;
    std::vector<std::string> args;
    std::string writing;  // a line that says the first device is being written
  };
  const std::vector<Case> cases = {
      {"update --all",
       {"update", "--file", file, "--all", "--yes", "--parallel", "1", "--json", kFast},
       "\"event\":\"device_progress\""},
      {"station", {"station", "--file", file, "--porcelain", kFast}, "WRITING "}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(journal);
    fs::remove(journal + ".kept");
    CSimulatorProcess sim(
        QUORVIK_DEVSIM_PATH,
        Devices({BenchUnit("a1a1a1a1a1a1a1a1a1a1a1", R"(, "ackDelayMs": 150)"),
                 BenchUnit("b2b2b2b2b2b2b2b2b2b2b2"), BenchUnit("c3c3c3c3c3c3c3c3c3c3c3")}));
    ASSERT_TRUE(sim.ready());
    bool lost = false;
    const CliRun run = RunCli(c.args, "", [&](const std::string& line) {
      if (lost || line.find(c.writing) == std::string::npos) return;
      lost = true;
      fs::rename(journal, journal + ".kept");
      fs::create_directory(journal);
    });
    EXPECT_EQ(run.exitCode, 2) << run.out << run.err;
    EXPECT_NE((run.out + run.err).find("the journal cannot be written"), std::string::npos)
        << run.out << run.err;
    sim.Stop();
    int written = 0;
    for (const char* id :
         {"a1a1a1a1a1a1a1a1a1a1a1", "b2b2b2b2b2b2b2b2b2b2b2", "c3c3c3c3c3c3c3c3c3c3c3"})
      written += SummaryOf(sim.output(), id).find(" writes=0 ") == std::string::npos;
    EXPECT_EQ(written, 1) << sim.output();
  }
}

// --once ends after the first batch; --skip-done then leaves alone what the
// journal shows done with this file, and says so as JSON events.
TEST_F(Cli, TheStationOnceAndThenSkippingWhatTheJournalShowsDone) {
  CSimulatorProcess sim(QUORVIK_DEVSIM_PATH, Devices({BenchUnit("e5e5e5e5e5e5e5e5e5e5e5"),
                                                      BenchUnit("f6f6f6f6f6f6f6f6f6f6f6")}));
  ASSERT_TRUE(sim.ready());
  const CliRun once = RunCli({"station", "--file", file, "--once", "--json", kFast});
  EXPECT_EQ(once.exitCode, 0) << once.out << once.err;
  std::vector<std::string> kinds;
  for (const auto& event : once.Events())
    if (const std::string kind = event["event"];
        kind == "ready" || kind == "found" || kind == "ok" || kind == "summary")
      kinds.push_back(kind);
  EXPECT_EQ(kinds, (std::vector<std::string>{"ready", "found", "found", "ok", "ok", "summary"}));
  EXPECT_EQ(FirstEvent(once, "summary")["ok"], 2);
  EXPECT_EQ(FirstEvent(once, "found")["model"], "3680");

  const CliRun skipping =
      RunCli({"station", "--file", file, "--skip-done", "--json", kFast}, "",
             [ignored = 0](const std::string& line) mutable {
               if (line.find("\"event\":\"ignored\"") != std::string::npos && ++ignored == 2)
                 ::kill(g_running, SIGINT);
             });
  EXPECT_EQ(skipping.exitCode, 0) << skipping.out << skipping.err;
  EXPECT_EQ(FirstEvent(skipping, "ignored")["why"], "done with this file before");
  EXPECT_TRUE(FirstEvent(skipping, "found").is_null());
  const nlohmann::json summary = FirstEvent(skipping, "summary");
  EXPECT_EQ(summary["ok"], 0);
  EXPECT_EQ(summary["ignored"], 2);
  EXPECT_EQ(skipping.Events().back()["outcome"], "ok");
}

}  // namespace
