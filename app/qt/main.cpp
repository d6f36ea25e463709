#include <CLI/CLI.hpp>

#include "app/qt/quorvik_app.h"

using namespace quorvik;

int main(int argc, char** argv) {
  // --version and --help answer before the application object exists: they
  // need no display, and the network is never opened for them. Everything
  // else (Qt's own -platform, -style, ...) passes on untouched.
  CLI::App options{
      "Finds network-attached lighting devices and updates their firmware, resets and restarts "
      "them. The settings file is Quorvik.ini in the working directory when one is there, else "
      "$XDG_CONFIG_HOME/quorvik/Quorvik.ini. Qt's own options (-platform, -style, ...) are "
      "accepted too.",
      "quorvik"};
  options.allow_extras();
  options.set_version_flag("--version", "quorvik " QUORVIK_VERSION);
  std::string rollCallRig;
  options.add_option("--rollcall", rollCallRig,
                     "open the roll-call beside the window with this rig file (made by "
                     "Application > Save as rig... or quorvik-cli list --save-rig)");
  std::string stationFile;
  options.add_option("--station", stationFile,
                     "open the station (Application > Station...) with this firmware file");
  bool noSyslog = false;
  options.add_flag("--no-syslog", noSyslog,
                   "record the results of device commands in the journal file only, not in the "
                   "system journal (journalctl)");
  try {
    options.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return options.exit(e);
  }
  CQuorvikApp app(argc, argv);
  return app.Run(rollCallRig, !noSyslog, stationFile);
}
