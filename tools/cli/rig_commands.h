#pragma once
// Rig files from the command line: `list --save-rig FILE` keeps what a Find
// listed, `rollcall FILE` compares a Find with it.

#include <optional>
#include <string>

#include "records/listed_devices.h"
#include "tools/cli/cli_common.h"

namespace quorvik {

// Some rig device is changed or missing, or a listed device is not in the
// rig: a script checking a rig before a show stops on it.
constexpr int kExitRollCallDiffers = 4;

// Before a search: a file at `path` that is no rig would be refused after
// it, so it is refused now. The exit code, or nothing when it may be saved.
std::optional<int> RefuseUnsavableRig(const std::string& path, const std::string& command,
                                      CEventWriter& writer);
// Merges what was listed into the rig at `path`: a `rig` event, or an error.
// Returns the exit code.
int SaveListedRig(const std::string& path, const ListedDevices& listed, CEventWriter& writer);

int RunRollCall(const CliOptions& options, const std::string& rigPath, CEventWriter& writer,
                INetwork& network, const CInterrupts& interrupts);

}  // namespace quorvik
