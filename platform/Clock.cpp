#include "platform/Clock.h"

#include <atomic>
#include <cstdlib>
#include <thread>

namespace quillbox::platform {
namespace {

double ScaleFromEnvironment() {
  const char* text = std::getenv("QUILLBOX_TIME_SCALE");
  if (text == nullptr) return 1.0;
  char* end = nullptr;
  const double value = std::strtod(text, &end);
  return (end != text && value > 0.0 && value < 1e6) ? value : 1.0;
}

// The scaled clock is piecewise linear in real time so that changing the scale never makes it
// jump or run backwards: each change starts a new segment at the current scaled time.
struct ScaledClock {
  std::mutex mutex;
  std::chrono::steady_clock::time_point realBase = std::chrono::steady_clock::now();
  std::chrono::nanoseconds scaledBase{0};
  std::atomic<double> scale{ScaleFromEnvironment()};

  std::chrono::nanoseconds Now() {
    std::lock_guard lock(mutex);
    const auto real = std::chrono::steady_clock::now() - realBase;
    return scaledBase + std::chrono::nanoseconds(
                            static_cast<int64_t>(static_cast<double>(real.count()) * scale.load()));
  }
  void SetScale(double value) {
    std::lock_guard lock(mutex);
    const auto nowReal = std::chrono::steady_clock::now();
    scaledBase += std::chrono::nanoseconds(
        static_cast<int64_t>(static_cast<double>((nowReal - realBase).count()) * scale.load()));
    realBase = nowReal;
    scale.store(value);
  }
};

ScaledClock& Clock() {
  static ScaledClock clock;
  return clock;
}

}  // namespace

std::chrono::nanoseconds Now() { return Clock().Now(); }

uint32_t GetTickCount() {
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Now()).count();
  return static_cast<uint32_t>(static_cast<uint64_t>(ms));
}

void Sleep(uint32_t ms) { std::this_thread::sleep_for(ToReal(std::chrono::milliseconds(ms))); }

double TimeScale() { return Clock().scale.load(); }

void SetTimeScale(double scale) {
  if (scale > 0.0) Clock().SetScale(scale);
}

std::chrono::nanoseconds ToReal(std::chrono::nanoseconds scaled) {
  return std::chrono::nanoseconds(
      static_cast<int64_t>(static_cast<double>(scaled.count()) / TimeScale()));
}

}  // namespace quillbox::platform
