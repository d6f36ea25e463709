#include "commands/firmware_file.h"

#include <algorithm>
#include <array>
#include <fstream>

#include "net/bytes.h"

namespace {

bool ReadExactly(std::ifstream& in, uint8_t* out, size_t count) {
  in.read(reinterpret_cast<char*>(out), static_cast<std::streamsize>(count));
  return static_cast<size_t>(in.gcount()) == count;
}

bool Fits(const FirmwareSection& s, const DeviceRecord& device) {
  if (s.deviceType != device.deviceId) return false;
  if (device.loaderType == 0x300) return s.mcuCode == device.mcuId;
  return device.loaderType <= 0x200;
}

}  // namespace

const char* FirmwareVerdictLine(FirmwareVerdict verdict) {
  switch (verdict) {
    case FirmwareVerdict::kWrongDevice:
    case FirmwareVerdict::kNoSections:
      return "Wrong firmware file selected! (ERROR DEVICE)";
    case FirmwareVerdict::kWrongMcu:
      return "Wrong firmware file selected! (ERROR MCU)";
    case FirmwareVerdict::kWrongBootloader:
      return "Wrong bootloader version!";
    case FirmwareVerdict::kUnreadable:
      return "Firmware file not readable! (ERROR FILE)";
    case FirmwareVerdict::kSectionTooLarge:
      return "Firmware section too large! (ERROR SIZE)";
  }
  return "";
}

size_t SectionHeaderLength(bool withMcu) {
  return withMcu ? 14 : 12;
}

FirmwareSection DecodeSectionHeader(std::span<const uint8_t> header, bool withMcu, unsigned index) {
  const FrameReader r(header);
  const size_t at = withMcu ? 2 : 0;
  FirmwareSection section;
  section.index = static_cast<uint8_t>(index);
  section.mcuCode = withMcu ? r.Be16(0) : 0;
  section.deviceType = r.Be16(at);
  section.sectionParam = DecodeSectionParam(r.U8(at + 2), r.U8(at + 3));
  section.dataLength = r.Be32(at + 8);  // after 4 reserved bytes
  return section;
}

uint16_t DecodeSectionParam(uint8_t high, uint8_t low) {
  return static_cast<uint16_t>(high * 256 + static_cast<int8_t>(low));
}

uint32_t BlockCount(uint32_t dataLength, uint16_t blockSize) {
  if (blockSize == 0) return 0;
  return static_cast<uint32_t>((uint64_t{dataLength} + blockSize - 1) / blockSize);
}

FirmwareLoad WalkFirmwareFile(const std::string& path, const DeviceRecord& device,
                              std::span<uint8_t> image) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return FirmwareVerdict::kUnreadable;
  uint8_t head[2];
  if (!ReadExactly(in, head, 1)) return FirmwareVerdict::kUnreadable;
  const bool withMcu = head[0] >= 2;
  unsigned count = 1;
  if (withMcu) {
    if (!ReadExactly(in, head + 1, 1)) return FirmwareVerdict::kUnreadable;
    count = head[1];
    if (count == 0) return FirmwareVerdict::kNoSections;
  }

  FirmwareSection section;
  for (unsigned index = 0; index < count; ++index) {
    std::array<uint8_t, 14> header{};
    const size_t headerLength = SectionHeaderLength(withMcu);
    if (!ReadExactly(in, header.data(), headerLength)) return FirmwareVerdict::kUnreadable;
    section =
        DecodeSectionHeader(std::span<const uint8_t>(header.data(), headerLength), withMcu, index);
    if (section.dataLength > image.size()) return FirmwareVerdict::kSectionTooLarge;

    std::fill(image.begin(), image.end(), uint8_t{0xFF});
    if (!ReadExactly(in, image.data(), section.dataLength)) return FirmwareVerdict::kUnreadable;
    if (Fits(section, device)) return section;
  }
  if (section.deviceType != device.deviceId) return FirmwareVerdict::kWrongDevice;
  if (device.loaderType == 0x300) return FirmwareVerdict::kWrongMcu;
  return FirmwareVerdict::kWrongBootloader;
}
