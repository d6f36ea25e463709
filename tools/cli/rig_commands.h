#pragma once
// Rig files from the command line: `list --save-rig FILE` keeps what a Find
// listed, `rollcall FILE` compares a Find with it.

#include <optional>
#include <string>

#include "records/listed_devices.h"
#include "records/rig.h"
#include "tools/cli/cli_common.h"

namespace quorvik {

// Before a search: a file at `path` that is no rig would be refused after
// it, so it is refused now. The exit code, or nothing when it may be saved.
std::optional<int> RefuseUnsavableRig(const std::string& path, const std::string& command,
                                      CEventWriter& writer);
// Merges what was listed into the rig at `path`: a `rig` event, or an error.
// Returns the exit code.
int SaveListedRig(const std::string& path, const ListedDevices& listed, CEventWriter& writer);

// `metricsPath`: where the counts go for collection (empty: nowhere).
// The rig at `path` for `command`, its declarations checked, read before
// the network opens: a file that is no rig costs no search. The exit code
// of the refusal, or nothing when `rig` holds it.
std::optional<int> ReadRigOrRefuse(const std::string& command, const std::string& path,
                                   CEventWriter& writer, Rig& rig);

int RunRollCall(const CliOptions& options, const std::string& rigPath,
                const std::string& metricsPath, CEventWriter& writer, INetwork& network,
                const CInterrupts& interrupts);

}  // namespace quorvik
