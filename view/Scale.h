#pragma once
// The scales of the scope and the plots: round ticks (steps of 1, 2 or 5 times a power of ten) on
// value and time axes, times on whole steps as h:mm:ss when the span is long, and the value range
// a channel's input can take. Pure functions, shared by every view.

#include <QString>
#include <string>
#include <utility>
#include <vector>

namespace quillbox::view {

struct Tick {
  double value;
  QString label;
};

// The step of 1, 2 or 5 times a power of ten nearest above `span / target`.
double NiceStep(double span, int target);

// Ticks on the whole multiples of a round step inside [lo, hi], at most about `target` of them
// but at least two, labelled with as many decimals as the step needs.
std::vector<Tick> ValueTicks(double lo, double hi, int target);

// Times in seconds: round steps of seconds below two minutes of span, labelled in seconds;
// longer spans step by 10 s, 15 s, 30 s, minutes or hours and are labelled h:mm:ss. Ticks are
// whole multiples of the step, so they stay on the same times while the window scrolls.
std::vector<Tick> TimeTicks(double lo, double hi, int target);
// Whether TimeTicks labels the span as h:mm:ss, and the axis title that goes with its labels.
bool ClockLabels(double span);
QString TimeTitle(double span);

// [lo, hi] with a margin; a flat or empty range gets room around it.
std::pair<double, double> PaddedRange(double lo, double hi);

// The range an input's values can take: from its range text ("±10 V", "0…4.096 V", "0/1 TTL",
// ...), else the 16-bit code range divided by `scale` (codes per unit).
std::pair<double, double> InputRange(const std::string& rangeText, double scale);

}  // namespace quillbox::view
