// Any bytes as a firmware image file, walked for devices of every
// bootloader kind. A section delivered must fit the buffer and the device.

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "commands/firmware_file.h"
#include "scratch_path.h"

using namespace quorvik;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const CFuzzScratchFile scratch("firmware.bin");
  const std::string& path = scratch.Path();
  static std::vector<uint8_t> image(kFirmwareImageSize);
  if (FILE* f = std::fopen(path.c_str(), "wb")) {
    std::fwrite(data, 1, size, f);
    std::fclose(f);
  }
  for (uint16_t loaderType : {1, 0x200, 0x201, 0x300, 0x381}) {
    DeviceRecord device;
    device.loaderType = loaderType;
    device.version = 1;
    device.deviceId = size >= 4 ? static_cast<uint16_t>(data[2] << 8 | data[3]) : 0;
    device.mcuId = size >= 2 ? data[1] : 0;
    const FirmwareLoad load = WalkFirmwareFile(path, device, image);
    if (const auto* s = std::get_if<FirmwareSection>(&load)) {
      if (s->dataLength > image.size()) std::abort();
      if (s->deviceType != device.deviceId) std::abort();
      if (loaderType > 0x200 && loaderType != 0x300) std::abort();  // not served
    }
  }
  return 0;
}
