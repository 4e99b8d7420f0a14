#pragma once
// The module's eight digital inputs and eight digital outputs. Failures are silent: a failed
// read returns 0, a failed write changes nothing.

#include <cstdint>

namespace quillbox {

struct DriverState;

// Reads the lines; on success the input byte becomes the low byte of DIValue, which is
// returned. 0 when the library call fails (DIValue then keeps its value).
int32_t ReadInputs(DriverState& s);
// Puts the low byte of `value` on the output lines and keeps `value` whole in DOValue; the
// third byte the library reported is handed back unchanged. Nothing happens when the lines
// cannot be read first.
void WriteOutputs(DriverState& s, int32_t value);
// DOValue, without device access.
int32_t ReadOutputs(const DriverState& s);

}  // namespace quillbox
