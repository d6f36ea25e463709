#include "tools/cli/command_line.h"

#include <charconv>
#include <climits>
#include <cmath>

#include "files/operator_files.h"
#include "net/device_record.h"
#include "tools/cli/device_selection.h"

namespace quorvik {

namespace {

// A number of seconds or a fraction, in decimal only, as the whole numbers
// are: CLI11 would read "0x10" as 16, and its Range lets "nan" through.
const CLI::Validator kDecimalCheck(
    [](std::string& text) {
      const size_t point = text.find('.');
      const std::string digits =
          point == std::string::npos ? text : text.substr(0, point) + text.substr(point + 1);
      return !digits.empty() && digits.find_first_not_of("0123456789") == std::string::npos
                 ? std::string()
                 : "a decimal number is needed, not " + text;
    },
    "", "decimal");

// An empty --iface would silently mean the stored interface.
const CLI::Validator kIfaceCheck(
    [](std::string& text) {
      return text.empty() ? "an IPv4 address is needed, as quorvik-cli interfaces lists it, "
                            "or all"
                          : std::string();
    },
    "", "iface");

// A whole number in decimal, `min` to `max`. Left to itself CLI11 reads
// "0x8" as hex, "08" as a bad octal and " 8" as 8, and calls "abc" out of
// range: here only decimal digits make a number, leading zeros and all.
CLI::Validator WholeNumber(long long min, long long max, const std::string& outOfRange = {}) {
  return CLI::Validator(
      [=](std::string& text) {
        const size_t sign = text.rfind('-', 0) == 0 ? 1 : 0;
        if (text.size() == sign || text.find_first_not_of("0123456789", sign) != std::string::npos)
          return text + " is not a whole number";
        long long value = 0;
        const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
        if (error != std::errc() || value < min || value > max)
          return outOfRange.empty() ? text + " is not in range " + std::to_string(min) + " to " +
                                          std::to_string(max)
                                    : outOfRange;
        // What CLI11 then reads as C would: without a leading zero.
        text = std::to_string(value);
        return std::string();
      },
      max == INT_MAX ? "INT >= " + std::to_string(min)
                     : "INT in [" + std::to_string(min) + " - " + std::to_string(max) + "]",
      "whole number");
}

// The file's problem in the words the commands that read it use, so that
// a usage error and a refusal name it alike.
const CLI::Validator kFileCheck(
    [](std::string& path) {
      const auto problem = RegularFileProblem(path);
      return problem ? problem->message : std::string();
    },
    "", "file");

void AddNoSyslog(CLI::App* sub, Parsed& p) {
  // Scripts give it to every command alike.
  sub->add_flag("--no-syslog", p.options.noSyslog,
                "accepted as by every command; this one sends nothing to the system journal");
}

void AddJson(CLI::App* sub, Parsed& p) {
  sub->add_flag("--json", p.json, "one JSON object per line and event, a result object last");
}

void AddIface(CLI::App* sub, Parsed& p) {
  sub->add_option("--iface", p.options.iface,
                  "local IPv4 address of the interface to use for this run, or all for every "
                  "card at once; the settings file keeps its SELECTED_IP")
      ->check(kIfaceCheck);
}

void AddWaits(CLI::App* sub, Parsed& p, const std::string& when) {
  sub->add_flag("--fixed-waits", p.options.fixedWaits,
                when +
                    "pause 6 s after the restart request and 3 s after the run request, as "
                    "the one-device update does, instead of going on when the device answers");
  sub->add_option("--settle", p.options.settleMs,
                  when +
                      "milliseconds between a restarted loader's first answer and its first "
                      "block (default 300)")
      ->transform(WholeNumber(0, kMaxSettle.count()));
}

void AddFleetRun(CLI::App* sub, Parsed& p, const std::string& when) {
  sub->add_option("--retries", p.options.retries,
                  when + "further attempts after a device fails (not after a refusal)")
      ->transform(WholeNumber(0, 10));
  sub->add_option("--parallel", p.options.parallel,
                  when +
                      "how many devices are written at once (devices that share an address, or "
                      "have none, go one after the other)")
      ->transform(WholeNumber(1, 64));
  sub->add_option("--canary", p.options.canary,
                  when +
                      "update the first N planned devices on their own; go on with the rest "
                      "only if each ended ok and came back running")
      ->transform(WholeNumber(0, 64));
}

void AddDowngrade(CLI::App* sub, Parsed& p) {
  sub->add_flag("--allow-downgrade", p.state.allowDowngrade,
                "plan an update to a declared version older than the one a device runs "
                "(otherwise held)");
}

void AddMetrics(CLI::App* sub, Parsed& p) {
  sub->add_option("--metrics", p.state.metrics,
                  "also write the counts by model and state to FILE in the Prometheus text "
                  "format (for node_exporter's textfile collector)");
}

void AddWaitLock(CLI::App* sub, Parsed& p) {
  sub->add_option("--wait-lock", p.options.waitLockSeconds,
                  "when another Quorvik program uses the devices' ports, wait up to SECONDS for "
                  "it to end instead of refusing at once")
      ->check(kDecimalCheck)
      ->check(CLI::Range(0.0, 86400.0));
}

void AddJournal(CLI::App* sub, Parsed& p) {
  CLI::Option* path = sub->add_option(
      "--journal", p.options.journal,
      "journal file (default $XDG_STATE_HOME/quorvik/journal.jsonl; QUORVIK_JOURNAL "
      "overrides both)");
  sub->add_flag("--no-journal", p.options.noJournal,
                "run without recording the result in the journal")
      ->excludes(path);
  sub->add_flag("--no-syslog", p.options.noSyslog,
                "send the result to the journal file only, not to the system journal "
                "(journalctl)");
}

void AddTimeScale(CLI::App* sub, Parsed& p) {
  // For the tests: all waits of the logic run at this fraction of their length.
  sub->add_option("--time-scale", p.options.timeScale)
      ->check(kDecimalCheck)
      ->check(CLI::Range(0.01, 1.0))
      ->group("");
}

const CLI::Validator kSerialCheck(
    [](std::string& text) {
      return ParseSerial(text) ? std::string() : "a serial number is 1 to 16 bytes as hex digits";
    },
    "HEX", "serial");
const CLI::Validator kMacCheck(
    [](std::string& text) {
      return ParseMac(text) ? std::string()
                            : "a MAC address is six hex pairs, like 00-0A-95-9D-68-16";
    },
    "MAC", "mac");

const CLI::Validator kModelCheck(
    [](std::string& text) {
      std::string digits =
          text.rfind("0x", 0) == 0 || text.rfind("0X", 0) == 0 ? text.substr(2) : text;
      const bool hex = !digits.empty() && digits.size() <= 4 &&
                       digits.find_first_not_of("0123456789abcdefABCDEF") == std::string::npos;
      if (hex) text = digits;
      return hex ? std::string() : "a model code is up to four hex digits, like 3680";
    },
    "CODE", "model");

void AddSelector(CLI::App* sub, Parsed& p) {
  auto* group = sub->add_option_group("device", "the device, as `quorvik-cli list` shows it");
  group->add_option("--serial", p.serial, "serial number (hex, as listed)")->check(kSerialCheck);
  group->add_option("--mac", p.mac, "MAC address (as listed, '-' or ':' separated)")
      ->check(kMacCheck);
  group->add_option("--row", p.row, "row of the list (0 is the first)")
      ->transform(WholeNumber(0, kDeviceTableCapacity - 1));
  group->require_option(0, 1);
}

void AddDeviceCommand(CLI::App& app, const char* name, const char* description, Parsed& p) {
  CLI::App* sub = app.add_subcommand(name, description);
  AddSelector(sub, p);
  AddIface(sub, p);
  AddWaitLock(sub, p);
  AddJournal(sub, p);
  AddJson(sub, p);
  AddTimeScale(sub, p);
  if (std::string(name) == "reset")
    sub->add_flag("--yes,-y", p.options.yes, "answer the factory-reset question with Yes");
  sub->callback([&p, sub] { p.command = sub->get_name(); });
}

}  // namespace

void DefineCommandLine(CLI::App& app, Parsed& p) {
  app.description(
      "Firmware updates and maintenance of network-attached lighting devices, as the Quorvik "
      "window does them. Exit codes: 0 success, 1 the device failed, 2 bad usage, a refused "
      "file or a busy network, 3 no matching device, 4 the roll-call found a difference or a "
      "device is left "
      "half-updated, 130 interrupted. The station exits 0 when no unit failed, 1 when one "
      "did.");
  app.require_subcommand(1);
  app.set_version_flag("--version", "quorvik-cli " QUORVIK_VERSION);

  CLI::App* interfaces = app.add_subcommand("interfaces",
                                            "list the interfaces as the window's "
                                            "combo shows them (* marks the one used)");
  AddJson(interfaces, p);
  AddNoSyslog(interfaces, p);
  interfaces->callback([&] { p.command = "interfaces"; });

  CLI::App* list = app.add_subcommand("list", "search (2 s) and list the devices that answer");
  AddIface(list, p);
  AddWaitLock(list, p);
  AddJson(list, p);
  AddNoSyslog(list, p);
  AddTimeScale(list, p);
  list->add_option("--save-rig", p.options.saveRig,
                   "save the listed devices as a rig FILE; a rig already there keeps its "
                   "labels and locations, and its devices that did not answer");
  list->callback([&] { p.command = "list"; });

  CLI::App* rollcall = app.add_subcommand(
      "rollcall",
      "search once and compare with a rig file: every rig device present, changed or missing "
      "(hidden when black-listed), every other listed device unexpected; exit 4 on any "
      "difference");
  rollcall->add_option("file", p.rigPath, "rig file (quorvik-cli list --save-rig FILE)")
      ->required();
  AddIface(rollcall, p);
  AddWaitLock(rollcall, p);
  AddJson(rollcall, p);
  AddNoSyslog(rollcall, p);
  AddTimeScale(rollcall, p);
  AddMetrics(rollcall, p);
  rollcall->callback([&] { p.command = "rollcall"; });

  CLI::App* declare = app.add_subcommand(
      "declare",
      "write into a rig file which firmware file a model takes and the version it installs, "
      "with the file's SHA-256 (one entry per model the file has a section for, or --model)");
  declare->add_option("rig", p.state.rigPath, "rig file")->required();
  declare->add_option("--file,-f", p.options.file, "firmware file")->required()->check(kFileCheck);
  declare->add_option("--version", p.state.version, "the version the file installs, as 3.04")
      ->required();
  declare
      ->add_option("--model", p.models,
                   "only this model code (hex, as 3680 or 0x3680); may be given more than once")
      ->check(kModelCheck);
  declare
      ->add_option("--mcu", p.mcu,
                   "only devices of this MCU code (hex) of the model: for a model whose MCU "
                   "variants take different files")
      ->check(kModelCheck)
      ->needs("--model");
  AddJson(declare, p);
  AddNoSyslog(declare, p);
  declare->callback([&] { p.command = "declare"; });

  CLI::App* plan = app.add_subcommand(
      "plan",
      "search once and say for every rig device what apply would do to bring it to the "
      "firmware the rig declares, and why; exit 4 when anything is to do or differs");
  plan->add_option("rig", p.state.rigPath, "rig file")->required();
  AddDowngrade(plan, p);
  AddMetrics(plan, p);
  AddIface(plan, p);
  AddWaitLock(plan, p);
  AddJson(plan, p);
  AddNoSyslog(plan, p);
  AddTimeScale(plan, p);
  plan->callback([&] { p.command = "plan"; });

  CLI::App* apply = app.add_subcommand(
      "apply",
      "update the devices whose firmware is not the one the rig declares, as update --all "
      "does, and read back each one's version; exit 1 when a device failed, 4 when the rig "
      "still differs");
  apply->add_option("rig", p.state.rigPath, "rig file")->required();
  AddDowngrade(apply, p);
  AddFleetRun(apply, p, "");
  AddWaits(apply, p, "");
  AddIface(apply, p);
  AddWaitLock(apply, p);
  AddJournal(apply, p);
  apply->add_flag("--yes,-y", p.options.yes, "update without asking");
  AddJson(apply, p);
  AddTimeScale(apply, p);
  apply->callback([&] { p.command = "apply"; });

  CLI::App* update = app.add_subcommand("update", "Firmware-Update of one device");
  update->add_option("--file,-f", p.options.file, "firmware file")->required()->check(kFileCheck);
  AddSelector(update, p);
  update->add_flag("--all", p.options.all, "every listed device, after a plan (a fleet update)");
  update
      ->add_option("--model", p.models,
                   "with --all: only devices of this model code (hex, as 3680 or 0x3680); may be "
                   "given more than once")
      ->check(kModelCheck);
  update->add_flag("--dry-run", p.options.dryRun,
                   "with --all: print the plan, send nothing but the search");
  AddFleetRun(update, p, "with --all: ");
  AddWaits(update, p, "with --all: ");
  AddIface(update, p);
  AddWaitLock(update, p);
  AddJournal(update, p);
  CLI::Option* chain =
      update
          ->add_flag("--chain", p.options.chain,
                     "go on as \"... and make Update\" does: after each update, while the Find "
                     "lists exactly one device and it is not one updated in this run")
          ->excludes("--all");
  update->add_option("--max-devices", p.options.maxDevices, "end a chain after this many devices")
      ->transform(WholeNumber(1, INT_MAX, "a number of devices is needed, 1 or more"))
      ->needs(chain);
  update->add_flag("--yes,-y", p.options.yes,
                   "with --all: update without asking; otherwise accepted for symmetry");
  AddJson(update, p);
  AddTimeScale(update, p);
  update->callback([&] { p.command = "update"; });

  AddDeviceCommand(app, "reset", "factory reset, after the window's question (or --yes)", p);
  AddDeviceCommand(app, "run", "a device in its bootloader starts its application", p);
  AddDeviceCommand(app, "reboot", "a running device restarts through its bootloader", p);

  CLI::App* inspect =
      app.add_subcommand("inspect", "the sections of a firmware file and any defect");
  inspect->add_option("file", p.inspectPath, "firmware file")->required();
  AddJson(inspect, p);
  AddNoSyslog(inspect, p);
  inspect->callback([&] { p.command = "inspect"; });

  CLI::App* doctor = app.add_subcommand(
      "doctor",
      "check why devices might not answer: cards, ports, firewall, reverse-path filter, "
      "kernel, and a live search; changes nothing (run with sudo to see every rule and process)");
  AddIface(doctor, p);
  AddJson(doctor, p);
  AddNoSyslog(doctor, p);
  AddTimeScale(doctor, p);
  doctor->callback([&] { p.command = "doctor"; });

  CLI::App* recover = app.add_subcommand(
      "recover",
      "search and list the devices an update left half-written (in their loader, their last "
      "journal line the start of an update); with --yes write each the same file again; exit 4 "
      "when any is left");
  recover->add_flag("--yes,-y", p.options.yes,
                    "write each half-updated device the same file again, and close the unfinished "
                    "updates of devices found running");
  AddWaits(recover, p, "with --yes: ");
  AddIface(recover, p);
  AddWaitLock(recover, p);
  recover->add_option("--journal", p.options.journal,
                      "journal file to read and append to (see update --journal)");
  recover->add_flag("--no-syslog", p.options.noSyslog,
                    "send the results to the journal file only, not to the system journal "
                    "(journalctl)");
  AddJson(recover, p);
  AddTimeScale(recover, p);
  recover->callback([&] { p.command = "recover"; });

  CLI::App* station = app.add_subcommand(
      "station",
      "a production bench: search every 2 s and update each unit put on the bench that fits "
      "the file, once until it is taken away and put back; Ctrl-C ends after the units being "
      "written");
  station->add_option("--file,-f", p.options.file, "firmware file")->required()->check(kFileCheck);
  station
      ->add_option("--model", p.models,
                   "only units of this model code (hex, as 3680 or 0x3680); may be given more "
                   "than once")
      ->check(kModelCheck);
  station
      ->add_option("--parallel", p.options.parallel,
                   "how many units are written at once (units that share an address, or have "
                   "none, go one after the other)")
      ->transform(WholeNumber(1, 64));
  CLI::Option* porcelain =
      station->add_flag("--porcelain", p.options.porcelain,
                        "only the station's lines for test equipment on stdout (see the manual)");
  station->add_flag("--once", p.options.once,
                    "end after the first batch of units is done (the units the first search "
                    "with any unit to update found)");
  station->add_flag("--skip-done", p.options.skipDone,
                    "leave alone units whose last journal line shows this file's SHA-256 with "
                    "outcome ok (the default; refuses to run without a journal)");
  station->add_flag("--again", p.options.again,
                    "flash units done with this file before (by the journal or in this run) "
                    "again");
  AddWaits(station, p, "");
  AddIface(station, p);
  AddWaitLock(station, p);
  AddJournal(station, p);
  AddJson(station, p);
  porcelain->excludes(station->get_option("--json"));
  AddTimeScale(station, p);
  station->callback([&] { p.command = "station"; });

  CLI::App* history = app.add_subcommand("history", "the journal of device commands, oldest first");
  history->add_option("--journal", p.history.journal, "journal file (see update --journal)");
  auto* which = history->add_option_group("device", "one device only");
  which->add_option("--serial", p.history.serial, "serial number (hex, as listed)")
      ->check(kSerialCheck);
  which->add_option("--mac", p.history.mac, "MAC address")->check(kMacCheck);
  which->require_option(0, 1);
  history->add_option("--since", p.history.since,
                      "entries from this date (2026-12-01) or time (2026-12-01T18:30:00Z), UTC");
  auto* format = history->add_option_group("format");
  format->add_flag("--json", p.json, "one JSON object per entry, a result object last");
  format->add_flag("--csv", p.history.csv, "CSV with a header row (RFC 4180)");
  format->require_option(0, 1);
  AddNoSyslog(history, p);
  history->callback([&] { p.command = "history"; });
}

}  // namespace quorvik
