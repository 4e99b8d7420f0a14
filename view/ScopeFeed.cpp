#include "view/ScopeFeed.h"

#include <algorithm>
#include <cmath>

namespace quillbox::view {

ScopeFeed::ScopeFeed(std::vector<recording::RecordColumn> columns, float rate, double windowSeconds)
    : columns_(std::move(columns)), rate_(rate), width_(columns_.size()) {
  factor_.reserve(width_);
  for (const recording::RecordColumn& c : columns_)
    factor_.push_back(c.scaled ? 1.0f / c.scale : 1.0f);
  SetWindow(windowSeconds);
}

void ScopeFeed::SetWindow(double seconds) {
  const auto frames =
      static_cast<std::size_t>(std::clamp(std::ceil(seconds * rate_) + 1, 2.0, 1e7));
  if (frames == capacity_ || width_ == 0) return;
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
  }
  frames_ += static_cast<int64_t>(frames);
}

std::pair<double, double> ScopeFeed::FullRange(std::size_t column) const {
  return {-32768.0 * factor_[column], 32767.0 * factor_[column]};
}

}  // namespace quillbox::view
