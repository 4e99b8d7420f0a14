#pragma once
// The sampling-rate rule: which divider of the 25000 Hz frame clock and which decimation give
// a requested frame rate, and the rate the host then really gets. Arithmetic in single
// precision with truncation, as the device's own tools do it.

#include <cstdint>

namespace quillbox {

constexpr float kBaseClock = 25000.0f;
// Rates below this run the device at a doubled rate and keep every k-th frame.
constexpr float kLowestDeviceRate = 5.0f;

struct RateSetting {
  uint16_t Divider = 0;    // RateDivider
  float DeviceRate = 0;    // f = 25000 / Divider
  int32_t Decimation = 1;  // k: every k-th device frame is kept
  float Rate = 0;          // what the host gets: f / k
};

// The rule for `rate` > 0. Rates above the base clock use divider 1; a rate so low that k
// would not fit a Long keeps k at its largest value.
RateSetting ComputeRateSetting(float rate);

// Control byte of a recording: 0xC7, +0x20 with synchronisation, +0x10 on the falling edge.
uint8_t RecordingControlByte(int16_t syncMode);

}  // namespace quillbox
