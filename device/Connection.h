#pragma once
// Finding, opening, describing and closing the module.

#include <cstdint>
#include <string>

namespace quillbox {

struct DriverState;

// The whole open sequence; the low 16 bits of the device handle on success, 0 on failure
// (LastError then says why).
int16_t DeviceOpen(DriverState& s);
// E270Close, then E270Init: the record is reset.
void DeviceClose(DriverState& s);

}  // namespace quillbox
