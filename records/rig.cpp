#include "records/rig.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "base/hex_text.h"
#include "devices/device_identity.h"
#include "devices/device_list.h"
#include "records/journal.h"
#include "records/rig_firmware.h"

namespace quorvik {

namespace {

// The fields of an entry this program reads and writes, in the order it
// writes them.
constexpr std::array<std::string_view, 8> kEntryFields = {
    "serial", "mac", "deviceId", "model", "version", "mode", "label", "location"};
constexpr std::array<std::string_view, 4> kRigFields = {"format", "type", "saved", "devices"};

JsonNode TextOrNull(std::string text) {
  return text.empty() ? JsonNode{} : JsonString(std::move(text));
}

std::optional<RigEntry> DecodeEntry(const JsonNode& node, std::string& problem) {
  if (node.kind != JsonNode::Kind::kObject) {
    problem = "it is not an object";
    return std::nullopt;
  }
  RigEntry entry;
  std::string serial, mac, deviceId;
  if (!ReadOptionalText(node, "serial", serial, problem) ||
      !ReadOptionalText(node, "mac", mac, problem) ||
      !ReadOptionalText(node, "model", entry.model, problem) ||
      !ReadOptionalText(node, "version", entry.version, problem) ||
      !ReadOptionalText(node, "mode", entry.mode, problem) ||
      !ReadOptionalText(node, "label", entry.label, problem) ||
      !ReadOptionalText(node, "location", entry.location, problem) ||
      !ReadOptionalText(node, "deviceId", deviceId, problem))
    return std::nullopt;
  if (const auto bytes = ParseHexBytes(serial); bytes && bytes->size() <= 16) {
    entry.serial = *bytes;
  } else {
    problem = "the serial \"" + serial + "\" is not 1 to 16 bytes of hex digits";
    return std::nullopt;
  }
  if (!mac.empty()) {
    entry.mac = ParseMacText(mac);
    if (!entry.mac) {
      problem = "the MAC \"" + mac + "\" is not six hex pairs like 00-0A-95-9D-68-16";
      return std::nullopt;
    }
  }
  if (!deviceId.empty() && !(entry.deviceId = ParseRigCode(deviceId))) {
    problem = "the deviceId \"" + deviceId + "\" is not four hex digits like 0x3680";
    return std::nullopt;
  }
  if (!entry.mode.empty() && entry.mode != "app" && entry.mode != "boot") {
    problem = "the mode \"" + entry.mode + "\" is neither \"app\" nor \"boot\"";
    return std::nullopt;
  }
  if (!HasSerial(entry) && !(entry.mac && HasRealMac(*entry.mac))) {
    problem = "it names no device: it needs a serial, or a MAC other than 00-60-35-00-00-00";
    return std::nullopt;
  }
  for (const JsonMember& member : node.members)
    if (std::find(kEntryFields.begin(), kEntryFields.end(), member.name) == kEntryFields.end())
      entry.extra.push_back(member);
  return entry;
}

bool SameEntryDevice(const RigEntry& a, const RigEntry& b) {
  if (HasSerial(a) != HasSerial(b)) return false;
  if (HasSerial(a)) return SameSerial(a.serial, b.serial);
  return a.mac == b.mac;
}

std::string Fixed(const std::string& name, const JsonNode& value) {
  std::string out;
  out += EncodeJsonNode(JsonString(name));
  return out + ": " + EncodeJsonNode(value);
}

}  // namespace

std::string RigCodeText(uint16_t code) {
  return "0x" + HexWord(code, true);
}

std::optional<uint16_t> ParseRigCode(std::string_view text) {
  if (text.size() != 6 || text.substr(0, 2) != "0x") return std::nullopt;
  const auto bytes = ParseHexBytes(text.substr(2));
  if (!bytes) return std::nullopt;
  return static_cast<uint16_t>((*bytes)[0] << 8 | (*bytes)[1]);
}

bool HasSerial(const RigEntry& entry) {
  return std::any_of(entry.serial.begin(), entry.serial.end(), [](uint8_t b) { return b; });
}

bool EntryMatches(const RigEntry& entry, const DeviceRecord& record) {
  return MatchesRigDevice(entry.serial, entry.mac, record);
}

std::optional<RigEntry> RigEntryOf(const DeviceRecord& record) {
  if (record.slaveNumber != 0 || record.IsFree()) return std::nullopt;
  if (!HasIdentity(record) && !HasRealMac(record)) return std::nullopt;
  RigEntry entry;
  if (HasIdentity(record)) {
    const auto identity = SerialBytes(record);
    entry.serial.assign(identity.begin(), identity.end());
  }
  entry.mac = record.mac;
  if (record.deviceId != 0) entry.deviceId = record.deviceId;
  entry.model = ListName(record);
  entry.version = FormatVersion(record.version);
  entry.mode = ModeName(record);
  return entry;
}

RigDecode DecodeRig(std::string_view text) {
  RigDecode result;
  const JsonDocument document = DecodeJsonDocument(text);
  if (!document.root) {
    char where[64];
    std::snprintf(where, sizeof where, "line %d, column %d", document.line, document.column);
    result.problem = document.truncated
                         ? "it ends in the middle (" + std::string(where) + "): cut short?"
                         : "it is not JSON (at " + std::string(where) + ")";
    return result;
  }
  const JsonNode& root = *document.root;
  const JsonNode* type = root.Member("type");
  if (root.kind != JsonNode::Kind::kObject || type == nullptr || type->text != kRigType ||
      type->kind != JsonNode::Kind::kString) {
    result.problem = "it is no Quorvik rig (it lacks \"type\": \"quorvik-rig\")";
    return result;
  }
  const JsonNode* format = root.Member("format");
  if (format == nullptr || format->kind != JsonNode::Kind::kNumber) {
    result.problem = "it has no \"format\" number";
    return result;
  }
  if (format->text != std::to_string(kRigFormat)) {
    result.problem = "it is rig format " + format->text + "; this program reads format " +
                     std::to_string(kRigFormat);
    return result;
  }
  const JsonNode* devices = root.Member("devices");
  if (devices == nullptr || devices->kind != JsonNode::Kind::kArray) {
    result.problem = "it has no \"devices\" list";
    return result;
  }
  if (devices->items.size() > kRigMaxDevices) {
    result.problem = "it lists more than " + std::to_string(kRigMaxDevices) + " devices";
    return result;
  }
  Rig rig;
  for (size_t i = 0; i < devices->items.size(); ++i) {
    std::string problem;
    auto entry = DecodeEntry(devices->items[i], problem);
    if (!entry) {
      result.problem = "device " + std::to_string(i + 1) + ": " + problem;
      return result;
    }
    for (size_t j = 0; j < rig.devices.size(); ++j)
      if (SameEntryDevice(rig.devices[j], *entry)) {
        result.problem = "devices " + std::to_string(j + 1) + " and " + std::to_string(i + 1) +
                         " name the same device";
        return result;
      }
    rig.devices.push_back(std::move(*entry));
  }
  for (const JsonMember& member : root.members)
    if (std::find(kRigFields.begin(), kRigFields.end(), member.name) == kRigFields.end())
      rig.extra.push_back(member);
  if (std::string problem = DecodeRigFirmware(rig).problem; !problem.empty()) {
    result.problem = std::move(problem);
    return result;
  }
  result.rig = std::move(rig);
  return result;
}

std::string EncodeRig(const Rig& rig, const std::string& savedAt) {
  JsonNode format;
  format.kind = JsonNode::Kind::kNumber;
  format.text = std::to_string(kRigFormat);
  // One device a line: a person edits labels in any text editor, and a
  // version control diff shows which device changed.
  std::string out = "{\n  " + Fixed("format", format) + ",\n  " +
                    Fixed("type", JsonString(kRigType)) + ",\n  " +
                    Fixed("saved", JsonString(savedAt)) + ",\n";
  for (const JsonMember& member : rig.extra) {
    // A declaration a line, as the devices: a diff shows which file changed.
    if (member.name == "firmware" && member.value.kind == JsonNode::Kind::kArray &&
        !member.value.items.empty()) {
      out += "  " + EncodeJsonNode(JsonString(member.name)) + ": [";
      for (size_t i = 0; i < member.value.items.size(); ++i)
        out += (i == 0 ? "\n    " : ",\n    ") + EncodeJsonNode(member.value.items[i]);
      out += "\n  ],\n";
      continue;
    }
    out += "  " + Fixed(member.name, member.value) + ",\n";
  }
  out += "  \"devices\": [";
  for (size_t i = 0; i < rig.devices.size(); ++i) {
    const RigEntry& e = rig.devices[i];
    JsonNode object;
    object.kind = JsonNode::Kind::kObject;
    object.members = {{"serial", TextOrNull(SerialText(e.serial))},
                      {"mac", e.mac ? JsonString(MacText(*e.mac)) : JsonNode{}},
                      {"deviceId", e.deviceId ? JsonString(RigCodeText(*e.deviceId)) : JsonNode{}},
                      {"model", JsonString(e.model)},
                      {"version", JsonString(e.version)},
                      {"mode", JsonString(e.mode)},
                      {"label", JsonString(e.label)},
                      {"location", JsonString(e.location)}};
    object.members.insert(object.members.end(), e.extra.begin(), e.extra.end());
    out += (i == 0 ? "\n    " : ",\n    ") + EncodeJsonNode(object);
  }
  return out + (rig.devices.empty() ? "]\n}\n" : "\n  ]\n}\n");
}

RigRead ReadRigFile(const std::string& path) {
  RigRead result;
  const FileRead read = ReadWholeFile(path, kRigFileMaxBytes);
  if (!read.bytes) {
    result.missing = read.problem.kind == FileProblem::Kind::kMissing;
    result.problem = read.problem.message;
    return result;
  }
  RigDecode decoded = DecodeRig(*read.bytes);
  if (!decoded.rig) {
    result.problem = path + " is not a rig file that this program can read: " + decoded.problem;
    return result;
  }
  result.rig = std::move(decoded.rig);
  return result;
}

RigMerge MergeRig(const Rig& old, std::span<const DeviceRecord> listed) {
  RigMerge merge;
  merge.rig = old;
  std::vector<bool> claimed(listed.size(), false);
  for (RigEntry& entry : merge.rig.devices) {
    size_t i = 0;
    while (i < listed.size() && (claimed[i] || !EntryMatches(entry, listed[i]))) ++i;
    if (i == listed.size()) {
      ++merge.kept;
      continue;
    }
    claimed[i] = true;
    ++merge.updated;
    RigEntry now = *RigEntryOf(listed[i]);
    // A running device reports 11 bytes of the serial its loader reports,
    // and not its model code: what the rig knows of the device stays.
    if (now.serial.size() < entry.serial.size()) now.serial = entry.serial;
    if (!now.deviceId) now.deviceId = entry.deviceId;
    now.label = std::move(entry.label);
    now.location = std::move(entry.location);
    now.extra = std::move(entry.extra);
    entry = std::move(now);
  }
  for (size_t i = 0; i < listed.size(); ++i) {
    if (claimed[i] || listed[i].slaveNumber != 0) continue;
    auto entry = RigEntryOf(listed[i]);
    if (!entry) {
      ++merge.leftOut;
      continue;
    }
    // A device that answered twice (from its loader and its application)
    // is in the rig once.
    const auto& rigDevices = merge.rig.devices;
    if (std::none_of(rigDevices.begin(), rigDevices.end(),
                     [&](const RigEntry& e) { return SameEntryDevice(e, *entry); })) {
      merge.rig.devices.push_back(std::move(*entry));
      ++merge.added;
    }
  }
  return merge;
}

RigSave SaveRig(const std::string& path, std::span<const DeviceRecord> listed) {
  RigSave save;
  RigRead old = ReadRigFile(path);
  if (!old.rig && !old.missing) {
    save.problem = old.problem + "; it is left as it is";
    return save;
  }
  save.merge = MergeRig(old.rig.value_or(Rig{}), listed);
  const FileWrite written = WriteFileAtomically(
      path, EncodeRig(save.merge.rig, FormatUtcTime(std::chrono::system_clock::now())));
  if (!written) save.problem = written.problem.message;
  return save;
}

std::string RigSaveSummary(const RigMerge& merge) {
  std::string text = std::to_string(merge.rig.devices.size()) +
                     " device(s): " + std::to_string(merge.added) + " new, " +
                     std::to_string(merge.updated) + " found again";
  if (merge.kept > 0) text += ", " + std::to_string(merge.kept) + " kept that did not answer";
  if (merge.leftOut > 0)
    text +=
        "; " + std::to_string(merge.leftOut) + " left out that report neither a serial nor a MAC";
  return text;
}

}  // namespace quorvik
