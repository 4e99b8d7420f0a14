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

// Block timing at a divider: the device delivers its frames in blocks of one fifth of a second.
// Recordings and single reads both fetch by it.
struct BlockTiming {
  int32_t BlockFrames = 1;  // n = Fix(f / 5), 1..20
  int32_t BlockMs = 200;    // Fix(n * 1000 / f): one block period
  int32_t WaitMs = 150;     // W = BlockMs - 50: pause after a block before the next call
};

BlockTiming ComputeBlockTiming(uint16_t divider);

// Control byte of a recording: 0xC7, +0x20 with synchronisation, +0x10 on the falling edge.
uint8_t RecordingControlByte(int16_t syncMode);

}  // namespace quillbox
