#pragma once
// The module's eight digital inputs and eight digital outputs. Failures are silent: a failed
// read returns 0, a failed write changes nothing.

#include <cstdint>

#include "device/DeviceParts.h"

namespace quillbox {

// Reads the lines; on success the input byte becomes the low byte of DIValue, which is
// returned. 0 when the library call fails (DIValue then keeps its value). The link's
// LastFailedCall names the vendor call that failed, "" when none did.
int32_t ReadInputs(DeviceLink& link, DioInfo& dio);
// Puts the low byte of `value` on the output lines and keeps `value` whole in DOValue; the
// third byte the library reported is handed back unchanged. Nothing happens when the lines
// cannot be read first.
void WriteOutputs(DeviceLink& link, DioInfo& dio, int32_t value);
// DOValue, without device access.
int32_t ReadOutputs(const DioInfo& dio);

}  // namespace quillbox
