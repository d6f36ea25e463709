#pragma once
// How the window is made: the program's settings, or a test's played
// clock, journal and network check.

#include <functional>
#include <string>
#include <vector>

#include "commands/clock.h"
#include "diagnostics/network_check.h"

namespace quorvik {

struct QuorvikWindowOptions {
  // Below 1, the protocol's waits run faster (tests).
  double timeScale = 1.0;
  // Does the waiting instead of real time when given (tests).
  IClock* innerClock = nullptr;
  // Ends the acknowledgement waits of a command that the closing window
  // interrupts.
  std::function<void()> abortReplyWaits;
  // Where the results of device commands are journalled; empty: nowhere.
  std::string journalPath;
  // Whether they go to the system journal too (the program; tests leave
  // the machine's journal alone).
  bool systemJournal = false;
  // A rig file that the roll-call opens with at start; empty: none.
  std::string rollCallRig;
  // A firmware file the station opens with at start; empty: none.
  std::string stationFile;
  // Runs the network check (tests play one).
  std::function<std::vector<CheckResult>(const NetworkCheckRequest&, IClock&,
                                         const std::function<void(const CheckResult&)>&)>
      networkCheck = RunNetworkCheck;
};

}  // namespace quorvik
