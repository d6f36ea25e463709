#pragma once
// The commands of quorvik-cli, on the command functions the window calls.
// Each returns the process exit code and ends its output with a `result`
// event.

#include <istream>
#include <string>

#include "tools/cli/cli_common.h"

namespace quorvik {

int RunInterfaces(CEventWriter& writer, INetwork& network);
int RunList(const CliOptions& options, CEventWriter& writer, INetwork& network,
            const CInterrupts& interrupts);
int RunDeviceCommand(CommandKind kind, const CliOptions& options, CEventWriter& writer,
                     INetwork& network, std::istream& answers, const CInterrupts& interrupts);
int RunInspect(const std::string& path, CEventWriter& writer);

struct HistoryOptions {
  std::string journal;
  std::string serial;  // hex, either case
  std::string mac;
  std::string since;  // a date or an RFC 3339 time, UTC
  bool csv = false;
};
int RunHistory(const HistoryOptions& options, CEventWriter& writer);

}  // namespace quorvik
