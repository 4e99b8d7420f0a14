#include "platform/Clock.h"

#include <atomic>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>

namespace quillbox::platform {
namespace {

// The scaled clock counts nanoseconds in 64 bits (292 years): at the largest scale that is still
// hours of real time, and the smallest keeps a scaled wait of a day within range.
constexpr double kSmallestScale = 1e-3, kLargestScale = 1e6;

// QUILLBOX_TIME_SCALE when it is a usable number, else nothing.
std::optional<double> ScaleFromText(const char* text) {
  char* end = nullptr;
  const double value = std::strtod(text, &end);
  if (end == text || *end != '\0' || !(value >= kSmallestScale && value < kLargestScale))
    return std::nullopt;
  return value;
}

double ScaleFromEnvironment() {
  const char* text = std::getenv("QUILLBOX_TIME_SCALE");
  return text ? ScaleFromText(text).value_or(1.0) : 1.0;
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

std::string TimeScaleProblem() {
  const char* text = std::getenv("QUILLBOX_TIME_SCALE");
  if (text == nullptr || *text == '\0' || ScaleFromText(text)) return "";
  return std::string("QUILLBOX_TIME_SCALE=") + text +
         ": the clock runs from 0.001 to 999999 times real time; unset it for real time";
}

void SetTimeScale(double scale) {
  if (scale > 0.0) Clock().SetScale(scale);
}

std::chrono::nanoseconds ToReal(std::chrono::nanoseconds scaled) {
  return std::chrono::nanoseconds(
      static_cast<int64_t>(static_cast<double>(scaled.count()) / TimeScale()));
}

}  // namespace quillbox::platform
