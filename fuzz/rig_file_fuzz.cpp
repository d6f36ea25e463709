// Any bytes as a rig file: either refused with a reason, or a rig that
// writes out and reads back as the same rig, whose re-save and roll-call
// against a Find never fail.

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "records/rig.h"
#include "records/rig_firmware.h"
#include "records/roll_call.h"

using namespace quorvik;

namespace {

std::vector<DeviceRecord> Listed() {
  std::vector<DeviceRecord> records(3);
  for (size_t i = 0; i < records.size(); ++i) {
    DeviceRecord& r = records[i];
    r.version = 0x0102;
    r.mac = {0x00, 0x0A, 0x95, 0, 0, static_cast<uint8_t>(i)};
    r.identityLength = 11;
    for (uint8_t b = 0; b < 11; ++b) r.identity[b] = static_cast<uint8_t>(0x21 + b + 16 * i);
  }
  records[2].slaveNumber = 1;
  return records;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const RigDecode first = DecodeRig(text);
  if (!first.rig) {
    if (first.problem.empty()) std::abort();
    return 0;
  }
  const std::string saved = EncodeRig(*first.rig, "2026-12-08T09:00:00.000Z");
  const RigDecode again = DecodeRig(saved);
  if (!again.rig || EncodeRig(*again.rig, "2026-12-08T09:00:00.000Z") != saved) std::abort();
  const std::vector<DeviceRecord> listed = Listed();
  const RigMerge merge = MergeRig(*again.rig, listed);
  if (!DecodeRig(EncodeRig(merge.rig, "x")).rig) std::abort();
  const RollCall call = CallRoll(*again.rig, listed, CBlackListText("2122232425262728292a2b (x)"));
  if (call.lines.size() < again.rig->devices.size()) std::abort();
  // Every read rig's declarations read, and a declaration written into it
  // keeps it a rig.
  const RigFirmwareDecode declared = DecodeRigFirmware(*again.rig);
  if (!declared.problem.empty() || declared.byEntry.size() != again.rig->devices.size())
    std::abort();
  for (size_t e = 0; e < again.rig->devices.size(); ++e)
    ChooseFirmware(declared, e, again.rig->devices[e].deviceId, std::nullopt);
  Rig rig = *again.rig;
  DeclareFirmware(rig, {0x3680, std::nullopt, "fw/a.bin", std::string(64, 'a'), 0x0304, false});
  const RigDecode declaredAgain = DecodeRig(EncodeRig(rig, "x"));
  if (!declaredAgain.rig) std::abort();
  return 0;
}
