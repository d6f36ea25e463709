// quorvik-cli killed (SIGKILL) at random points of an update, then
// `recover --yes`: every device ends running, with its whole image (or, when
// the kill came before anything reached it, untouched), and the journal
// reads back with every start followed by a later line of its device.
// Inside a private network namespace, against quorvik-devsim, one fresh
// simulated device per kill, over the three loader generations.
//
// QUORVIK_KILLS sets how many kills (default 24, the CI's), QUORVIK_KILL_SEED
// the seed (default 1). The figures are printed at the end.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <random>
#include <sstream>
#include <thread>

#include "records/journal.h"
#include "tests/support/firmware_file_builder.h"
#include "tests/support/netns_guard.h"
#include "tests/support/simulator_process.h"

using namespace quorvik;

namespace fs = std::filesystem;

namespace {

// Starts quorvik-cli with its output in files; the pid, or -1.
pid_t SpawnCli(std::vector<std::string> args, const fs::path& out, const fs::path& err) {
  // The machine's own system journal is no place for simulated devices.
  if (!args.empty() && (args[0] == "update" || args[0] == "recover")) args.push_back("--no-syslog");
  args.insert(args.begin(), QUORVIK_CLI_PATH);
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, err.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0600);
  pid_t pid = -1;
  const int rc = ::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  return rc == 0 ? pid : -1;
}

std::string ReadText(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), {}};
}

std::vector<uint8_t> ReadBytes(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), {}};
}

struct Generation {
  const char* name;
  int loaderType;
  size_t blockSize;
};
// Generation 1 (no verification, 11-byte serials), 2 (padded serials, the
// second boot port) and 3 (verifying).
const Generation kGenerations[] = {
    {"generation 1", 1, 64}, {"generation 2", 512, 128}, {"generation 3", 897, 256}};

struct Figures {
  int kills = 0;
  int recovered = 0;  // found in the loader and written again
  // Found running, its unfinished start closed: with the whole new image
  // (killed after RUN application, before the end line), or untouched
  // (killed between the start line and the restart request).
  int closedRunningNew = 0;
  int closedRunningUntouched = 0;
  int nothingToRecover = 0;  // killed before the start line
  int lost = 0;              // not running, or holding a part of the image
};

class CliKill : public ::testing::Test {
 protected:
  void SetUp() override {
    QUORVIK_REQUIRE_PRIVATE_NETNS();
    char pattern[] = "/tmp/quorvik-kill-XXXXXX";
    dir = ::mkdtemp(pattern);
    previous = fs::current_path();
    fs::current_path(dir);
    section = PatternBytes(1300, 11);
    file = (dir / "matrix.bin").string();
    journal = (dir / "journal.jsonl").string();
    ::setenv("QUORVIK_JOURNAL", journal.c_str(), 1);
    WriteFile(file, FirmwareFileBytes(2, {{33, 0x0001, 0, 0, PatternBytes(20)},
                                          {33, 0x3680, 0x01, 0x05, section}}));
  }
  void TearDown() override {
    ::unsetenv("QUORVIK_JOURNAL");
    fs::current_path(previous);
    if (!HasFailure()) fs::remove_all(dir);
  }

  std::string Config(const Generation& g, const std::string& identity) const {
    return R"({"devices": [{"mode": "app", "loaderType": )" + std::to_string(g.loaderType) +
           R"(, "deviceId": 13952, "mcuId": 33, "blockSize": )" + std::to_string(g.blockSize) +
           R"(, "bootDelayMs": 50, "name": "Matrix Wall", "identity": ")" + identity +
           R"(", "mac": "00-0A-95-00-00-21")" +
           (g.loaderType == 512 ? R"(, "bootPort": 10010)" : "") + "}]}";
  }
  std::vector<uint8_t> WholeImage(const Generation& g) const {
    std::vector<uint8_t> image = section;
    image.resize((section.size() + g.blockSize - 1) / g.blockSize * g.blockSize, 0xFF);
    return image;
  }

  fs::path dir, previous;
  std::vector<uint8_t> section;
  std::string file, journal;
};

constexpr const char* kScale = "--time-scale=0.05";

std::string SummaryField(const std::string& summary, const std::string& name) {
  const size_t at = summary.find(" " + name + "=");
  if (at == std::string::npos) return {};
  const size_t start = at + name.size() + 2;
  return summary.substr(start, summary.find(' ', start) - start);
}

