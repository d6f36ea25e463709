// quorvik-cli's option table against its manual page and its bash
// completion: whatever either leaves out, an operator does not find.

#include "tools/cli/command_line.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <sstream>
#include <utility>

#include "tools/cli/firmware_inspect.h"
#include "tools/cli/rig_commands.h"

using namespace quorvik;

namespace {

const std::string kManPage = QUORVIK_SOURCE_DIR "/packaging/man/quorvik-cli.1";
const std::string kCompletion = QUORVIK_SOURCE_DIR "/packaging/bash-completion/quorvik-cli";

// Per subcommand ("" for the program itself), the long options its --help
// shows: hidden ones and positionals are no part of it.
std::map<std::string, std::set<std::string>> HelpedOptions() {
  CLI::App app;
  Parsed p;
  DefineCommandLine(app, p);
  std::map<std::string, std::set<std::string>> helped;
  const std::function<void(const CLI::App&, std::set<std::string>&)> take =
      [&](const CLI::App& from, std::set<std::string>& into) {
        for (const CLI::Option* option : from.get_options())
          if (!option->get_group().empty() && !option->get_lnames().empty())
            into.insert("--" + option->get_lnames().front());
        // Option groups are nameless subcommands; their options are the parent's.
        for (const CLI::App* group :
             from.get_subcommands([](const CLI::App* sub) { return sub->get_name().empty(); }))
          take(*group, into);
      };
  const CLI::App& table = app;
  take(table, helped[""]);
  for (const CLI::App* sub :
       table.get_subcommands([](const CLI::App* sub) { return !sub->get_name().empty(); }))
    take(*sub, helped[sub->get_name()]);
  return helped;
}

std::string Section(const std::string& page, const std::string& name) {
  const size_t start = page.find("\n.SH " + name + "\n");
  if (start == std::string::npos) return {};
  const size_t body = start + name.size() + 6;
  return page.substr(body, page.find("\n.SH ", body) - body);
}

// Whether a roff line of bold text (.B, .BI, .BR) names `option`.
bool NamesOption(const std::string& section, const std::string& option) {
  std::string roff;
  for (const char c : option) roff += c == '-' ? std::string("\\-") : std::string(1, c);
  std::istringstream lines(section);
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind(".B", 0) != 0) continue;
    for (size_t at = line.find(roff); at != std::string::npos; at = line.find(roff, at + 1)) {
      const size_t end = at + roff.size();
      if (end == line.size() ||
          (!std::isalnum(static_cast<unsigned char>(line[end])) && line[end] != '\\'))
        return true;
    }
  }
  return false;
}

// What the completion offers after "quorvik-cli COMMAND --" (after
// "quorvik-cli" alone for ""), run by bash with the two helpers of the
// bash-completion package it uses stood in for.
std::map<std::string, std::set<std::string>> CompletedOptions(
    const std::map<std::string, std::set<std::string>>& commands) {
  std::string script =
      "_init_completion() { words=(\"${COMP_WORDS[@]}\"); cword=$COMP_CWORD; "
      "cur=${words[cword]}; prev=${words[cword-1]}; }\n"
      "_filedir() { :; }\n"
      "source '" +
      kCompletion +
      "'\n"
      "offer() { COMP_WORDS=(\"$@\"); COMP_CWORD=$(($# - 1)); COMPREPLY=(); _quorvik_cli; "
      "echo \"${2:-.} ${COMPREPLY[*]}\"; }\n"
      "offer quorvik-cli ''\n";
  for (const auto& [command, options] : commands)
    if (!command.empty()) script += "offer quorvik-cli " + command + " --\n";
  const std::string path = ::testing::TempDir() + "quorvik-cli-completion.sh";
  std::ofstream(path) << script;
  std::map<std::string, std::set<std::string>> offered;
  FILE* bash = ::popen(("bash --norc --noprofile '" + path + "' 2>&1").c_str(), "r");
  if (bash == nullptr) return offered;
  std::string out;
  char buffer[4096];
  for (size_t got; (got = std::fread(buffer, 1, sizeof buffer, bash)) > 0;) out.append(buffer, got);
  ::pclose(bash);
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line);) {
    std::istringstream words(line);
    std::string command, word;
    words >> command;
    if (command == ".") command.clear();
    for (auto& set = offered[command]; words >> word;) set.insert(word);
  }
  return offered;
}

