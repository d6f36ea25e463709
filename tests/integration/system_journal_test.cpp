// quorvik-cli's results in the system journal, for real: in a private mount
// namespace a listening socket stands where the system journal's does,
// quorvik-cli runs against simulated devices, and the test reads what
// arrived as the journal would, field by field. The namespace also takes a
// full disk for the journal file.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>

#include "records/journal.h"
#include "records/system_journal.h"
#include "tests/support/firmware_file_builder.h"
#include "tests/support/netns_guard.h"
#include "tests/support/simulator_process.h"

using namespace quorvik;

namespace fs = std::filesystem;

namespace {

constexpr const char* kJournalSocket = "/run/systemd/journal/socket";

// A mount namespace of this process's own with an empty folder where the
// system journal's socket lives, so that nothing here reaches the
// machine's journal. Empty when done, otherwise why not.
std::string PrivateJournalFolder() {
  if (::unshare(CLONE_NEWNS) != 0)
    return std::string("no private mount namespace: ") + std::strerror(errno);
  // Otherwise a mount below would show in the machine's namespace too.
  if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
    return std::string("mounts stay shared: ") + std::strerror(errno);
  for (const char* at : {"/run/systemd/journal", "/run/systemd", "/run"}) {
    if (!fs::is_directory(at)) continue;
    if (::mount("tmpfs", at, "tmpfs", MS_NOSUID | MS_NODEV, "mode=0755") != 0)
      return std::string("tmpfs on ") + at + ": " + std::strerror(errno);
    fs::create_directories(fs::path(kJournalSocket).parent_path());
    return {};
  }
  return "no /run";
}

using Entry = std::map<std::string, std::string>;

// The native protocol: KEY=VALUE lines, or KEY, a line end, a 64-bit
// little-endian length and that many bytes for a value that holds a line
// end.
Entry ParseEntry(std::string_view data) {
  Entry entry;
  while (!data.empty()) {
    const size_t end = data.find('\n');
    const size_t equals = data.find('=');
    if (end == std::string_view::npos) break;
    if (equals < end) {
      entry.emplace(data.substr(0, equals), data.substr(equals + 1, end - equals - 1));
      data.remove_prefix(end + 1);
      continue;
    }
    const std::string name(data.substr(0, end));
    data.remove_prefix(end + 1);
    uint64_t length = 0;
    if (data.size() < 8) break;
    for (int i = 7; i >= 0; --i) length = length << 8 | static_cast<uint8_t>(data[i]);
    if (data.size() < 8 + length + 1) break;
    entry.emplace(name, data.substr(8, length));
    data.remove_prefix(8 + length + 1);
  }
  return entry;
}

class CJournalListener {
 public:
  CJournalListener() {
    m_fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strcpy(address.sun_path, kJournalSocket);
    if (::bind(m_fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
      ADD_FAILURE() << "bind " << kJournalSocket << ": " << std::strerror(errno);
  }
  ~CJournalListener() { Close(); }
  void Close() {
    if (m_fd < 0) return;
    ::close(m_fd);
    ::unlink(kJournalSocket);
    m_fd = -1;
  }
  // The entries that arrive until none has for `quiet`.
  std::vector<Entry> Take(std::chrono::milliseconds quiet = std::chrono::milliseconds(300)) {
    std::vector<Entry> entries;
    pollfd p{m_fd, POLLIN, 0};
    std::vector<char> buffer(1 << 20);
    while (::poll(&p, 1, static_cast<int>(quiet.count())) == 1) {
      iovec data{buffer.data(), buffer.size()};
      alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))];
      msghdr message{};
      message.msg_iov = &data;
      message.msg_iovlen = 1;
      message.msg_control = control;
      message.msg_controllen = sizeof control;
      const ssize_t got = ::recvmsg(m_fd, &message, MSG_CMSG_CLOEXEC);
      if (got < 0) break;
      std::string text(buffer.data(), static_cast<size_t>(got));
      // An entry too large for one datagram comes as a sealed memfd.
      if (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr && c->cmsg_type == SCM_RIGHTS) {
        int fd = -1;
        std::memcpy(&fd, CMSG_DATA(c), sizeof fd);
        struct stat st {};
        ::fstat(fd, &st);
        text.resize(static_cast<size_t>(st.st_size));
        if (::pread(fd, text.data(), text.size(), 0) != st.st_size) ADD_FAILURE() << "memfd";
        ::close(fd);
      }
      entries.push_back(ParseEntry(text));
    }
    return entries;
  }

