// quorvik-cli: the window's commands for scripts and production lines, with
// exit codes and, on request, one JSON object per event.

#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cstring>
#include <iostream>

#include "net/network_session.h"
#include "tools/cli/cli_commands.h"
#include "tools/cli/command_line.h"
#include "tools/cli/desired_state.h"
#include "tools/cli/doctor_command.h"
#include "tools/cli/interrupt_watcher.h"
#include "tools/cli/recover_command.h"
#include "tools/cli/rig_commands.h"
#include "tools/cli/station_command.h"

using namespace quorvik;

namespace {

DeviceSelector SelectorOf(const Parsed& p) {
  DeviceSelector selector;
  if (!p.serial.empty()) {
    selector.kind = DeviceSelector::Kind::kSerial;
    selector.serial = *ParseSerial(p.serial);
  } else if (!p.mac.empty()) {
    selector.kind = DeviceSelector::Kind::kMac;
    selector.mac = *ParseMac(p.mac);
  } else {
    selector.row = p.row;
  }
  return selector;
}

// The subcommand a command line names, for a report of its usage error.
std::string NamedCommand(int argc, char** argv) {
  for (int i = 1; i < argc; ++i)
    for (const char* name :
         {"interfaces", "list", "rollcall", "update", "reset", "run", "reboot", "inspect",
          "history", "doctor", "recover", "station", "declare", "plan", "apply"})
      if (std::strcmp(argv[i], name) == 0) return name;
  return "quorvik-cli";
}

bool WantsJson(int argc, char** argv) {
  for (int i = 1; i < argc; ++i)
    if (std::strcmp(argv[i], "--json") == 0) return true;
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app;
  Parsed p;
  DefineCommandLine(app, p);

  const bool json = WantsJson(argc, argv);
  CEventWriter writer(json ? OutputFormat::kJson : OutputFormat::kText, std::cout, std::cerr,
                      ::isatty(STDERR_FILENO) == 1);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    // Help is a success; every other parse error is bad usage, which a
    // script reading JSON gets as events like any other refusal.
    if (e.get_exit_code() == 0 || !json) {
      const int code = app.exit(e);
      return code == 0 ? 0 : kExitUsage;
    }
    return Refuse(writer, NamedCommand(argc, argv), e.what());
  }
  p.options.selector = SelectorOf(p);
  for (const std::string& model : p.models)
    p.options.models.push_back(static_cast<uint16_t>(std::stoul(model, nullptr, 16)));
  // A device command names one device; an update may name all instead.
  const bool named = !p.serial.empty() || !p.mac.empty() || p.row >= 0;
  const bool deviceCommand =
      p.command == "update" || p.command == "reset" || p.command == "run" || p.command == "reboot";
  if (deviceCommand && named == p.options.all)
    return Refuse(writer, p.command,
                  p.options.all ? "--all names every device: give no --serial, --mac or --row"
                  : p.command == "update"
                      ? "name the device with --serial, --mac or --row, or give --all"
                      : "name the device with --serial, --mac or --row");
  if (!p.mcu.empty()) p.state.mcu = static_cast<uint16_t>(std::stoul(p.mcu, nullptr, 16));
  if (!p.options.all && p.command != "station" && p.command != "apply" && p.command != "declare" &&
      (p.options.dryRun || !p.models.empty() || p.options.retries != 0 ||
       p.options.parallel != CliOptions{}.parallel || p.options.canary != 0))
    return Refuse(writer, p.command,
                  "--dry-run, --model, --retries, --parallel and --canary go with --all");
  // The one-device update keeps its fixed pauses, whatever is asked.
  if (p.command == "update" && !p.options.all &&
      (p.options.fixedWaits || p.options.settleMs != CliOptions{}.settleMs))
    return Refuse(writer, p.command, "--fixed-waits and --settle go with --all");
  // The watcher ends first: it may still abort the network's waits.
  CSystemNetwork network;
  const CInterruptWatcher interrupts(
      p.options.all || p.command == "station" || p.command == "apply",
      network.Devices().replyChannels);

  int code = 0;
  const bool usesNetwork = p.command == "list" || p.command == "rollcall" ||
                           p.command == "update" || p.command == "reset" || p.command == "run" ||
                           p.command == "reboot" || p.command == "recover" ||
                           p.command == "station" || p.command == "plan" || p.command == "apply";
  std::unique_ptr<CInstanceLock> lock;
  if (usesNetwork) {
    lock = TakeNetwork(p.options, p.command, writer, code);
    if (!lock) return code;
  }
  try {
    if (p.command == "interfaces")
      code = RunInterfaces(writer, network);
    else if (p.command == "list")
      code = RunList(p.options, writer, network, interrupts);
    else if (p.command == "rollcall")
      code = RunRollCall(p.options, p.rigPath, p.state.metrics, writer, network, interrupts);
    else if (p.command == "declare")
      code = RunDeclare(p.options, p.state, writer);
    else if (p.command == "plan")
      code = RunPlan(p.options, p.state, writer, network, interrupts);
    else if (p.command == "apply")
      code = RunApply(p.options, p.state, writer, network, interrupts);
    else if (p.command == "inspect")
      code = RunInspect(p.inspectPath, writer);
    else if (p.command == "history")
      code = RunHistory(p.history, writer);
    else if (p.command == "doctor")
      code = RunDoctor(p.options, writer, interrupts);
    else if (p.command == "recover")
      code = RunRecover(p.options, writer, network, interrupts);
    else if (p.command == "station")
      code = RunStationCommand(p.options, writer, network, interrupts);
    else if (p.command == "update")
      code =
          RunDeviceCommand(CommandKind::kUpdate, p.options, writer, network, std::cin, interrupts);
    else if (p.command == "reset")
      code =
          RunDeviceCommand(CommandKind::kReset, p.options, writer, network, std::cin, interrupts);
    else if (p.command == "run")
      code = RunDeviceCommand(CommandKind::kRun, p.options, writer, network, std::cin, interrupts);
    else if (p.command == "reboot")
      code =
          RunDeviceCommand(CommandKind::kReboot, p.options, writer, network, std::cin, interrupts);
  } catch (const CCommandCancelled&) {
    code = Refuse(writer, p.command, "interrupted", Outcome::kInterrupted);
  }
  writer.Close();
  // The sockets close while the ports' lock is still held.
  network.Close();
  return code;
}
