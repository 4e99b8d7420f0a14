#pragma once
// Starting and stopping a recording: the rate property, the configuration checks with their
// messages, the recording plan, the ring, the device's divider and control byte, the
// acquisition thread and the start and stop outputs.

#include <cstdint>

#include "device/RecordState.h"

namespace quillbox {

struct DriverState;

// InputSizeKadrs = InputSizeData = InputSizeRequest; returns it.
int32_t ComputeRingSize(RecordInfo& r);

// The rate the device really delivers for the stored Rate (a Rate above RateMax is first
// stored back as RateMax). 0 when no usable rate is stored (zero, negative, not a number).
float GetRate(DriverState& s);
// Ignored while Busy; above RateMax stores RateMax, a negative value its magnitude, a positive
// one itself; 0 (or not a number) changes nothing.
void SetRate(DriverState& s, float value);

// True when the acquisition thread runs. A refused start sets LastError and leaves Busy False.
bool StartAcquisition(DriverState& s);

// The stop sequence: Busy = False, wait for the thread to leave (at most the data call it is
// in), one yield, then the stop output value when enabled.
void StopAcquisition(DriverState& s);

}  // namespace quillbox
