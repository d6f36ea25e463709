#pragma once
// The command line of quorvik-cli: every subcommand and its options, in the
// one table that the program parses with and that the tests hold the manual
// page and the shell completion to.

#include <CLI/CLI.hpp>
#include <string>
#include <vector>

#include "tools/cli/cli_commands.h"
#include "tools/cli/desired_state.h"

namespace quorvik {

struct Parsed {
  std::string command;
  bool json = false;
  std::string serial, mac;
  int row = -1;
  std::string inspectPath;
  std::vector<std::string> models;
  std::string rigPath;
  std::string mcu;
  DesiredStateOptions state;
  CliOptions options;
  HistoryOptions history;
};

// Defines the subcommands and options of quorvik-cli on `app`; parsing
// fills `p`.
void DefineCommandLine(CLI::App& app, Parsed& p);

}  // namespace quorvik
