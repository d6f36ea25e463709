#pragma once
// `recover`: the devices that an update left half-written (the program was
// killed, the battery died) found again by a search and the journal, and,
// with --yes, written the same file again.

#include "tools/cli/cli_common.h"

namespace quorvik {

constexpr int kExitLeftHalfUpdated = 4;

int RunRecover(const CliOptions& options, CEventWriter& writer, INetwork& network,
               const CInterrupts& interrupts);

}  // namespace quorvik