TEST(CommandLineDocs, TheManualPageAndTheCompletionKnowEverySubcommandAndOption) {
  const auto helped = HelpedOptions();
  ASSERT_GT(helped.size(), 5u);
  std::ifstream file(kManPage);
  const std::string page((std::istreambuf_iterator<char>(file)), {});
  const std::string commands = Section(page, "COMMANDS"), options = Section(page, "OPTIONS");
  ASSERT_FALSE(options.empty()) << kManPage;
  auto expected = helped;
  for (const auto& [command, names] : helped) {
    for (const std::string& name : names)
      EXPECT_TRUE(NamesOption(options, name)) << "man page, OPTIONS: " << name;
    if (command.empty()) continue;
    EXPECT_NE(commands.find("\n.B " + command + "\n"), std::string::npos)
        << "man page, COMMANDS: " << command;
    expected[""].insert(command);
  }
  // Exactly: an option the program no longer takes is no help either.
  const auto completed = CompletedOptions(helped);
  ASSERT_EQ(completed.size(), helped.size()) << "bash could not run " << kCompletion;
  for (const auto& [command, offered] : completed)
    EXPECT_EQ(offered, expected[command]) << "completion of quorvik-cli " << command;

  const std::string exits = Section(page, "EXIT STATUS");
  for (const Outcome outcome : {Outcome::kOk, Outcome::kFailed, Outcome::kRefused,
                                Outcome::kNoDevice, Outcome::kInterrupted})
    EXPECT_NE(exits.find(".B " + std::to_string(ExitCodeOf(outcome)) + "\n"), std::string::npos)
        << "man page, EXIT STATUS: " << ExitCodeOf(outcome);
  EXPECT_NE(exits.find(".B " + std::to_string(kExitRollCallDiffers) + "\n"), std::string::npos);
}

TEST(CommandLine, NumbersAreDecimalWholeNumbersAndEveryRefusalSaysWhy) {
  const std::string loop = ::testing::TempDir() + "quorvik-loop";
  std::filesystem::remove(loop);
  std::filesystem::create_symlink(loop, loop);
  const std::string all = "update -f " + kManPage + " --all ";  // any regular file
  const std::pair<std::string, std::string> cases[] = {
      {all + "--parallel 1e3", "--parallel: 1e3 is not a whole number"},
      {all + "--canary 0x8", "0x8 is not a whole number"},
      {all + "--retries ' 8'", " 8 is not a whole number"},
      {all + "--parallel 65", "--parallel: 65 is not in range 1 to 64"},
      {all + "--chain", "--all excludes --chain"},
      {"update -f " + kManPage + " --row 0 --max-devices 3", "--max-devices requires --chain"},
      {"update -f " + loop + " --row 0", "--file: " + InspectFirmwareFile(loop).detail},
      {"list --no-syslog", ""},
      {all + "--parallel 08", ""},
      {"list --wait-lock 0x10", "a decimal number is needed, not 0x10"},
      {"list --wait-lock nan", "a decimal number is needed, not nan"},
      {"list --wait-lock 1.5", ""},
  };
  for (const auto& [line, refusal] : cases) {
    CLI::App app;
    Parsed p;
    DefineCommandLine(app, p);
    std::string said;
    try {
      app.parse(line);
    } catch (const CLI::ParseError& e) {
      said = e.what();
    }
    EXPECT_TRUE(refusal.empty() ? said.empty() : said.find(refusal) != std::string::npos)
        << line << ": " << said;
    EXPECT_TRUE(!line.ends_with(" 08") || p.options.parallel == 8);
  }
  EXPECT_EQ(InspectFirmwareFile(loop).detail, loop + ": Too many levels of symbolic links");
  std::filesystem::remove(loop);
}

}  // namespace
