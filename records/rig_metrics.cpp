#include "records/rig_metrics.h"

#include <cstdio>
#include <set>

#include "files/operator_files.h"

namespace quorvik {

namespace {

// A label value as the text format quotes it; device names are bytes of
// no known encoding, so anything else than printable ASCII becomes '?'.
std::string LabelValue(const std::string& text) {
  std::string out;
  for (const char c : text) {
    if (c == '\\' || c == '"')
      out += std::string("\\") + c;
    else if (c == '\n')
      out += "\\n";
    else
      out += (c >= 0x20 && c < 0x7F) ? c : '?';
  }
  return out;
}

void Family(std::string& out, const char* name, const char* help, const std::string& rig,
            const std::map<std::pair<std::string, std::string>, int>& counts,
            std::initializer_list<const char*> states) {
  out += std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " gauge\n";
  std::set<std::string> models;
  for (const auto& [key, count] : counts) models.insert(key.first);
  // Every state of every model, zeros included: a series that comes and
  // goes reads as a gap, not as zero.
  for (const std::string& model : models)
    for (const char* state : states) {
      const auto found = counts.find({model, state});
      out += std::string(name) + "{rig=\"" + LabelValue(rig) + "\",model=\"" + LabelValue(model) +
             "\",state=\"" + state + "\"} " +
             std::to_string(found == counts.end() ? 0 : found->second) + "\n";
    }
}

}  // namespace

std::string EncodeRigMetrics(const RigMetrics& m) {
  std::string out;
  Family(out, "quorvik_rig_devices", "Devices of the rig by model and roll-call state.", m.rig,
         m.devices, {"present", "changed", "missing", "unexpected", "hidden"});
  if (!m.firmware.empty())
    Family(out, "quorvik_rig_firmware_devices",
           "Devices of the rig by model and how their firmware stands against the declared one.",
           m.rig, m.firmware,
           {"up_to_date", "out_of_date", "held", "no_firmware", "file_changed", "file_does_not_fit",
            "missing", "hidden", "unexpected", "ambiguous"});
  const double seconds = std::chrono::duration<double>(m.checked.time_since_epoch()).count();
  char time[64];
  std::snprintf(time, sizeof time, "%.3f", seconds);
  out +=
      "# HELP quorvik_rig_check_timestamp_seconds When the rig was last checked.\n"
      "# TYPE quorvik_rig_check_timestamp_seconds gauge\n"
      "quorvik_rig_check_timestamp_seconds{rig=\"" +
      LabelValue(m.rig) + "\"} " + time + "\n";
  return out;
}

std::string WriteRigMetrics(const std::string& path, const RigMetrics& metrics) {
  const FileWrite written = WriteFileAtomically(path, EncodeRigMetrics(metrics));
  return written ? std::string() : written.problem.message;
}

}  // namespace quorvik
