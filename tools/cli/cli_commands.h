#pragma once
// The commands of quorvik-cli on top of the window's logic. Each returns
// the process exit code.

#include <atomic>
#include <chrono>
#include <istream>
#include <optional>
#include <string>

#include "app/clock.h"
#include "app/network.h"
#include "net/interfaces.h"
#include "tools/cli/console_view.h"
#include "tools/cli/device_selection.h"
#include "tools/cli/event_output.h"
#include "tools/cli/outcome.h"

constexpr int kExitUsage = 2;
constexpr int kExitInterrupted = 130;

struct CliOptions {
  std::string iface;  // overrides SELECTED_IP for this run only
  bool yes = false;
  double timeScale = 1.0;
  DeviceSelector selector;
  std::string file;
  bool chain = false;
  int maxDevices = 0;  // 0: no limit
};

// Set from the SIGINT handler; the next wait of a command then unwinds it.
extern std::atomic<bool> g_interrupted;

// Every wait of the logic, scaled (tests run the protocol's seconds-long
// waits shorter) and interruptible. The view's held status line is written
// before the wait, so that nothing sits unprinted for seconds.
class CCliClock : public IClock {
 public:
  CCliClock(CConsoleView& view, double scale) : m_view(view), m_scale(scale) {}
  void SleepFor(std::chrono::milliseconds duration) override;

 private:
  CConsoleView& m_view;
  double m_scale;
};

// The entry of the window's combo that start-up selects: the requested
// address when given (nothing when no interface holds it), else the stored
// one, else the first.
std::optional<int> ChooseInterfaceIndex(const InterfaceList& interfaces, const std::string& stored,
                                        const std::string& requested);

int RunInterfaces(CEventWriter& writer, INetwork& network);
int RunList(const CliOptions& options, CEventWriter& writer, INetwork& network);
int RunDeviceCommand(CommandKind kind, const CliOptions& options, CEventWriter& writer,
                     INetwork& network, std::istream& answers);
int RunInspect(const std::string& path, CEventWriter& writer);
