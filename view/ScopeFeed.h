#pragma once
// The scope's data path, without widgets: a sink of the recording engine that keeps the last
// window of values per column in a ring. Its history runs on across the scope's recordings.

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "recording/Sink.h"

namespace quillbox::view {

class ScopeFeed : public recording::Sink {
 public:
  ScopeFeed(std::vector<recording::RecordColumn> columns, float rate, double windowSeconds);

  bool Begin(const recording::Sidecar& /*description*/, std::string& /*error*/) override {
    return true;
  }
  bool Write(std::span<const int16_t> codes, int64_t /*firstFrame*/,
             std::string& /*error*/) override {
    Keep(codes);
    return true;
  }
  bool End(const recording::Sidecar& /*description*/, std::string& /*error*/) override {
    return true;
  }

  // Keeps this many seconds of history from now on (the oldest frames go first).
  void SetWindow(double seconds);

  const std::vector<recording::RecordColumn>& Columns() const { return columns_; }
  float Rate() const { return rate_; }
  int64_t Frames() const { return frames_; }  // frames received since the scope started
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

  std::vector<recording::RecordColumn> columns_;
  std::vector<float> factor_;  // value = code * factor
  float rate_;
  std::size_t width_;
  std::size_t capacity_ = 1;  // frames the ring holds
  std::size_t head_ = 0;      // slot of the oldest held frame
  int64_t held_ = 0;
  int64_t frames_ = 0;
  std::vector<float> ring_;
};

}  // namespace quillbox::view
