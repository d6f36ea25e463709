#pragma once
// Telling one physical device from another across its modes and searches.
// A device answers from its loader and from its application with the same
// hardware address, unless its loader reports the factory placeholder; its
// serial is the same bytes, padded with zeros by some loaders.

#include <array>
#include <cstdint>
#include <span>
#include <string>

#include "net/device_record.h"

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

// Whether two records are the same device: by hardware address where both
// have a real one, else by serial (the common first bytes where both carry
// at least 11). Unit records are no device of their own.
bool SameDevice(const DeviceRecord& a, const DeviceRecord& b);

// A text that is equal for records of the same device (across modes): the
// padded serial, or the hardware address of a device without one.
std::string PhysicalDeviceKey(const DeviceRecord& record);
