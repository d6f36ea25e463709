#include "devices/device_list.h"

#include <algorithm>
#include <cstdio>

#include "base/hex_text.h"
#include "devices/device_identity.h"
#include "devices/device_types.h"
#include "net/interfaces.h"

namespace quorvik {

std::string FormatVersion(uint16_t version) {
  const int major = version >> 8, minor = version & 0xFF;
  if (minor >= 100) return {};
  char text[16];
  std::snprintf(text, sizeof text, "%d.%.2d", major, minor);
  return text;
}

std::string SerialText(std::span<const uint8_t> serial) {
  return HexText(serial, true);
}

std::string MacText(const std::array<uint8_t, 6>& mac) {
  return HexText(mac, true, "-");
}

std::string FormatSerial(const DeviceRecord& record) {
  return SerialText(SerialBytes(record));
}

std::string FormatMac(const DeviceRecord& record) {
  const auto& m = record.mac;
  if (record.loaderType != 0) {
    if (m == kPlaceholderMac) return "Not assigned";
    if (std::all_of(m.begin(), m.end(), [](uint8_t b) { return b == 0; })) return {};
  }
  return MacText(m);
}

std::string ListName(const DeviceRecord& record) {
  if (record.loaderType != 0) return DeviceTypeName(record.deviceId, record.slaveNumber);
  const std::string_view name = record.Name();
  return name.empty() ? UnknownTypeName(record.deviceId) : std::string(name);
}

std::string FoundLine(int rows, int hidden) {
  char line[64];
  if (hidden != 0)
    std::snprintf(line, sizeof line, "%d Interfaces found (%d hidden)", rows, hidden);
  else
    std::snprintf(line, sizeof line, "%d Interfaces found", rows);
  return line;
}

std::string TwinNote(int twins) {
  if (twins < 2) return {};
  return "(" + std::to_string(twins) + " devices answer as this serial)";
}

std::string TwinRefusalLine(const DeviceRecord& record) {
  std::vector<std::string> named;
  for (size_t i = 0; i < record.twins; ++i) {
    const AnswerSignature& answer = record.twinAnswers[i];
    std::string text = MacText(answer.mac);
    // Loaders that were never given an address are told apart by model.
    if (!HasRealMac(answer.mac) && answer.loaderType != 0) {
      char model[48];
      std::snprintf(model, sizeof model, " (model 0x%.4X, loader 0x%.4X)", answer.deviceId,
                    answer.loaderType);
      text += model;
    }
    named.push_back(std::move(text));
  }
  // Exact clones differ only in where they answer from.
  std::vector<std::string> texts = named;
  for (size_t i = 0; i < named.size(); ++i)
    if (std::count(named.begin(), named.end(), named[i]) > 1)
      texts[i] += " at " + FormatAddress(record.twinAnswers[i].address);
  // The order answers came in changes from search to search; the line does
  // not.
  std::sort(texts.begin(), texts.end());
  std::string addresses;
  for (size_t i = 0; i < texts.size(); ++i) {
    if (i > 0) addresses += i + 1 == texts.size() ? " and " : ", ";
    addresses += texts[i];
  }
  return std::to_string(record.twins) + " devices answer as serial " + FormatSerial(record) + ": " +
         addresses + "; a command would reach them all.";
}

std::string NetworkText(const DeviceRecord& record) {
  return record.card == Ipv4Address{} ? std::string() : FormatAddress(record.card);
}

int NetworkCount(std::span<const DeviceRecord> listed, size_t index) {
  const DeviceRecord& self = listed[index];
  if (self.card == Ipv4Address{} || self.slaveNumber != 0) return 0;
  std::vector<Ipv4Address> cards = {self.card};
  for (const DeviceRecord& other : listed)
    if (std::find(cards.begin(), cards.end(), other.card) == cards.end() &&
        SameDeviceOnAnyCard(self, other))
      cards.push_back(other.card);
  return static_cast<int>(cards.size());
}

std::string NetworksNote(int networks) {
  if (networks < 2) return {};
  return "(answers on " + std::to_string(networks) + " networks: bridged or misconfigured)";
}

std::vector<DeviceRow> BuildDeviceRows(DeviceTable& table) {
  std::vector<DeviceRow> rows;
  const int used = CountUsedRecords(table);
  rows.reserve(static_cast<size_t>(used));
  for (int i = 0; i < used; ++i) {
    DeviceRecord& record = table[i];
    DeviceRow row;
    row.device = ListName(record);
    // A loader's model name is stored; a running device's fallback is only
    // shown.
    if (record.loaderType != 0) record.SetName(row.device);
    row.version = FormatVersion(record.version);
    row.serial = FormatSerial(record);
    row.mac = FormatMac(record);
    row.twins = record.twins;
    row.network = NetworkText(record);
    row.networks =
        NetworkCount(std::span(table).first(static_cast<size_t>(used)), static_cast<size_t>(i));
    rows.push_back(std::move(row));
  }
  return rows;
}

const char* ModeName(const DeviceRecord& record) {
  return record.loaderType != 0 ? "boot" : "app";
}

bool CanFactoryReset(const DeviceRecord& record) {
  return record.loaderType == 0 || (record.loaderFlags & 0x01) != 0;
}

}  // namespace quorvik
