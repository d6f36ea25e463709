#pragma once
// `update --all` of quorvik-cli.

#include "tools/cli/cli_common.h"

namespace quorvik {

// Plans from one search, optionally only shows the plan, then updates each
// device. Returns the exit code.
int RunFleet(const CliOptions& options, CEventWriter& writer, INetwork& network,
             const CInterrupts& interrupts);

}  // namespace quorvik
