#pragma once
// The rig as desired state from the command line: `declare` writes which
// file (and version) a model takes into the rig, `plan` says what bringing
// every device there would do, `apply` does it and reads each device's
// version back.

#include <optional>
#include <string>

#include "records/rig_metrics.h"
#include "records/roll_call.h"
#include "tools/cli/cli_common.h"

namespace quorvik {

struct DesiredStateOptions {
  std::string rigPath;
  std::string version;          // declare: what the file installs, "3.04"
  std::optional<uint16_t> mcu;  // declare: only this MCU of the model
  std::string metrics;          // plan, rollcall: write the counts here
  bool allowDowngrade = false;
};

// A roll-call's counts by model and state, checked now.
RigMetrics MetricsOf(const std::string& rigPath, const RollCall& call);
// Writes the metrics to `path` unless it is empty; the exit code when that
// fails.
std::optional<int> WriteMetricsFile(const std::string& path, const RigMetrics& metrics,
                                    CEventWriter& writer);

int RunDeclare(const CliOptions& options, const DesiredStateOptions& state, CEventWriter& writer);
int RunPlan(const CliOptions& options, const DesiredStateOptions& state, CEventWriter& writer,
            INetwork& network, const CInterrupts& interrupts);
int RunApply(const CliOptions& options, const DesiredStateOptions& state, CEventWriter& writer,
             INetwork& network, const CInterrupts& interrupts);

}  // namespace quorvik
