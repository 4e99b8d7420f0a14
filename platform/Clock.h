#pragma once
// Time for the driver and the simulated bench: a tick count in milliseconds, sleeps and waits.
// One time scale (QUILLBOX_TIME_SCALE, default 1) speeds up every clock of the process together:
// at scale 50 a tick advances 50 ms per real millisecond and Sleep(1000) takes 20 real ms, so the
// driver's arithmetic in ticks is unchanged while recordings run faster than real time.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>

namespace quillbox::platform {

// Milliseconds on the scaled clock since an arbitrary start; wraps like a 32-bit tick count.
uint32_t GetTickCount();
// Scaled time as a steady duration since the same start (no wrap).
std::chrono::nanoseconds Now();
// Sleeps `ms` scaled milliseconds.
void Sleep(uint32_t ms);
double TimeScale();
// What is wrong with QUILLBOX_TIME_SCALE ("" when it is unset or usable). The clock takes an
// unusable value for real time; the front ends refuse to run with it instead, so that a scale
// meant to speed a run up never silently becomes a run in real time.
std::string TimeScaleProblem();
// Sets the scale for the whole process (tests); values <= 0 are ignored.
void SetTimeScale(double scale);
// Real duration that `scaled` takes at the current scale.
std::chrono::nanoseconds ToReal(std::chrono::nanoseconds scaled);

// Waits on `cv` until `pred` holds or `ms` scaled milliseconds passed; returns pred().
template <class Pred>
bool WaitFor(std::condition_variable& cv, std::unique_lock<std::mutex>& lock, uint32_t ms,
             Pred pred) {
  return cv.wait_for(lock, ToReal(std::chrono::milliseconds(ms)), pred);
}

}  // namespace quillbox::platform
