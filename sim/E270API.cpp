// Vendor library entry points answered by the simulated bench.
#include "device/E270API.h"

#include <cstring>

using quillbox::Device;

extern "C" {
int32_t E270Init(Device* d) {
  if (d == nullptr) return 1;
  std::memset(d, 0, sizeof(Device));
  d->Handle = -1;
  return 0;
}
int32_t E270Open(Device*) { return 1; }
int32_t E270Close(Device*) { return 0; }
int32_t E270GetConfig(Device*) { return 1; }
int32_t E270SetConfig(Device*, int32_t) { return 1; }
int32_t E270ReadEEPROM(Device*, int16_t) { return 1; }
int32_t E270CRCCheck(Device*, int32_t) { return 1; }
int32_t E270GetDATA(Device*, quillbox::DeviceFrame*) { return 1; }
int32_t E270GetDIO(Device*, uint8_t*, uint8_t*, uint8_t*) { return 1; }
int32_t E270SetDIO(Device*, uint8_t, uint8_t) { return 1; }
}
