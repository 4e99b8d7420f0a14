#include "view/TraceGather.h"

#include <algorithm>
#include <cmath>

namespace quillbox::view {

void TraceGather::Extremes::Add(const Extremes& later) {
  if (later.lo >= 0 && (lo < 0 || later.yLo < yLo)) lo = later.lo, tLo = later.tLo, yLo = later.yLo;
  if (later.hi >= 0 && (hi < 0 || later.yHi > yHi)) hi = later.hi, tHi = later.tHi, yHi = later.yHi;
}

TraceGather::TraceGather(std::size_t groups, double from, double to)
    : limit_(std::max<std::size_t>(groups, 1)), from_(from), to_(to) {}

TraceGather::TraceGather(double x0, double x1, int columns, double from, double to)
    : TraceGather(static_cast<std::size_t>(std::max(columns, 1)), from, to) {
  x0_ = x0;
  perColumn_ = (x1 - x0) / std::max(columns, 1);
}

void TraceGather::Row(double time, int64_t /*frame*/, std::span<const float> values) {
  if (read_++ == 0) firstRead_ = time;
  lastRead_ = time;
  if (!(time >= from_ && time <= to_)) return;
  if (rows_ == 0) {
    first_ = time;
    columns_ = values.size();
    open_.assign(columns_, Extremes{});
    groups_.reserve(2 * limit_ * columns_);
  }
  last_ = time;
  if (perColumn_ > 0) {
    // The pixel column as MinMaxColumns computes it.
    const double column = std::floor((time - x0_) / perColumn_);
    if (openRows_ > 0 && column != openColumn_) Close();
    openColumn_ = column;
  }
  for (std::size_t c = 0; c < columns_; ++c) {
    if (!std::isfinite(values[c])) continue;
    Extremes& e = open_[c];
    if (e.lo < 0 || values[c] < e.yLo) e.lo = rows_, e.tLo = time, e.yLo = values[c];
    if (e.hi < 0 || values[c] > e.yHi) e.hi = rows_, e.tHi = time, e.yHi = values[c];
  }
  ++rows_;
  if (++openRows_ == groupRows_ && perColumn_ <= 0) Close();
}

void TraceGather::Close() {
  groups_.insert(groups_.end(), open_.begin(), open_.end());
  open_.assign(columns_, Extremes{});
  openRows_ = 0;
  if (columns_ == 0 || groups_.size() < 2 * limit_ * columns_) return;
  // Neighbours merged: half as many groups, twice as long.
  const std::size_t pairs = groups_.size() / columns_ / 2;
  for (std::size_t g = 0; g < pairs; ++g)
    for (std::size_t c = 0; c < columns_; ++c) {
      Extremes merged = groups_[2 * g * columns_ + c];
      merged.Add(groups_[(2 * g + 1) * columns_ + c]);
      groups_[g * columns_ + c] = merged;
    }
  groups_.resize(pairs * columns_);
  groupRows_ *= 2;
}

std::vector<QList<QPointF>> TraceGather::Points() const {
  std::vector<QList<QPointF>> points(columns_);
  const auto put = [&](const Extremes& e, QList<QPointF>& out) {
    if (e.lo < 0) return;
    const bool loFirst = e.lo <= e.hi;
    out.append(QPointF(loFirst ? e.tLo : e.tHi, loFirst ? e.yLo : e.yHi));
    if (e.lo != e.hi) out.append(QPointF(loFirst ? e.tHi : e.tLo, loFirst ? e.yHi : e.yLo));
  };
  for (std::size_t c = 0; c < columns_; ++c) {
    points[c].reserve(2 * static_cast<qsizetype>(groups_.size() / columns_ + 1));
    for (std::size_t g = c; g < groups_.size(); g += columns_) put(groups_[g], points[c]);
    put(open_[c], points[c]);
  }
  return points;
}

}  // namespace quillbox::view