 private:
  int m_fd = -1;
};

struct CliRun {
  int exitCode = -1;
  std::string err;
};

// Runs quorvik-cli with `args` (no spaces in them), without a terminal.
CliRun RunCli(const std::string& args, const fs::path& dir) {
  const fs::path err = dir / "err";
  const int status = std::system((std::string(QUORVIK_CLI_PATH) + " " + args + " </dev/null >" +
                                  (dir / "out").string() + " 2>" + err.string())
                                     .c_str());
  std::ifstream errFile(err);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1,
          std::string(std::istreambuf_iterator<char>(errFile), {})};
}

const std::string kDevices = R"({"devices": [{"mode": "app", "loaderType": 897, "deviceId": 13952,
    "mcuId": 33, "blockSize": 256, "bootDelayMs": 100, "appVersion": 258, "name": "Matrix\nWall",
    "identity": "2122232425262728292a2b", "mac": "00-0A-95-00-00-21"}]})";
constexpr const char* kFast = " --time-scale=0.1";

class SystemJournalCli : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    // Before the first simulator's threads: a process with threads cannot
    // take a mount namespace of its own.
    if (InPrivateNetworkNamespace()) s_noJournalFolder = PrivateJournalFolder();
  }
  void SetUp() override {
    QUORVIK_REQUIRE_PRIVATE_NETNS();
    if (!s_noJournalFolder.empty()) GTEST_SKIP() << s_noJournalFolder;
    char pattern[] = "/tmp/quorvik-syslog-XXXXXX";
    dir = ::mkdtemp(pattern);
    previous = fs::current_path();
    fs::current_path(dir);
    journal = (dir / "journal.jsonl").string();
    ::setenv("QUORVIK_JOURNAL", journal.c_str(), 1);
    file = (dir / "matrix.bin").string();
    WriteFile(file, FirmwareFileBytes(2, {{33, 0x3680, 0x01, 0x05, PatternBytes(1300, 7)}}));
    listener.emplace();
  }
  void TearDown() override {
    listener.reset();
    ::unsetenv("QUORVIK_JOURNAL");
    if (!dir.empty()) {
      fs::current_path(previous);
      fs::remove_all(dir);
    }
  }

  static inline std::string s_noJournalFolder;
  fs::path dir, previous;
  std::string journal, file;
  std::optional<CJournalListener> listener;
};

TEST_F(SystemJournalCli, EachResultArrivesWithTheJournalLinesFields) {
  CSimulatorProcess sim(QUORVIK_DEVSIM_PATH, kDevices);
  ASSERT_TRUE(sim.ready());
  const CliRun update = RunCli("update --file " + file + " --row 0" + kFast, dir);
  ASSERT_EQ(update.exitCode, 0) << update.err;
  const CliRun reset = RunCli(std::string("reset --row 0 --yes") + kFast, dir);
  ASSERT_EQ(reset.exitCode, 0) << reset.err;

  const std::vector<Entry> entries = listener->Take();
  // The file also keeps the update's start, which the system journal does
  // not hear of.
  std::vector<FlatRecord> lines;
  for (FlatRecord& line : ReadJournal(journal).records)
    if (!IsStartLine(line)) lines.push_back(std::move(line));
  ASSERT_EQ(entries.size(), 2u);
  ASSERT_EQ(lines.size(), 2u);
  for (size_t i = 0; i < 2; ++i) {
    Entry entry = entries[i];
    // The update journal's line and the entry tell the same: every field
    // but the time and host the system journal stamps itself.
    for (const JsonField& field : lines[i]) {
      if (field.name == "time" || field.name == "host") continue;
      const std::string name = SystemJournalFieldName(field.name);
      if (std::holds_alternative<std::nullptr_t>(field.value)) {
        EXPECT_EQ(entry.count(name), 0u) << name;
      } else if (const auto* n = std::get_if<int64_t>(&field.value)) {
        EXPECT_EQ(entry[name], std::to_string(*n)) << name;
      } else if (const auto* b = std::get_if<bool>(&field.value)) {
        EXPECT_EQ(entry[name], *b ? "true" : "false") << name;
      } else {
        EXPECT_EQ(entry[name], std::get<std::string>(field.value)) << name;
      }
    }
    EXPECT_EQ(entry["SYSLOG_IDENTIFIER"], "quorvik-cli");
    EXPECT_EQ(entry["PRIORITY"], "6");
    EXPECT_EQ(entry["QUORVIK_INTERFACE"], "127.0.0.1");
  }
  Entry updated = entries[0], reseted = entries[1];
  EXPECT_EQ(updated["MESSAGE_ID"], SystemJournalMessageId(CommandKind::kUpdate));
  EXPECT_EQ(updated["MESSAGE"], "update ok: Matrix?Wall 2122232425262728292A2B 1.02 -> 1.02");
  EXPECT_EQ(updated["QUORVIK_CONFIRMED"], "running");
  EXPECT_EQ(updated["QUORVIK_FILE"], file);
  // A line end in a value travels in the protocol's length form.
  EXPECT_EQ(updated["QUORVIK_DEVICE"], "Matrix\nWall");
  EXPECT_EQ(updated["QUORVIK_RUNNING_VERSION"], "1.02");
  EXPECT_EQ(reseted["MESSAGE_ID"], SystemJournalMessageId(CommandKind::kReset));
  EXPECT_EQ(reseted["MESSAGE"], "reset ok: Matrix?Wall 2122232425262728292A2B 1.02");
}

