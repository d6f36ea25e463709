#pragma once
// Every wait of a command goes through a clock, so that tests can run the
// protocol's seconds-long waits in virtual or scaled time.

#include <chrono>
#include <thread>

namespace quorvik {

// Thrown out of a wait when the window closes in the middle of a command:
// the command unwinds at once instead of running its remaining steps.
struct CCommandCancelled {};

class IClock {
 public:
  virtual ~IClock() = default;
  // May throw CCommandCancelled.
  virtual void SleepFor(std::chrono::milliseconds duration) = 0;
  // True once the program has been told to stop (the window closes, Ctrl-C):
  // a wait that ended early then did not time out, and the command must not
  // report it as the device's failure.
  virtual bool Interrupted() const { return false; }
};

class CSystemClock : public IClock {
 public:
  void SleepFor(std::chrono::milliseconds duration) override {
    std::this_thread::sleep_for(duration);
  }
};

}  // namespace quorvik
