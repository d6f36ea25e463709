#pragma once
// A rig check as metrics for collection at scale: the Prometheus text
// format that node_exporter's textfile collector reads, counts of devices
// by model and state and the time of the check. No serial is a label: a
// series per device would grow with every unit ever swapped in.

#include <chrono>
#include <map>
#include <string>
#include <utility>

namespace quorvik {

struct RigMetrics {
  std::string rig;  // the rig file's name, which tells two rigs on one machine apart
  // By (model, state): roll-call states ("present", "changed", "missing",
  // "unexpected", "hidden") and, from a plan, firmware states
  // ("up_to_date", "out_of_date", "held", ...).
  std::map<std::pair<std::string, std::string>, int> devices;
  std::map<std::pair<std::string, std::string>, int> firmware;
  std::chrono::system_clock::time_point checked{};
};

std::string EncodeRigMetrics(const RigMetrics& metrics);
// Written to a temporary file and renamed over `path`: a collector never
// reads half a file. Empty when written, else why not.
std::string WriteRigMetrics(const std::string& path, const RigMetrics& metrics);

}  // namespace quorvik
