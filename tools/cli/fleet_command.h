#pragma once
// `update --all` of quorvik-cli.

#include <string>

#include "commands/fleet.h"
#include "commands/fleet_run.h"
#include "tools/cli/cli_common.h"
#include "tools/cli/cli_session.h"

namespace quorvik {

// Plans from one search, optionally only shows the plan, then updates each
// device. Returns the exit code.
int RunFleet(const CliOptions& options, CEventWriter& writer, INetwork& network,
             const CInterrupts& interrupts);

struct FleetCommandContext {
  const CliOptions& options;
  CCliSession& session;  // its network open, its search made
  CEventWriter& writer;
  const CInterrupts& interrupts;
  INetwork& network;
};
// A plan already shown, from the consent on (`question`, or --yes): the
// run through the fleet engine with the options' lanes, retries, canary
// and waits, each result as it is handed out, and the summary. `run` holds
// the file (or each planned device its own). With `differs`, a run that
// went well still exits 4: something the run could not change is not as
// asked. Returns the exit code.
int RunFleetPlan(const FleetCommandContext& context, const FleetPlan& plan, FleetRunOptions run,
                 const std::string& question, bool differs = false);
// The summary of a fleet run and its exit code.
int FinishFleet(CCliSession& session, CEventWriter& writer, const FleetTally& tally,
                Outcome outcome, bool differs = false);

}  // namespace quorvik
