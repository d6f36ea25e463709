#pragma once
// `station`: a production bench. Every unit put on it that fits the file is
// updated once, with a line for test equipment per event (--porcelain).

#include "tools/cli/cli_common.h"

namespace quorvik {

// How the station's journal lines name the program that wrote them.
constexpr const char* kStationProgram = "quorvik-cli station";

// Runs until the first Ctrl-C (after the units being written) or, with
// --once, the first batch of units done. Returns the exit code: 0 no unit
// failed, 1 one did, 2 refused or the journal incomplete, 130 a second
// Ctrl-C cut a write short.
int RunStationCommand(const CliOptions& options, CEventWriter& writer, INetwork& network,
                      const CInterrupts& interrupts);

}  // namespace quorvik