TEST_F(SystemJournalCli, NoSyslogOrNoSystemJournalSendsNothingAndFailsNothing) {
  CSimulatorProcess sim(QUORVIK_DEVSIM_PATH, kDevices);
  ASSERT_TRUE(sim.ready());
  const CliRun quiet = RunCli(std::string("reset --row 0 --yes --no-syslog") + kFast, dir);
  EXPECT_EQ(quiet.exitCode, 0) << quiet.err;
  EXPECT_TRUE(listener->Take().empty());

  listener->Close();  // as on a machine without systemd: no socket at all
  const CliRun alone = RunCli(std::string("reset --row 0 --yes") + kFast, dir);
  EXPECT_EQ(alone.exitCode, 0) << alone.err;
  EXPECT_EQ(alone.err.find("journal"), std::string::npos) << alone.err;
  // The update journal records both all the same.
  EXPECT_EQ(ReadJournal(journal).records.size(), 2u);
}

// Every command that journals refuses before its first search when the
// journal file has no room, and leaves the journal as it was.
TEST_F(SystemJournalCli, AJournalOnAFullDiskStopsEveryCommandBeforeItsFirstSearch) {
  CSimulatorProcess sim(QUORVIK_DEVSIM_PATH, kDevices);
  ASSERT_TRUE(sim.ready());
  const fs::path full = dir / "full";
  fs::create_directory(full);
  ASSERT_EQ(::mount("tmpfs", full.c_str(), "tmpfs", 0, "size=64k"), 0) << std::strerror(errno);
  const std::string kept = "{\"command\":\"reset\"}\n";
  std::ofstream(full / "journal.jsonl") << kept;
  for (std::ofstream filler(full / "filler"); filler << std::string(4096, 'x') << std::flush;) {
  }
  ::setenv("QUORVIK_JOURNAL", (full / "journal.jsonl").c_str(), 1);
  for (const std::string& args :
       {"update --all --yes --file " + file, "update --row 0 --file " + file,
        std::string("reset --row 0 --yes"), std::string("recover --yes"),
        "station --once --file " + file}) {
    const CliRun run = RunCli(args + kFast, dir);
    EXPECT_EQ(run.exitCode, 2) << args << ": " << run.err;
    EXPECT_NE(run.err.find("journal.jsonl: has no room for its lines: No space left on device"),
              std::string::npos);
  }
  std::ifstream journalFile(full / "journal.jsonl");
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(journalFile), {}), kept);
  ::umount2(full.c_str(), MNT_DETACH);
  sim.Stop();
  EXPECT_EQ(sim.output().find("rx "), std::string::npos) << sim.output();
}

}  // namespace
