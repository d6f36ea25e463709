#include "tools/devsim/sim_config.h"

#include "base/hex_text.h"

#include <algorithm>
#include <fstream>
#include <limits>
#include <set>
#include <sstream>

#include <nlohmann/json.hpp>

namespace quorvik {

using nlohmann::json;

std::array<uint8_t, kIdentityCapacity> DeviceConfig::PaddedIdentity() const {
  std::array<uint8_t, kIdentityCapacity> padded{};
  std::copy_n(identity.begin(), std::min(identity.size(), padded.size()), padded.begin());
  return padded;
}

std::string HexText(const uint8_t* bytes, size_t count) {
  return HexText(std::span<const uint8_t>(bytes, count), false);
}

namespace {

// Collects the first problem and stops every later check from overwriting
// it, so the message always points at the earliest fault in the file.
class CFieldReader {
 public:
  CFieldReader(const json& object, std::string where) : m_object(object), m_where(where) {}

  bool Failed() const { return !m_error.empty(); }
  const std::string& Error() const { return m_error; }

  void Fail(std::string_view field, std::string_view problem) {
    if (Failed()) return;
    m_error = m_where + ": field '" + std::string(field) + "': " + std::string(problem);
  }

  const json* Find(std::string_view field) const {
    auto it = m_object.find(field);
    return it == m_object.end() ? nullptr : &*it;
  }

  template <typename T>
  void Number(std::string_view field, T& out, uint64_t minimum = 0,
              uint64_t maximum = std::numeric_limits<T>::max()) {
    const json* value = Find(field);
    if (value == nullptr) return;
    std::optional<uint64_t> n = Unsigned(*value);
    if (!n || *n < minimum || *n > maximum) {
      Fail(field, "expected a whole number from " + std::to_string(minimum) + " to " +
                      std::to_string(maximum));
      return;
    }
    out = static_cast<T>(*n);
  }

  void Bool(std::string_view field, bool& out) {
    const json* value = Find(field);
    if (value == nullptr) return;
    if (!value->is_boolean()) return Fail(field, "expected true or false");
    out = value->get<bool>();
  }

  void Text(std::string_view field, std::string& out) {
    const json* value = Find(field);
    if (value == nullptr) return;
    if (!value->is_string()) return Fail(field, "expected text");
    out = value->get<std::string>();
  }

  static std::optional<uint64_t> Unsigned(const json& value) {
    if (value.is_number_unsigned()) return value.get<uint64_t>();
    if (value.is_number_integer() && value.get<int64_t>() >= 0)
      return static_cast<uint64_t>(value.get<int64_t>());
    return std::nullopt;
  }

