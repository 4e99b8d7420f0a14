#include "view/Scale.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

#include "channels/Catalogue.h"

namespace quillbox::view {
namespace {

// The number of decimals that a step of 1, 2 or 5 times 10^e needs: -e when e is negative.
int Decimals(double step) {
  return std::max(0, -static_cast<int>(std::floor(std::log10(step) + 1e-9)));
}

template <class Label>
std::vector<Tick> OnSteps(double lo, double hi, double step, Label label) {
  std::vector<Tick> ticks;
  if (!(step > 0) || !std::isfinite(lo) || !std::isfinite(hi) || hi < lo) return ticks;
  // Whole multiples, found from integers so that no rounding error creeps into the values.
  const double first = std::ceil(lo / step - 1e-9), last = std::floor(hi / step + 1e-9);
  for (double k = first; k <= last && ticks.size() < 1000; ++k) {
    const double value = k * step;
    ticks.push_back({value, label(k == 0 ? 0.0 : value)});
  }
  return ticks;
}

QString Clock(double seconds) {
  const auto whole = static_cast<long long>(std::llround(std::abs(seconds)));
  return QStringLiteral("%1%2:%3:%4")
      .arg(seconds < 0 && whole > 0 ? QStringLiteral("-") : QString())
      .arg(whole / 3600)
      .arg(whole / 60 % 60, 2, 10, QLatin1Char('0'))
      .arg(whole % 60, 2, 10, QLatin1Char('0'));
}

}  // namespace

double NiceStep(double span, int target) {
  const double raw = span / std::max(1, target);
  if (!(raw > 0) || !std::isfinite(raw)) return 1;
  const double power = std::pow(10.0, std::floor(std::log10(raw)));
  for (const double m : {1.0, 2.0, 5.0})
    if (m * power >= raw * (1 - 1e-9)) return m * power;
  return 10 * power;
}

std::vector<Tick> ValueTicks(double lo, double hi, int target) {
  std::vector<Tick> ticks;
  // At least two ticks where the round step would leave one: the next smaller step then.
  for (int t = std::max(1, target); ticks.size() < 2 && t < std::max(1, target) + 4; ++t) {
    const double step = NiceStep(hi - lo, t);
    const int decimals = Decimals(step);
    ticks = OnSteps(lo, hi, step, [&](double v) { return QString::number(v, 'f', decimals); });
  }
  return ticks;
}

bool ClockLabels(double span) { return span >= 120; }

QString TimeTitle(double span) {
  return ClockLabels(span) ? QStringLiteral("time (h:mm:ss)") : QStringLiteral("time (s)");
}

std::vector<Tick> TimeTicks(double lo, double hi, int target) {
  if (!ClockLabels(hi - lo)) return ValueTicks(lo, hi, target);
  static constexpr std::array<double, 14> kClockSteps = {
      10, 15, 30, 60, 120, 300, 600, 900, 1800, 3600, 7200, 10800, 21600, 43200};
  const double raw = (hi - lo) / std::max(1, target);
  double step = 86400;
  for (const double s : kClockSteps)
    if (s >= raw) {
      step = s;
      break;
    }
  return OnSteps(lo, hi, step, Clock);
}

std::pair<double, double> PaddedRange(double lo, double hi) {
  if (!std::isfinite(lo) || !std::isfinite(hi) || lo > hi) return {-1, 1};
  double span = hi - lo;
  if (span <= 0) span = std::max(std::abs(hi) * 0.2, 1e-3);
  return {lo - span * 0.05, hi + span * 0.05};
}

std::pair<double, double> InputRange(const std::string& rangeText, double scale) {
  double lo = 0, hi = 0;
  if (RangeLimits(rangeText, lo, hi)) return {lo, hi};
  if (!(scale > 0) || !std::isfinite(scale)) scale = 1;
  return {-32768.0 / scale, 32767.0 / scale};
}

}  // namespace quillbox::view
