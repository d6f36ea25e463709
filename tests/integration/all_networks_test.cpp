// quorvik-cli on two networks at once: two veth cards, each leading into a
// namespace of its own where a simulator answers, so that a datagram on one
// card can reach only that card's simulator.

#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>

#include "tests/support/firmware_file_builder.h"
#include "tests/support/netns_guard.h"
#include "tests/support/simulator_process.h"

using namespace quorvik;

namespace fs = std::filesystem;

namespace {

struct CliRun {
  int exitCode = -1;
  std::string out, err;
  std::vector<nlohmann::json> Events() const {
    std::vector<nlohmann::json> events;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);) events.push_back(nlohmann::json::parse(line));
    return events;
  }
  nlohmann::json Rows() const {
    for (const auto& e : Events())
      if (e["event"] == "devices") return e["rows"];
    return nlohmann::json::array();
  }
};

std::string ReadText(const fs::path& path) {
  std::ifstream in(path);
  return {std::istreambuf_iterator<char>(in), {}};
}

// A running generation-3 device that verifies.
std::string AppDevice(const std::string& identity, const std::string& mac) {
  return R"({"mode": "app", "loaderType": 897, "deviceId": 13952, "mcuId": 33, "blockSize": 256,
             "bootDelayMs": 100, "appVersion": 258, "name": "Matrix Wall", "identity": ")" +
         identity + R"(", "mac": ")" + mac + "\"}";
}

// Requests other than searches that reached a simulator, from its --log.
int DeviceRequests(const std::string& simOutput) {
  int n = 0;
  std::istringstream lines(simOutput);
  for (std::string line; std::getline(lines, line);)
    if (line.rfind("rx ", 0) == 0 && line.find(" op=0x5090 ") == std::string::npos) ++n;
  return n;
}

