#pragma once
// Starting a recording: the rate property, the configuration checks with their messages, the
// ring, the device's divider and control byte, the acquisition thread and the start output.

#include <cstdint>

namespace quillbox {

struct DriverState;

// The rate the device really delivers for the stored Rate (a Rate above RateMax is first
// stored back as RateMax). 0 when no usable rate is stored (zero, negative, not a number).
float GetRate(DriverState& s);
// Ignored while Busy; above RateMax stores RateMax, a negative value its magnitude, a positive
// one itself; 0 (or not a number) changes nothing.
void SetRate(DriverState& s, float value);

// True when the acquisition thread runs. A refused start sets LastError and leaves Busy False.
bool StartAcquisition(DriverState& s);
// Programs divider and control byte, sets Busy and starts the thread; used by StartAcquisition.
bool StartAcquisitionThread(DriverState& s);

}  // namespace quillbox