TEST_F(CliKill, KilledUpdatesAreRecoveredAndTheJournalStaysWhole) {
  const char* wanted = std::getenv("QUORVIK_KILLS");
  const int kills = wanted ? std::atoi(wanted) : 24;
  const char* seedText = std::getenv("QUORVIK_KILL_SEED");
  std::mt19937 random(seedText ? static_cast<unsigned>(std::atoi(seedText)) : 1u);
  const std::string identity = "2122232425262728292a2b";

  // How long a whole update takes here, per generation: the kills are drawn
  // over that time.
  std::map<int, double> fullMs;
  for (const Generation& g : kGenerations) {
    CSimulatorProcess sim(QUORVIK_DEVSIM_PATH, Config(g, identity), "", false);
    ASSERT_TRUE(sim.ready());
    const auto begun = std::chrono::steady_clock::now();
    const pid_t pid = SpawnCli({"update", "--file", file, "--serial", identity, kScale},
                               dir / "cli.out", dir / "cli.err");
    ASSERT_GT(pid, 0);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << g.name << ": " << ReadText(dir / "cli.out") << ReadText(dir / "cli.err");
    fullMs[g.loaderType] =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - begun).count();
  }

  Figures figures;
  int rounds = 0;
  for (; figures.kills < kills && rounds < kills * 3; ++rounds) {
    const Generation& g = kGenerations[rounds % 3];
    SCOPED_TRACE(std::string(g.name) + ", round " + std::to_string(rounds));
    CSimulatorProcess sim(QUORVIK_DEVSIM_PATH, Config(g, identity), "", false);
    ASSERT_TRUE(sim.ready());
    const pid_t pid = SpawnCli({"update", "--file", file, "--serial", identity, kScale},
                               dir / "cli.out", dir / "cli.err");
    ASSERT_GT(pid, 0);
    std::uniform_real_distribution<double> at(0.0, fullMs[g.loaderType]);
    std::this_thread::sleep_for(std::chrono::duration<double, std::milli>(at(random)));
    ::kill(pid, SIGKILL);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    const bool killed = WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
    if (killed) ++figures.kills;
    // A device restarted just before the kill answers from its loader
    // after its boot delay: the technician starts the program again later.
    std::this_thread::sleep_for(std::chrono::milliseconds(150));

    const pid_t recover =
        SpawnCli({"recover", "--yes", "--json", kScale}, dir / "recover.out", dir / "recover.err");
    ASSERT_GT(recover, 0);
    ASSERT_EQ(::waitpid(recover, &status, 0), recover);
    const std::string out = ReadText(dir / "recover.out");
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << out << ReadText(dir / "recover.err");
    nlohmann::json result;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) result = nlohmann::json::parse(line);
    ASSERT_EQ(result["event"], "result") << out;
    const int recovered = result["recovered"].get<int>();
    const int closed = result["runningClosed"].get<int>();
    EXPECT_EQ(result["halfUpdated"], recovered) << out;

    sim.Stop();
    const std::string output = sim.output();
    const size_t summaryAt = output.find("summary device=" + identity);
    ASSERT_NE(summaryAt, std::string::npos) << output;
    const std::string summary = output.substr(summaryAt, output.find('\n', summaryAt) - summaryAt);
    const bool running = SummaryField(summary, "mode") == "app";
    const std::vector<uint8_t> image = ReadBytes(sim.dumpDir() / (identity + ".img"));
    const bool whole = image == WholeImage(g);
    if (killed) {
      figures.recovered += recovered;
      if (closed > 0) ++(whole ? figures.closedRunningNew : figures.closedRunningUntouched);
      if (recovered == 0 && closed == 0) ++figures.nothingToRecover;
    }
    if (!running || !(whole || image.empty())) {
      ++figures.lost;
      ADD_FAILURE() << "device lost: " << summary << "\nrecover: " << out;
    }
  }
  EXPECT_GE(figures.kills, kills) << "the updates ended before the kills, " << rounds << " rounds";

  // The journal: every line reads (a kill never tears the one write of a
  // line; at most the last could be), and every start has a later line of
  // its device.
  const JournalRead read = ReadJournal(journal);
  EXPECT_LE(read.skipped, 1);
  std::map<std::string, size_t> lastOf;
  for (size_t i = 0; i < read.records.size(); ++i) lastOf[JournalDeviceKey(read.records[i])] = i;
  int starts = 0;
  for (size_t i = 0; i < read.records.size(); ++i) {
    if (!IsStartLine(read.records[i])) continue;
    ++starts;
    EXPECT_GT(lastOf[JournalDeviceKey(read.records[i])], i)
        << "a start no later line follows: " << TextOf(read.records[i], "time");
  }
  EXPECT_GT(starts, 0);

  std::printf(
      "kills %d (in %d rounds): recovered in their loader %d; found running and closed %d "
      "(with the new image %d, untouched %d); killed before the start line %d; lost %d; "
      "journal lines %zu, starts %d, unreadable %d\n",
      figures.kills, rounds, figures.recovered,
      figures.closedRunningNew + figures.closedRunningUntouched, figures.closedRunningNew,
      figures.closedRunningUntouched, figures.nothingToRecover, figures.lost, read.records.size(),
      starts, read.skipped);
  EXPECT_EQ(figures.lost, 0);
}

}  // namespace
