// quorvik-cli as a script runs it: a child process in a private network
// namespace, against quorvik-devsim, judged by its output, its exit code
// and the images the simulated devices end up holding. Waits run scaled
// down with the tests' --time-scale.

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <thread>

#include "net/frames.h"
#include "tests/support/firmware_file_builder.h"
#include "tests/support/netns_guard.h"
#include "tests/support/simulator_process.h"

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

// Runs quorvik-cli in the current directory; `onLine` sees each stdout line
// as it is written, while the program still runs.
CliRun RunCli(std::vector<std::string> args, const std::string& input = "",
              const std::function<void(const std::string&)>& onLine = {}) {
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
  return run;
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
    WriteFile(file, FirmwareFileBytes(2, {{33, 0x0001, 0, 0, PatternBytes(20)},
                                          {33, 0x3680, 0x01, 0x05, section}}));
  }
  void TearDown() override {
    if (!dir.empty()) {
      fs::current_path(previous);
      fs::remove_all(dir);
    }
  }
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
};

constexpr const char* kFast = "--time-scale=0.1";

TEST_F(Cli, ListShowsTheRowsAndTheCountLineWithTheWindowsSettings) {
  // A stale stored interface falls back to the first, as in the window;
  // the black-listed device is counted, not listed.
  const std::string ini =
      "[APP]\nSELECTED_IP=10.1.1.1\nHIDDEN=Matrix Wall 3132333435363738393a3b\n";
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
              "mac=00-0A-95-00-00-31 reason=\"RUN application.\""))
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
  // Reported as soon as the device runs, before the closing Find.
  const auto result = std::find_if(events.begin(), events.end(),
                                   [](const auto& e) { return e["event"] == "device_result"; });
  ASSERT_NE(result, events.end());
  EXPECT_EQ((*result)["outcome"], "ok");
  EXPECT_EQ((*result)["serial"], "2122232425262728292A2B");
  EXPECT_EQ(events[static_cast<size_t>(result - events.begin()) - 1]["text"], "RUN application.");
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
  EXPECT_TRUE(truncated.Has("Refused: Firmware file not readable! (ERROR FILE)")) << truncated.out;
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

}  // namespace
