#include "records/rig_firmware.h"

#include <algorithm>
#include <filesystem>

#include "base/hex_text.h"
#include "devices/device_list.h"
#include "records/rig.h"

namespace quorvik {

namespace {

constexpr std::string_view kFirmwareMember = "firmware";

// One declaration; `perModel` ones must name their model.
std::optional<DeclaredFirmware> DecodeDeclaration(const JsonNode& node, bool perModel,
                                                  std::string& problem) {
  if (node.kind != JsonNode::Kind::kObject) {
    problem = "it is not an object";
    return std::nullopt;
  }
  DeclaredFirmware d;
  std::string model, mcu, version;
  if (!ReadOptionalText(node, "model", model, problem) ||
      !ReadOptionalText(node, "mcu", mcu, problem) ||
      !ReadOptionalText(node, "file", d.file, problem) ||
      !ReadOptionalText(node, "sha256", d.sha256, problem) ||
      !ReadOptionalText(node, "version", version, problem) ||
      !ReadOptionalFlag(node.Member("allowDowngrade"), "allowDowngrade", d.allowDowngrade, problem))
    return std::nullopt;
  if (perModel || !model.empty()) {
    d.model = ParseRigCode(model);
    if (!d.model) {
      problem = "the model \"" + model + "\" is not a device code like 0x3680";
      return std::nullopt;
    }
  }
  if (!mcu.empty() && !(d.mcu = ParseRigCode(mcu))) {
    problem = "the mcu \"" + mcu + "\" is not a code like 0x0002";
    return std::nullopt;
  }
  if (d.file.empty()) {
    problem = "it names no \"file\"";
    return std::nullopt;
  }
  const auto hash = ParseHexBytes(d.sha256);
  if (!hash || hash->size() != 32) {
    problem = "the sha256 \"" + d.sha256 + "\" is not 64 hex digits";
    return std::nullopt;
  }
  std::transform(d.sha256.begin(), d.sha256.end(), d.sha256.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  const auto parsed = ParseVersionText(version);
  if (!parsed) {
    problem = "the version \"" + version + "\" is not a version like 3.04";
    return std::nullopt;
  }
  d.version = *parsed;
  return d;
}

void SetMember(JsonNode& object, std::string_view name, JsonNode value) {
  for (JsonMember& m : object.members)
    if (m.name == name) {
      m.value = std::move(value);
      return;
    }
  object.members.push_back({std::string(name), std::move(value)});
}

}  // namespace

std::optional<uint16_t> ParseVersionText(std::string_view text) {
  const size_t point = text.find('.');
  if (point == std::string_view::npos || point == 0 || point > 3 || text.size() != point + 3)
    return std::nullopt;
  int major = 0, minor = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (i == point) continue;
    if (text[i] < '0' || text[i] > '9') return std::nullopt;
    (i < point ? major : minor) = (i < point ? major : minor) * 10 + (text[i] - '0');
  }
  if (major > 255) return std::nullopt;
  return static_cast<uint16_t>(major << 8 | minor);
}

RigFirmwareDecode DecodeRigFirmware(const Rig& rig) {
  RigFirmwareDecode out;
  if (const JsonNode* list = MemberOf(rig.extra, kFirmwareMember)) {
    if (list->kind != JsonNode::Kind::kArray) {
      out.problem = "\"firmware\" is not a list";
      return out;
    }
    for (size_t i = 0; i < list->items.size(); ++i) {
      std::string problem;
      auto d = DecodeDeclaration(list->items[i], true, problem);
      if (!d) {
        out.problem = "firmware " + std::to_string(i + 1) + ": " + problem;
        return out;
      }
      for (size_t j = 0; j < out.models.size(); ++j)
        if (out.models[j].model == d->model && out.models[j].mcu == d->mcu) {
          out.problem = "firmware " + std::to_string(j + 1) + " and " + std::to_string(i + 1) +
                        " declare the same model" + (d->mcu ? " and MCU" : "");
          return out;
        }
      out.models.push_back(std::move(*d));
    }
  }
  for (size_t e = 0; e < rig.devices.size(); ++e) {
    const RigEntry& entry = rig.devices[e];
    std::optional<DeclaredFirmware> own;
    bool allow = false;
    std::string problem;
    if (!ReadOptionalFlag(MemberOf(entry.extra, "allowDowngrade"), "allowDowngrade", allow,
                          problem)) {
      out.problem = "device " + std::to_string(e + 1) + ": " + problem;
      return out;
    }
    if (const JsonNode* node = MemberOf(entry.extra, kFirmwareMember);
        node != nullptr && node->kind != JsonNode::Kind::kNull) {
      own = DecodeDeclaration(*node, false, problem);
      if (!own) {
        out.problem = "device " + std::to_string(e + 1) + ": its firmware: " + problem;
        return out;
      }
    }
    out.byEntry.push_back(std::move(own));
    out.entryAllowsDowngrade.push_back(allow);
  }
  return out;
}

FirmwareChoice ChooseFirmware(const RigFirmwareDecode& declared, size_t entry,
                              std::optional<uint16_t> model, std::optional<uint16_t> mcu) {
  FirmwareChoice choice;
  if (entry < declared.byEntry.size() && declared.byEntry[entry]) {
    choice.firmware = declared.byEntry[entry];
  } else if (!model) {
    // A running device does not report its model; without a loader answer
    // on record, any file would be a guess.
    if (!declared.models.empty())
      choice.why =
          "its model is unknown while it runs its application (save the rig while it "
          "is in its loader, or name its firmware on its entry)";
  } else {
    std::vector<const DeclaredFirmware*> forModel;
    for (const DeclaredFirmware& d : declared.models)
      if (d.model == model) forModel.push_back(&d);
    const auto exact =
        std::find_if(forModel.begin(), forModel.end(),
                     [&](const DeclaredFirmware* d) { return mcu && d->mcu == mcu; });
    const auto anyMcu = std::find_if(forModel.begin(), forModel.end(),
                                     [](const DeclaredFirmware* d) { return !d->mcu; });
    if (exact != forModel.end())
      choice.firmware = **exact;
    else if (anyMcu != forModel.end())
      choice.firmware = **anyMcu;
    else if (!mcu && forModel.size() == 1)
      choice.firmware = *forModel[0];  // the walk checks the MCU once the loader reports it
    else if (!forModel.empty())
      choice.why = mcu ? "nothing declared for its MCU " + RigCodeText(*mcu)
                       : "files for several MCUs of model " + RigCodeText(*model) +
                             " are declared; its MCU is unknown while it runs its application";
  }
  if (choice.firmware && entry < declared.entryAllowsDowngrade.size() &&
      declared.entryAllowsDowngrade[entry])
    choice.firmware->allowDowngrade = true;
  return choice;
}

std::string FirmwarePathOf(const std::string& rigPath, const std::string& file) {
  namespace fs = std::filesystem;
  const fs::path path(file);
  if (path.is_absolute()) return file;
  return (fs::path(rigPath).parent_path() / path).string();
}

std::string FirmwareNameFor(const std::string& rigPath, const std::string& path) {
  namespace fs = std::filesystem;
  std::error_code error;
  const fs::path file = fs::absolute(path, error).lexically_normal();
  const fs::path folder = fs::absolute(rigPath, error).parent_path().lexically_normal();
  const fs::path relative = file.lexically_relative(folder);
  if (!relative.empty() && *relative.begin() != "..") return relative.string();
  return file.string();
}

void DeclareFirmware(Rig& rig, const DeclaredFirmware& firmware) {
  auto member = std::find_if(rig.extra.begin(), rig.extra.end(),
                             [](const JsonMember& m) { return m.name == kFirmwareMember; });
  if (member == rig.extra.end()) {
    JsonNode list;
    list.kind = JsonNode::Kind::kArray;
    rig.extra.push_back({std::string(kFirmwareMember), std::move(list)});
    member = rig.extra.end() - 1;
  }
  JsonNode& list = member->value;
  const auto same = [&](const JsonNode& item) {
    std::string problem;
    const auto d = DecodeDeclaration(item, true, problem);
    return d && d->model == firmware.model && d->mcu == firmware.mcu;
  };
  auto item = std::find_if(list.items.begin(), list.items.end(), same);
  if (item == list.items.end()) {
    JsonNode object;
    object.kind = JsonNode::Kind::kObject;
    list.items.push_back(std::move(object));
    item = list.items.end() - 1;
  }
  if (firmware.model) SetMember(*item, "model", JsonString(RigCodeText(*firmware.model)));
  if (firmware.mcu) SetMember(*item, "mcu", JsonString(RigCodeText(*firmware.mcu)));
  SetMember(*item, "file", JsonString(firmware.file));
  SetMember(*item, "sha256", JsonString(firmware.sha256));
  // A declared version reads as the list shows it, so it always formats.
  SetMember(*item, "version", JsonString(FormatVersion(firmware.version)));
}

}  // namespace quorvik
