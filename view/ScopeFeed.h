#pragma once
// The scope's data path, without widgets: takes the frames the driver holds through
// IADC3::GetData (as `quillbox record` does), keeps the last window of values per column in a
// ring, and hands every frame's codes to a recorder while one is attached.

#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "cli/recording/CsvRows.h"
#include "quillbox/IADC3.h"

namespace quillbox::view {

class ScopeFeed {
 public:
  // Receives whole frames of codes (one per column, frame after frame).
  using Sink = std::function<void(std::span<const int16_t> codes)>;

  ScopeFeed(IADC3& adc, std::vector<cli::RecordColumn> columns, float rate, double windowSeconds);

  // Takes everything the driver holds; returns the frames taken.
  int64_t Poll();
  // Keeps this many seconds of history from now on (the oldest frames go first).
  void SetWindow(double seconds);
  void SetSink(Sink sink) { sink_ = std::move(sink); }

  const std::vector<cli::RecordColumn>& Columns() const { return columns_; }
  float Rate() const { return rate_; }
  int64_t Frames() const { return frames_; }  // frames received since the start
  // Frames in the history: the newest Held() frames, numbered Frames() - Held() onwards.
  int64_t Held() const { return held_; }
  // Value of `column` in history frame `i` (0 = oldest held), in the column's unit or as a code.
  float Value(std::size_t column, int64_t i) const {
    const auto slot = static_cast<std::size_t>((head_ + static_cast<std::size_t>(i)) % capacity_);
    return ring_[slot * width_ + column];
  }
  float Latest(std::size_t column) const { return Value(column, held_ - 1); }
  // The value range a column's codes can take, in its unit.
  std::pair<double, double> FullRange(std::size_t column) const;

 private:
  void Keep(std::span<const int16_t> codes);

  IADC3& adc_;
  std::vector<cli::RecordColumn> columns_;
  std::vector<float> factor_;  // value = code * factor
  float rate_;
  std::size_t width_;
  std::size_t capacity_ = 1;  // frames the ring holds
  std::size_t head_ = 0;      // slot of the oldest held frame
  int64_t held_ = 0;
  int64_t frames_ = 0;
  std::vector<float> ring_;
  std::vector<int16_t> buffer_;
  Sink sink_;
};

}  // namespace quillbox::view
