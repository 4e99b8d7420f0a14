#include "device/RateRule.h"

#include <algorithm>
#include <cstdint>
#include <limits>

#include "e270/E270API.h"

namespace quillbox {
namespace {

// Fix() of a positive float into [lo, hi].
int32_t TruncateInto(float value, int32_t lo, int32_t hi) {
  if (!(value >= static_cast<float>(lo))) return lo;
  if (value >= static_cast<float>(hi)) return hi;
  return static_cast<int32_t>(value);
}

}  // namespace

RateSetting ComputeRateSetting(float rate) {
  RateSetting r;
  if (!(rate > 0.0f)) return r;
  float deviceRequest = rate;
  while (deviceRequest < kLowestDeviceRate) deviceRequest = deviceRequest + deviceRequest;
  r.Divider = static_cast<uint16_t>(TruncateInto(kBaseClock / deviceRequest, 1, 32767));
  r.DeviceRate = kBaseClock / static_cast<float>(r.Divider);
  r.Decimation = TruncateInto(r.DeviceRate / rate, 1, std::numeric_limits<int32_t>::max());
  r.Rate = rate >= kLowestDeviceRate
               ? r.DeviceRate
               : static_cast<float>(static_cast<double>(r.DeviceRate) / r.Decimation);
  return r;
}

BlockTiming ComputeBlockTiming(uint16_t divider) {
  BlockTiming t;
  const float f = kBaseClock / static_cast<float>(std::max<uint16_t>(divider, 1));
  t.BlockFrames = std::clamp(static_cast<int32_t>(std::min(f / 5.0f, 1e6f)), 1, kMaxFramesPerBlock);
  t.BlockMs = static_cast<int32_t>(static_cast<double>(t.BlockFrames) * 1000.0 / f);
  t.WaitMs = std::max(t.BlockMs - 50, 0);
  return t;
}

uint8_t RecordingControlByte(int16_t syncMode) {
  uint8_t b = 0xC0;
  b += 7;
  if (syncMode > 0) b += 0x20;
  if (syncMode > 1) b += 0x10;
  return b;
}

}  // namespace quillbox
