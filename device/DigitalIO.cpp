#include "device/DigitalIO.h"

#include "device/E270API.h"
#include "driver/DriverState.h"

namespace quillbox {

int32_t ReadInputs(DriverState& s) {
  s.LastFailedCall.clear();
  if (E270GetDIO(&s.Dev, &s.DIOOutByte, &s.DIOInByte, &s.DIOAuxByte) != 0) {
    s.LastFailedCall = "E270GetDIO";
    return 0;
  }
  s.Dio.DIValue =
      static_cast<int32_t>((static_cast<uint32_t>(s.Dio.DIValue) & ~0xFFu) | s.DIOInByte);
  return s.Dio.DIValue;
}

void WriteOutputs(DriverState& s, int32_t value) {
  s.LastFailedCall.clear();
  if (E270GetDIO(&s.Dev, &s.DIOOutByte, &s.DIOInByte, &s.DIOAuxByte) != 0) {
    s.LastFailedCall = "E270GetDIO";
    return;
  }
  s.DIOOutByte = static_cast<uint8_t>(static_cast<uint32_t>(value) & 0xFFu);
  if (E270SetDIO(&s.Dev, s.DIOOutByte, s.DIOAuxByte) != 0) s.LastFailedCall = "E270SetDIO";
  s.Dio.DOValue = value;
}

int32_t ReadOutputs(const DriverState& s) { return s.Dio.DOValue; }

}  // namespace quillbox
