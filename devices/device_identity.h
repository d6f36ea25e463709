#pragma once
// Telling one physical device from another across its modes and searches.
// A device answers from its loader and from its application with the same
// hardware address, unless its loader reports the factory placeholder; its
// serial is the same bytes, padded with zeros by some loaders.

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "net/device_record.h"

namespace quorvik {

bool HasRealMac(const DeviceRecord& record);
// The serial bytes the record holds, unpadded.
std::span<const uint8_t> SerialBytes(const DeviceRecord& record);
// Whether the device's loader checks a written image when asked to.
bool LoaderVerifies(const DeviceRecord& record);
// The identity padded with zeros to 16 bytes.
std::array<uint8_t, 16> PaddedIdentity(const DeviceRecord& record);
bool HasIdentity(const DeviceRecord& record);

// Whether two serials are one device's: equal but for zero bytes a loader
// pads with, or, where both have at least 11 bytes, equal in the bytes both
// have (a running device reports the first 11 of its loader's 16).
bool SameSerial(std::span<const uint8_t> a, std::span<const uint8_t> b);

// "Is this the same device": one family, one rule per thing that is known.
// Unit records are no device of their own in any of them.
//
// Two records of searches (the window's selection after a search, the
// confirmation after an update): by hardware address where both have a real
// one, else by serial (the common first bytes where both carry at least 11).
// With every network open, a device is found again on the card it was
// listed on: another card's listing of it is reached by another way.
bool SameDevice(const DeviceRecord& a, const DeviceRecord& b);
// The same, across cards: what tells that one device answers on two.
bool SameDeviceOnAnyCard(const DeviceRecord& a, const DeviceRecord& b);
// A planned device in a later search: by its hardware address where it has
// a real one, or by serial where the listed record has none (its loader
// reports the placeholder, also when it ran with its real address when it
// was planned).
bool FoundAgain(const DeviceRecord& listed, const DeviceRecord& planned);
// A device as a rig file holds it: serial first, on purpose (a person labels
// a rig by serial, and a loader's hardware address may be the placeholder),
// its hardware address only where the rig holds no serial.
bool MatchesRigDevice(std::span<const uint8_t> serial,
                      const std::optional<std::array<uint8_t, 6>>& mac, const DeviceRecord& record);
// A serial a person typed: the record's, both padded with zeros to 16.
bool NamedBySerial(const DeviceRecord& record, std::span<const uint8_t> serial);

// A text that is equal for records of the same device (across modes): the
// padded serial, or the hardware address of a device without one.
std::string PhysicalDeviceKey(const DeviceRecord& record);

}  // namespace quorvik
