#pragma once
// quorvik-cli doctor: the network check, one line per finding.

#include "tools/cli/cli_common.h"

namespace quorvik {

// 0 when no check failed, 1 otherwise.
int RunDoctor(const CliOptions& options, CEventWriter& writer, const CInterrupts& interrupts);

}  // namespace quorvik
