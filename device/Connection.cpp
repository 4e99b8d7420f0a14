#include "device/Connection.h"

#include "device/E270API.h"
#include "driver/DriverState.h"

namespace quillbox {

int16_t DeviceOpen(DriverState& s) {
  s.Detected = false;
  if (s.Adc.LastError.empty()) s.Adc.LastError = "No found " + s.Adc.ADCName + " on USB or COM ports!";
  DeviceClose(s);
  return 0;
}

void DeviceClose(DriverState& s) {
  E270Close(&s.Dev);
  E270Init(&s.Dev);
}

}  // namespace quillbox