class AllNetworks : public ::testing::Test {
 protected:
  void SetUp() override {
    QUORVIK_REQUIRE_PRIVATE_NETNS();
    dir = fs::temp_directory_path() / ("quorvik-allnets-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    AddCard("qa", "10.1.0", simA);
    AddCard("qb", "10.2.0", simB);
  }
  void TearDown() override {
    simA.reset();
    simB.reset();
    for (pid_t holder : holders) {
      ::kill(holder, SIGKILL);
      ::waitpid(holder, nullptr, 0);
    }
    // Deleting one end of a pair deletes both; the namespace goes with the
    // test process anyway.
    for (const char* card : {"qa", "qb"})
      Shell(std::string("ip link del ") + card + " 2>/dev/null");
    if (!dir.empty()) fs::remove_all(dir);
  }
  static int Shell(const std::string& command) { return std::system(command.c_str()); }

  // This side of the pair is the tool's card (.1); the far side lives in a
  // namespace of its own, held open by a sleeping process, with a
  // simulator on it (.2).
  void AddCard(const std::string& name, const std::string& net,
               std::unique_ptr<CSimulatorProcess>& sim) {
    const char* argv[] = {"unshare", "-n", "sleep", "600", nullptr};
    pid_t holder = -1;
    ASSERT_EQ(
        ::posix_spawnp(&holder, "unshare", nullptr, nullptr, const_cast<char**>(argv), environ), 0);
    holders.push_back(holder);
    const std::string in = "nsenter -t " + std::to_string(holder) + " -n ";
    const std::string far = name + "peer";
    // unshare has made the namespace once its program is sleep.
    for (int i = 0; i < 200 && ReadText("/proc/" + std::to_string(holder) + "/comm") != "sleep\n";
         ++i)
      ::usleep(10000);
    ASSERT_EQ(Shell("ip link add " + name + " type veth peer name " + far + " netns " +
                    std::to_string(holder) + " && ip addr add " + net + ".1/24 dev " + name +
                    " && ip link set " + name + " up && " + in + "ip addr add " + net +
                    ".2/24 dev " + far + " && " + in + "ip link set " + far + " up"),
              0);
    const fs::path wrapper = dir / (name + "-devsim");
    std::ofstream(wrapper) << "#!/bin/sh\nexec " << in << QUORVIK_DEVSIM_PATH << " \"$@\"\n";
    fs::permissions(wrapper, fs::perms::owner_all);
    sim = std::make_unique<CSimulatorProcess>(wrapper.string(), Config(name),
                                              "--iface " + far + " --allow-real-network");
    ASSERT_TRUE(sim->ready());
  }
  // Each side has a device of its own, and both hold the bridged one.
  static std::string Config(const std::string& card) {
    const std::string own = card == "qa" ? AppDevice("2122232425262728292a2b", "00-0A-95-00-00-21")
                                         : AppDevice("3132333435363738393a3b", "00-0A-95-00-00-31");
    return R"({"devices": [)" + own + "," +
           AppDevice("5152535455565758595a5b", "00-0A-95-00-00-51") + "]}";
  }

  CliRun Cli(const std::string& args) {
    const fs::path err = dir / "stderr";
    CliRun run;
    FILE* out = ::popen((std::string(QUORVIK_CLI_PATH) + " " + args + " --time-scale=0.1 2>" +
                         err.string() + " </dev/null")
                            .c_str(),
                        "r");
    if (out == nullptr) return run;
    char buffer[4096];
    for (size_t got; (got = std::fread(buffer, 1, sizeof buffer, out)) > 0;)
      run.out.append(buffer, got);
    const int status = ::pclose(out);
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.err = ReadText(err);
    return run;
  }

  fs::path dir;
  std::vector<pid_t> holders;
  std::unique_ptr<CSimulatorProcess> simA, simB;
};

TEST_F(AllNetworks, ListsEachCardsDevicesUpdatesThroughTheDevicesCardAndMarksTheBridgedOne) {
  // Run in the scratch folder: its settings and journal are the test's own.
  const fs::path previous = fs::current_path();
  fs::current_path(dir);
  const std::string journal = (dir / "journal.jsonl").string();
  const std::string common = "--journal " + journal + " --no-syslog";

  const CliRun all = Cli("list --iface all --json");
  EXPECT_EQ(all.exitCode, 0) << all.out << all.err;
  std::multiset<std::string> seen;
  for (const auto& row : all.Rows())
    seen.insert(row["serial"].get<std::string>() + " " + row.value("interface", "-") + " " +
                std::to_string(row.value("networks", 1)));
  EXPECT_EQ(seen, (std::multiset<std::string>{
                      "2122232425262728292A2B 10.1.0.1 1", "3132333435363738393A3B 10.2.0.1 1",
                      "5152535455565758595A5B 10.1.0.1 2", "5152535455565758595A5B 10.2.0.1 2"}))
      << all.out;
  EXPECT_NE(all.err.find("answers on 2 networks; they are bridged, or the device is misconfigured"),
            std::string::npos)
      << all.err;
  const CliRun table = Cli("list --iface all");
  EXPECT_NE(table.out.find("Network"), std::string::npos) << table.out;
  EXPECT_NE(table.out.find("10.2.0.1 (answers on 2 networks: bridged or misconfigured)"),
            std::string::npos)
      << table.out;

  // A roll-call of all networks: the bridged device is one rig device,
  // present and marked, not an unexpected second one.
  const std::string rig = (dir / "rig.json").string();
  ASSERT_EQ(Cli("list --iface all --save-rig " + rig).exitCode, 0);
  const CliRun roll = Cli("rollcall " + rig + " --iface all --json");
  EXPECT_EQ(roll.exitCode, 0) << roll.out << roll.err;
  std::multiset<std::string> called;
  for (const auto& e : roll.Events())
    if (e["event"] == "rollcall")
      called.insert(e["status"].get<std::string>() + " " + e["serial"].get<std::string>() + " " +
                    std::to_string(e.value("networks", 1)));
  EXPECT_EQ(called, (std::multiset<std::string>{"present 2122232425262728292A2B 1",
                                                "present 3132333435363738393A3B 1",
                                                "present 5152535455565758595A5B 2"}))
      << roll.out;

  // The update's every request leaves by the device's own card.
  const std::string file = (dir / "matrix.bin").string();
  WriteFile(file, FirmwareFileBytes(2, {{33, 0x0001, 0, 0, PatternBytes(20)},
                                        {33, 0x3680, 0x01, 0x05, PatternBytes(1300, 7)}}));
  const int heardByB = DeviceRequests(simB->output());
  const CliRun update =
      Cli("update --iface all --file " + file + " --serial 2122232425262728292a2b " + common);
  EXPECT_EQ(update.exitCode, 0) << update.out << update.err;
  EXPECT_GT(DeviceRequests(simA->output()), 5) << simA->output();
  EXPECT_EQ(DeviceRequests(simB->output()), heardByB) << simB->output();
  const nlohmann::json line = nlohmann::json::parse(
      ReadText(journal).substr(ReadText(journal).rfind('\n', ReadText(journal).size() - 2) + 1));
  EXPECT_EQ(line["interface"], "10.1.0.1");
  EXPECT_EQ(line["outcome"], "ok");

  // The bridged device is one device in two rows: named by serial it is
  // not picked for the operator.
  const CliRun bridged = Cli("reset --iface all --serial 5152535455565758595a5b --yes " + common);
  EXPECT_EQ(bridged.exitCode, 3) << bridged.out << bridged.err;

  // A fleet writes each card's own device through that card and leaves
  // the bridged one alone: it would be written twice.
  const CliRun fleet = Cli("update --iface all --all --yes --json --file " + file + " " + common);
  std::multiset<std::string> results;
  for (const auto& e : fleet.Events())
    if (e["event"] == "device_result")
      results.insert(e["serial"].get<std::string>() + " " + e["outcome"].get<std::string>());
  EXPECT_EQ(results,
            (std::multiset<std::string>{"2122232425262728292A2B ok", "3132333435363738393A3B ok"}))
      << fleet.out << fleet.err;
  EXPECT_NE(fleet.out.find("answers on 2 networks (bridged or misconfigured)"), std::string::npos)
      << fleet.out;

  // An update of the second card's device whose end never reached the
  // journal: recover closes it with that device's card, not with "all".
  {
    std::istringstream lines(ReadText(journal));
    std::string text, start;
    while (std::getline(lines, text)) {
      const auto entry = nlohmann::json::parse(text);
      if (entry["serial"] == "3132333435363738393A3B" && entry["outcome"] == "started")
        start = text;
    }
    ASSERT_FALSE(start.empty());
    std::ofstream(journal, std::ios::app) << start << "\n";
    const CliRun recover = Cli("recover --iface all --yes --json " + common);
    EXPECT_EQ(recover.exitCode, 0) << recover.out << recover.err;
    const nlohmann::json closing = nlohmann::json::parse(
        ReadText(journal).substr(ReadText(journal).rfind('\n', ReadText(journal).size() - 2) + 1));
    EXPECT_EQ(closing["serial"], "3132333435363738393A3B");
    EXPECT_EQ(closing["outcome"], "interrupted");
    EXPECT_EQ(closing["interface"], "10.2.0.1");
  }

  // One card chosen: nothing leaves by the other, and the rows are as
  // they always were.
  const size_t searchedOnB = simB->output().size();
  const CliRun one = Cli("list --iface 10.1.0.1 --json");
  EXPECT_EQ(one.exitCode, 0) << one.err;
  ASSERT_EQ(one.Rows().size(), 2u) << one.out;
  for (const auto& row : one.Rows()) {
    EXPECT_FALSE(row.contains("interface")) << row;
    EXPECT_FALSE(row.contains("networks")) << row;
  }
  EXPECT_EQ(simB->output().size(), searchedOnB) << simB->output().substr(searchedOnB);
  simA->Stop();
  simB->Stop();
  for (const auto* sim : {simA.get(), simB.get()}) {
    const std::string& out = sim->output();
    const size_t at = out.find("summary device=5152535455565758595a5b ");
    ASSERT_NE(at, std::string::npos) << out;
    EXPECT_NE(out.substr(at, out.find('\n', at) - at).find(" writes=0 "), std::string::npos);
  }
  fs::current_path(previous);
}

}  // namespace
