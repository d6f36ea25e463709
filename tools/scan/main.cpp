// quorvik-scan: one search on one interface, printed as a table. It lets a
// technician (and `make run`, until the window exists) see what answers
// without any window system.

#include <CLI/CLI.hpp>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "base/hex_text.h"
#include "net/device_record.h"
#include "net/device_session.h"
#include "net/instance_lock.h"
#include "net/interfaces.h"
#include "net/network_session.h"
#include "net/reply_processing.h"
#include "net/requests.h"

using namespace quorvik;

namespace {

std::string Hex(const uint8_t* bytes, size_t n, const char* separator) {
  return HexText(std::span<const uint8_t>(bytes, n), true, separator);
}

std::string AsciiText(std::string_view raw) {
  std::string text;
  for (unsigned char c : raw) text += (c >= 0x20 && c < 0x7F) ? static_cast<char>(c) : '?';
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"Searches the network for devices and lists those that answer."};
  std::string iface;
  int waitMs = 2000;
  app.set_version_flag("--version", "quorvik-scan " QUORVIK_VERSION);
  app.add_option("--iface", iface, "local IPv4 address of the interface to search on");
  app.add_option("--wait-ms", waitMs, "how long to collect answers")->check(CLI::Range(0, 60000));
  CLI11_PARSE(app, argc, argv);

  const CInstanceLock::Attempt ports = CInstanceLock::Acquire("quorvik-scan");
  if (!ports.lock) {
    std::fprintf(stderr, "%s is using the devices' ports on this network\n",
                 ports.holder.Describe().c_str());
    return 2;
  }
  InterfaceList interfaces = EnumerateInterfaces();
  if (iface.empty()) {
    if (interfaces.count == 0) {
      std::fprintf(stderr, "No Ethernet connection !\n");
      return 1;
    }
    iface = FormatAddress(interfaces.addresses[0]);
  }
  DeviceSession devices;
  // Declared after `devices`: its receivers stop before they go.
  COpenNetwork network(devices);
  if (!network.Open(iface)) {
    std::fprintf(stderr, "Connection to Network failed ! (%s)\n", iface.c_str());
    return 1;
  }
  // A port that stayed closed hides every device that answers on it.
  for (const PortProblem& problem : network.Problems())
    std::fprintf(stderr, "%s\n", PortProblemText(problem).c_str());
  RequestBootSearch(network);
  RequestAppSearch(network);
  std::this_thread::sleep_for(std::chrono::milliseconds(waitMs));

  std::lock_guard lock(devices.deviceMutex);
  const int used = CountUsedRecords(devices.deviceTable);
  std::printf("%-3s %-5s %-6s %-7s %-6s %-33s %-17s %-5s %s\n", "row", "mode", "type", "version",
              "device", "serial", "mac", "port", "name");
  for (int i = 0; i < used; ++i) {
    const DeviceRecord& r = devices.deviceTable[i];
    char version[16], type[8], device[8];
    std::snprintf(version, sizeof version, "%d.%.2d", r.version >> 8, r.version & 0xFF);
    std::snprintf(type, sizeof type, "0x%.4x", r.loaderType);
    std::snprintf(device, sizeof device, "0x%.4x", r.deviceId);
    std::string name = AsciiText(r.Name());
    if (r.slaveNumber != 0) name += " (unit " + std::to_string(r.slaveNumber) + ")";
    std::printf("%-3d %-5s %-6s %-7s %-6s %-33s %-17s %-5d %s\n", i,
                r.loaderType == 0 ? "app" : "boot", type, version, device,
                Hex(r.identity.data(), r.identityLength, "").c_str(),
                Hex(r.mac.data(), r.mac.size(), "-").c_str(), r.port, name.c_str());
  }
  std::printf("%d Interfaces found (%d hidden)\n", used, devices.hiddenCount);
  return 0;
}
