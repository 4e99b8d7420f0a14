#pragma once
// Starting and stopping a recording: the rate property, the configuration checks with their
// messages, the recording plan, the ring, the device's divider and control byte, the
// acquisition thread and the start and stop outputs.

#include <cstdint>

#include "device/Acquisition.h"
#include "device/DeviceParts.h"
#include "device/RecordState.h"

namespace quillbox {

// InputSizeKadrs = InputSizeData = InputSizeRequest; returns it.
int32_t ComputeRingSize(RecordInfo& r);

// The rate the device really delivers for the stored Rate (a Rate above RateMax is first
// stored back as RateMax). 0 when no usable rate is stored (zero, negative, not a number).
float GetRate(RecordInfo& r);
// Ignored while Busy; above RateMax stores RateMax, a negative value its magnitude, a positive
// one itself; 0 (or not a number) changes nothing.
void SetRate(RecordInfo& r, const Acquisition& acq, float value);

// True when the acquisition thread runs. A refused start sets Adc.LastError and leaves Busy
// False. `syncMode`: 0 off, 1 rising edge, 2 falling edge of the external start input.
bool StartAcquisition(ModuleRecord& m, RecordInfo& r, int16_t syncMode, Acquisition& acq);

// The stop sequence: Busy = False, wait for the thread to leave (at most the data call it is
// in), one yield, then the stop output value when enabled.
void StopAcquisition(ModuleRecord& m, Acquisition& acq);

}  // namespace quillbox
