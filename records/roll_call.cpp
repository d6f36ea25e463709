#include "records/roll_call.h"

#include <algorithm>

#include "devices/device_identity.h"
#include "devices/device_list.h"
#include "net/protocol.h"
#include "net/reply_processing.h"

namespace quorvik {

namespace {

// A running device is hidden by the first 11 bytes of its serial, its
// loader by all of them: the rig may hold either.
bool BlackListed(const RigEntry& entry, const CBlackListText& blackList) {
  if (!HasSerial(entry)) return false;
  const std::span<const uint8_t> serial(entry.serial);
  return blackList.Hides(MakeSearchKey(serial)) ||
         (serial.size() > kAppIdentityCompareLength &&
          blackList.Hides(MakeSearchKey(serial.first(kAppIdentityCompareLength))));
}

// Only what the rig states is compared: a hand-written entry may leave the
// version or the mode out.
bool Differs(const std::string& expected, const std::string& found) {
  return !expected.empty() && expected != found;
}

RollCallState StateOf(const DeviceRecord& record) {
  return {FormatVersion(record.version), ModeName(record)};
}

void FillListed(RollCallLine& line, std::span<const DeviceRecord> listed, int row) {
  const DeviceRecord& record = listed[static_cast<size_t>(row)];
  line.interface = NetworkText(record);
  line.networks = NetworkCount(listed, static_cast<size_t>(row));
  line.row = row;
  line.device = ListName(record);
  line.serial = FormatSerial(record);
  line.mac = FormatMac(record);
  line.now = StateOf(record);
  line.twins = record.twins;
}

}  // namespace

const char* RollCallStatusName(RollCallStatus status) {
  switch (status) {
    case RollCallStatus::kPresent:
      return "present";
    case RollCallStatus::kChanged:
      return "changed";
    case RollCallStatus::kMissing:
      return "missing";
    case RollCallStatus::kUnexpected:
      return "unexpected";
    case RollCallStatus::kHidden:
      return "hidden";
  }
  return "";
}

int RollCall::Count(RollCallStatus status) const {
  return static_cast<int>(std::count_if(lines.begin(), lines.end(),
                                        [status](const auto& l) { return l.status == status; }));
}

bool RollCall::Passed() const {
  return Count(RollCallStatus::kChanged) == 0 && Count(RollCallStatus::kMissing) == 0 &&
         Count(RollCallStatus::kUnexpected) == 0 &&
         std::none_of(lines.begin(), lines.end(), [](const auto& l) { return l.twins >= 2; });
}

RollCall CallRoll(const Rig& rig, std::span<const DeviceRecord> listed,
                  const CBlackListText& blackList) {
  RollCall call;
  std::vector<bool> claimed(listed.size(), false);
  for (size_t e = 0; e < rig.devices.size(); ++e) {
    const RigEntry& entry = rig.devices[e];
    RollCallLine line;
    line.entry = e;
    line.label = entry.label;
    line.location = entry.location;
    line.old = RollCallState{entry.version, entry.mode};
    size_t i = 0;
    while (i < listed.size() && (claimed[i] || !EntryMatches(entry, listed[i]))) ++i;
    if (i < listed.size()) {
      claimed[i] = true;
      FillListed(line, listed, static_cast<int>(i));
      line.status = Differs(entry.version, line.now->version) || Differs(entry.mode, line.now->mode)
                        ? RollCallStatus::kChanged
                        : RollCallStatus::kPresent;
    } else {
      line.status =
          BlackListed(entry, blackList) ? RollCallStatus::kHidden : RollCallStatus::kMissing;
      line.device = entry.model;
      line.serial = SerialText(entry.serial);
      line.mac = entry.mac ? MacText(*entry.mac) : std::string();
    }
    call.lines.push_back(std::move(line));
  }
  for (size_t i = 0; i < listed.size(); ++i) {
    if (claimed[i] || listed[i].slaveNumber != 0 || listed[i].IsFree()) continue;
    // A rig device heard on a second card is the same device, marked on its
    // line as answering on two networks, not an unexpected one.
    if (std::any_of(call.lines.begin(), call.lines.end(), [&](const RollCallLine& l) {
          return l.row >= 0 && l.entry &&
                 SameDeviceOnAnyCard(listed[static_cast<size_t>(l.row)], listed[i]);
        }))
      continue;
    RollCallLine line;
    line.status = RollCallStatus::kUnexpected;
    FillListed(line, listed, static_cast<int>(i));
    call.lines.push_back(std::move(line));
  }
  return call;
}

std::string RollCallSummary(const RollCall& call) {
  std::string text;
  for (const RollCallStatus status : kRollCallStatuses)
    text += (text.empty() ? "" : ", ") + std::to_string(call.Count(status)) + " " +
            RollCallStatusName(status);
  return text;
}

}  // namespace quorvik
