#include "device/DigitalIO.h"

#include "device/VendorCalls.h"

namespace quillbox {

int32_t ReadInputs(DeviceLink& link, DioInfo& dio) {
  std::string& failedCall = link.LastFailedCall;
  failedCall.clear();
  if (E270GetDIO(&link.Dev, &dio.DIOOutByte, &dio.DIOInByte, &dio.DIOAuxByte) != 0) {
    failedCall = "E270GetDIO";
    return 0;
  }
  dio.DIValue = static_cast<int32_t>((static_cast<uint32_t>(dio.DIValue) & ~0xFFu) | dio.DIOInByte);
  return dio.DIValue;
}

void WriteOutputs(DeviceLink& link, DioInfo& dio, int32_t value) {
  std::string& failedCall = link.LastFailedCall;
  failedCall.clear();
  if (E270GetDIO(&link.Dev, &dio.DIOOutByte, &dio.DIOInByte, &dio.DIOAuxByte) != 0) {
    failedCall = "E270GetDIO";
    return;
  }
  dio.DIOOutByte = static_cast<uint8_t>(static_cast<uint32_t>(value) & 0xFFu);
  if (E270SetDIO(&link.Dev, dio.DIOOutByte, dio.DIOAuxByte) != 0) failedCall = "E270SetDIO";
  dio.DOValue = value;
}

int32_t ReadOutputs(const DioInfo& dio) { return dio.DOValue; }

}  // namespace quillbox
