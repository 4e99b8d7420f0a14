#pragma once
// The command's own waits on the time scale of the driver's clock (QUILLBOX_TIME_SCALE), so
// that a recording run at an accelerated scale also ends and polls at that scale.

#include <chrono>

namespace quillbox::cli {

// QUILLBOX_TIME_SCALE, read the way the driver reads it; 1 when unset or unusable.
double TimeScale();
// Real duration of `seconds` on the scaled clock.
std::chrono::steady_clock::duration ScaledToReal(double seconds);
void SleepScaled(double seconds);

}  // namespace quillbox::cli
