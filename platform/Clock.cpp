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

int64_t RealNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// The scaled clock is piecewise linear in real time so that changing the scale never makes it
// jump or run backwards: each change starts a new segment at the current scaled time. Readers take
// no lock (every thread of a recording reads the clock at each block, at the same moment): they
// read the segment between two reads of its version, which a change makes odd while it writes.
struct ScaledClock {
  std::mutex writer;                 // one change at a time
  std::atomic<uint32_t> version{0};  // odd while a change is being written
  std::atomic<int64_t> realBase{RealNs()};
  std::atomic<int64_t> scaledBase{0};
  std::atomic<double> scale{ScaleFromEnvironment()};

  static int64_t Scaled(int64_t base, int64_t realBaseNs, double factor, int64_t realNs) {
    return base + static_cast<int64_t>(static_cast<double>(realNs - realBaseNs) * factor);
  }
  // The real time is read inside the window too, and a change reads it after making the version
  // odd: a reading is either wholly before a change's start or sees its segment, so the clock
  // never runs backwards.
  std::chrono::nanoseconds Now() {
    for (;;) {
      const uint32_t before = version.load();
      const int64_t real0 = realBase.load(), scaled0 = scaledBase.load();
      const double factor = scale.load();
      const int64_t real = RealNs();
      if ((before & 1U) == 0 && version.load() == before)
        return std::chrono::nanoseconds(Scaled(scaled0, real0, factor, real));
    }
  }
  void SetScale(double value) {
    std::lock_guard lock(writer);
    version.fetch_add(1);
    const int64_t real = RealNs();
    scaledBase.store(Scaled(scaledBase.load(), realBase.load(), scale.load(), real));
    realBase.store(real);
    scale.store(value);
    version.fetch_add(1);
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
