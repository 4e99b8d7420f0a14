#include "view/ScopeFeed.h"

#include <algorithm>
#include <cmath>

namespace quillbox::view {
namespace {

// Buckets per window: about one per pixel column of the traces in a window of usual size; each
// draws as up to two points, so this bounds the cost of a redraw.
constexpr std::size_t kBuckets = 1024;
// Values the ring holds at most (16 MB), so that a long window at many channels stays bounded.
constexpr double kRingValues = 4 * 1024 * 1024;

}  // namespace

ScopeFeed::ScopeFeed(std::vector<recording::RecordColumn> columns, float rate, double windowSeconds)
    : columns_(std::move(columns)), rate_(rate), width_(columns_.size()) {
  factor_.reserve(width_);
  for (const recording::RecordColumn& c : columns_)
    factor_.push_back(c.scaled ? 1.0f / c.scale : 1.0f);
  SetWindow(windowSeconds);
}

void ScopeFeed::SetWindow(double seconds) {
  if (width_ == 0) return;
  const double window = std::ceil(seconds * rate_) + 1;
  const auto frames = static_cast<std::size_t>(
      std::clamp(window, 2.0, std::max(1024.0, kRingValues / static_cast<double>(width_))));
  // Re-laid out oldest first, keeping the newest frames that fit.
  const int64_t keep = std::min<int64_t>(held_, static_cast<int64_t>(frames));
  std::vector<float> ring(frames * width_);
  for (int64_t i = 0; i < keep; ++i)
    for (std::size_t c = 0; c < width_; ++c)
      ring[static_cast<std::size_t>(i) * width_ + c] = Value(c, held_ - keep + i);
  ring_ = std::move(ring);
  capacity_ = frames;
  head_ = 0;
  held_ = keep;
  perBucket_ = window / kBuckets;
  buckets_.Reset(width_, perBucket_, kBuckets + 2);
  for (int64_t i = 0; i < held_; ++i)
    buckets_.Add(frames_ - held_ + i, &ring_[static_cast<std::size_t>(i) * width_]);
}

void ScopeFeed::Points(std::size_t column, double t0, double t1, QList<QPointF>& out) const {
  // In doubles first: a view zoomed far out may reach times no frame number can hold.
  const auto last = static_cast<double>(frames_ - 1);
  const auto from = static_cast<int64_t>(std::clamp(std::floor(t0 * rate_), 0.0, last + 1));
  const auto to =
      static_cast<int64_t>(std::clamp(std::ceil(t1 * rate_), -1.0, std::max(last, -1.0)));
  buckets_.Points(column, from, to, rate_, out);
}

void ScopeFeed::Keep(std::span<const int16_t> codes) {
  const std::size_t frames = codes.size() / width_;
  for (std::size_t f = 0; f < frames; ++f) {
    std::size_t slot = 0;
    if (held_ < static_cast<int64_t>(capacity_)) {
      slot = (head_ + static_cast<std::size_t>(held_)) % capacity_;
      ++held_;
    } else {
      slot = head_;
      head_ = (head_ + 1) % capacity_;
    }
    float* row = &ring_[slot * width_];
    for (std::size_t c = 0; c < width_; ++c)
      row[c] = static_cast<float>(codes[f * width_ + c]) * factor_[c];
    buckets_.Add(frames_ + static_cast<int64_t>(f), row);
  }
  frames_ += static_cast<int64_t>(frames);
}

}  // namespace quillbox::view
