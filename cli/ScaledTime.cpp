#include "cli/ScaledTime.h"

#include <cstdlib>
#include <thread>

namespace quillbox::cli {

double TimeScale() {
  const char* text = std::getenv("QUILLBOX_TIME_SCALE");
  if (text == nullptr) return 1.0;
  char* end = nullptr;
  const double value = std::strtod(text, &end);
  return (end != text && value > 0.0 && value < 1e6) ? value : 1.0;
}

std::chrono::steady_clock::duration ScaledToReal(double seconds) {
  return std::chrono::duration_cast<std::chrono::steady_clock::duration>(
      std::chrono::duration<double>(seconds / TimeScale()));
}

void SleepScaled(double seconds) { std::this_thread::sleep_for(ScaledToReal(seconds)); }

}  // namespace quillbox::cli
