#pragma once
// The acquisition thread: fetches blocks of raw frames, keeps every k-th, converts the
// scan-list channels and appends them to the frame ring, paced by the device's block period.
// It waits on the ring's condition (never spins) and ends when it sees Busy cleared.

#include <cstdint>
#include <vector>

#include "device/SampleConversion.h"

namespace quillbox {

struct DriverState;

// Scaled milliseconds the thread waits before its first data call.
constexpr uint32_t kAcquisitionStartDelayMs = 100;

// Timing of one recording, from the frame-rate divider (and the requested rate for k).
struct BlockTiming {
  int32_t BlockFrames = 1;  // n = Fix(f / 5): one fifth of a second of device frames, 1..20
  int32_t BlockMs = 200;    // Fix(n * 1000 / f): one block period
  int32_t WaitMs = 150;     // W = BlockMs - 50: pause after a block before the next call
  int32_t Decimation = 1;   // k = Fix(f / Rate)
};

BlockTiming ComputeBlockTiming(uint16_t divider, float rate);

// Everything the thread needs, resolved on the host thread before it starts.
struct AcquisitionPlan {
  BlockTiming Timing;
  std::vector<SampleSource> Sources;  // one per scan-list entry, in ring order
};

// Builds the plan from the device record's divider, the rate, the scan list and the channel
// sources as they are now.
AcquisitionPlan MakeAcquisitionPlan(const DriverState& s);

// The thread routine. Returns when Busy is False (and leaves it False).
void AcquisitionThread(DriverState& s, const AcquisitionPlan& plan);

// Wakes the thread's waits so that it looks at Busy again.
void WakeAcquisition(DriverState& s);

// The stop sequence: Busy = False, wait for the thread to leave (at most the data call it is
// in), one yield, then the stop output value when enabled.
void StopAcquisition(DriverState& s);

}  // namespace quillbox