 private:
  const json& m_object;
  std::string m_where;
  std::string m_error;
};

bool ParseMac(const std::string& text, std::array<uint8_t, 6>& mac) {
  const auto parsed = ParseMacText(text);
  if (parsed) mac = *parsed;
  return parsed.has_value();
}

bool ParseHex(const std::string& text, std::vector<uint8_t>& bytes) {
  auto parsed = ParseHexBytes(text);
  if (parsed) bytes = std::move(*parsed);
  return parsed.has_value();
}

constexpr uint32_t kMaxDelayMs = 3'600'000;

const std::set<std::string, std::less<>> kKnownFields = {"mode",         "loaderType",
                                                         "deviceId",     "mcuId",
                                                         "version",      "blockSize",
                                                         "mac",          "identity",
                                                         "bootPort",     "units",
                                                         "name",         "appVersion",
                                                         "bootDelayMs",  "takesBlocksAfterMs",
                                                         "ackDelayMs",   "dropAcks",
                                                         "delayAck",     "failWrite",
                                                         "verifyStatus", "corruptVerifyCrc",
                                                         "neverReturn",  "imageNeverStarts",
                                                         "onBench",      "imageVersionAt",
                                                         "loaderSource"};

// A fault field may hold one object or a list of them, so that a test can
// disturb several writes of the same device.
template <typename Fn>
void ForEachEntry(CFieldReader& reader, std::string_view field, Fn&& parseOne) {
  const json* value = reader.Find(field);
  if (value == nullptr) return;
  if (value->is_object()) {
    parseOne(*value);
  } else if (value->is_array()) {
    for (const json& entry : *value) {
      if (!entry.is_object()) return reader.Fail(field, "expected an object or a list of objects");
      parseOne(entry);
    }
  } else {
    reader.Fail(field, "expected an object or a list of objects");
  }
}

std::optional<uint64_t> Member(const json& object, const char* key) {
  auto it = object.find(key);
  if (it == object.end()) return std::nullopt;
  return CFieldReader::Unsigned(*it);
}

std::string ParseDevice(const json& object, size_t index, DeviceConfig& device) {
  std::string where = "device " + std::to_string(index + 1);
  if (!object.is_object()) return where + ": expected an object";
  CFieldReader reader(object, where);

  for (const auto& [key, value] : object.items()) {
    if (!kKnownFields.contains(key)) reader.Fail(key, "unknown field");
  }

  std::string mode;
  if (reader.Find("mode") == nullptr) reader.Fail("mode", "missing (\"app\" or \"boot\")");
  reader.Text("mode", mode);
  if (!reader.Failed()) {
    if (mode == "app") {
      device.mode = SimMode::kApp;
    } else if (mode == "boot") {
      device.mode = SimMode::kBoot;
    } else {
      reader.Fail("mode", "expected \"app\" or \"boot\", got \"" + mode + "\"");
    }
  }

  // Distinct default hardware addresses keep mac-addressed requests apart
  // when a file leaves them out; 02 marks a locally administered address.
  const uint32_t ordinal = static_cast<uint32_t>(index + 1);
  device.mac = {0x02,
                0x00,
                0x00,
                static_cast<uint8_t>(ordinal >> 16),
                static_cast<uint8_t>(ordinal >> 8),
                static_cast<uint8_t>(ordinal)};

  reader.Number("loaderType", device.loaderType, 1);
  reader.Number("deviceId", device.deviceId);
  reader.Number("mcuId", device.mcuId);
  reader.Number("version", device.version);
  device.appVersion = device.version;
  reader.Number("appVersion", device.appVersion);
  reader.Number("blockSize", device.blockSize, 1);
  reader.Number("units", device.units);
  reader.Number("verifyStatus", device.verifyStatus);
  reader.Number("bootDelayMs", device.bootDelayMs, 0, kMaxDelayMs);
  reader.Number("takesBlocksAfterMs", device.takesBlocksAfterMs, 0, kMaxDelayMs);
  reader.Number("ackDelayMs", device.ackDelayMs, 0, kMaxDelayMs);
  reader.Bool("corruptVerifyCrc", device.corruptVerifyCrc);
  reader.Bool("neverReturn", device.neverReturn);
  reader.Bool("imageNeverStarts", device.imageNeverStarts);
  if (reader.Find("imageVersionAt") != nullptr) {
    uint32_t at = 0;
    reader.Number("imageVersionAt", at, 0, 262144 - 2);  // within the image buffer
    device.imageVersionAt = at;
  }

  reader.Number("bootPort", device.bootPort);
  if (device.bootPort != kBootPortA && device.bootPort != kBootPortB)
    reader.Fail("bootPort", "expected 10001 or 10010");

  std::string mac;
  reader.Text("mac", mac);
  if (!mac.empty() && !ParseMac(mac, device.mac))
    reader.Fail("mac", "expected six hexadecimal pairs like 00-0A-95-9D-68-16");

  std::string identity;
  if (reader.Find("identity") == nullptr) reader.Fail("identity", "missing");
  reader.Text("identity", identity);
  if (!reader.Failed()) {
    const Generation generation = device.BootGeneration();
    const size_t room = generation == Generation::kGen1 ? kGen1IdentityLength : kIdentityCapacity;
    if (!ParseHex(identity, device.identity)) {
      reader.Fail("identity", "expected an even number of hexadecimal digits");
    } else if (device.identity.size() > room) {
      reader.Fail("identity", "holds " + std::to_string(device.identity.size()) +
                                  " bytes; this generation carries at most " +
                                  std::to_string(room));
    }
  }

  reader.Text("name", device.name);
  reader.Text("loaderSource", device.loaderSource);
  if (device.name.size() > kNameCapacity)
    reader.Fail("name", "longer than " + std::to_string(kNameCapacity) + " bytes");

  if (const json* drops = reader.Find("dropAcks")) {
    if (!drops->is_array()) reader.Fail("dropAcks", "expected a list of write numbers");
    for (const json& entry : drops->is_array() ? *drops : json::array()) {
      std::optional<uint64_t> n = CFieldReader::Unsigned(entry);
      if (!n || *n == 0 || *n > std::numeric_limits<uint32_t>::max())
        reader.Fail("dropAcks", "write numbers count from 1");
      else
        device.dropAcks.push_back(static_cast<uint32_t>(*n));
    }
  }

  ForEachEntry(reader, "delayAck", [&](const json& entry) {
    std::optional<uint64_t> n = Member(entry, "index");
    std::optional<uint64_t> ms = Member(entry, "ms");
    if (!n || *n == 0 || *n > std::numeric_limits<uint32_t>::max() || !ms || *ms > kMaxDelayMs)
      return reader.Fail("delayAck", "expected {\"index\": n >= 1, \"ms\": m}");
    device.delayAcks.push_back({static_cast<uint32_t>(*n), static_cast<uint32_t>(*ms)});
  });

  ForEachEntry(reader, "failWrite", [&](const json& entry) {
    std::optional<uint64_t> n = Member(entry, "index");
    std::optional<uint64_t> status = Member(entry, "status");
    if (!n || *n == 0 || *n > std::numeric_limits<uint32_t>::max() || !status || *status == 0 ||
        *status > 0xFFFF)
      return reader.Fail("failWrite", "expected {\"index\": n >= 1, \"status\": 1..65535}");
    device.failWrites.push_back({static_cast<uint32_t>(*n), static_cast<uint16_t>(*status)});
  });

  ForEachEntry(reader, "onBench", [&](const json& entry) {
    for (const auto& [key, value] : entry.items())
      if (key != "fromMs" && key != "untilMs")
        return reader.Fail("onBench", "unknown field " + key);
    const std::optional<uint64_t> from = Member(entry, "fromMs");
    const std::optional<uint64_t> until = Member(entry, "untilMs");
    if (!from || (entry.contains("untilMs") && (!until || *until <= *from)))
      return reader.Fail("onBench",
                         "expected {\"fromMs\": m, \"untilMs\": n > m} (untilMs optional)");
    device.onBench.push_back({*from, until});
  });

  return reader.Error();
}

}  // namespace

bool DeviceConfig::OnBenchAt(uint64_t sinceReadyMs) const {
  if (onBench.empty()) return true;
  return std::any_of(onBench.begin(), onBench.end(), [&](const BenchSpell& spell) {
    return sinceReadyMs >= spell.fromMs && (!spell.untilMs || sinceReadyMs < *spell.untilMs);
  });
}

ConfigResult ParseSimConfig(std::string_view jsonText) {
  json root = json::parse(jsonText, nullptr, false);
  if (root.is_discarded()) return {std::nullopt, "configuration is not valid JSON"};
  if (!root.is_object()) return {std::nullopt, "configuration must be a JSON object"};
  auto devices = root.find("devices");
  if (devices == root.end() || !devices->is_array())
    return {std::nullopt, "configuration needs a \"devices\" list"};

  SimConfig config;
  std::set<std::array<uint8_t, kIdentityCapacity>> identities;
  for (size_t i = 0; i < devices->size(); ++i) {
    DeviceConfig device;
    std::string error = ParseDevice((*devices)[i], i, device);
    if (!error.empty()) return {std::nullopt, error};
    // Identity-addressed requests and the dump file names would be ambiguous.
    if (!identities.insert(device.PaddedIdentity()).second)
      return {std::nullopt, "device " + std::to_string(i + 1) + ": identity " +
                                HexText(device.identity) + " is already used"};
    config.devices.push_back(std::move(device));
  }
  return {std::move(config), {}};
}

ConfigResult LoadSimConfigFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return {std::nullopt, "cannot read configuration file " + path};
  std::ostringstream text;
  text << in.rdbuf();
  ConfigResult result = ParseSimConfig(text.str());
  if (!result.config) result.error = path + ": " + result.error;
  return result;
}

}  // namespace quorvik
