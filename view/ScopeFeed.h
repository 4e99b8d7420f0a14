#pragma once
// The scope's data path, without widgets: a sink of the recording engine that keeps, per column,
// min/max buckets of the last window for drawing and the newest values in a ring (at most the
// window, and at most about 16 MB) for the latest values, the trigger and a closer look. Its
// history runs on across the scope's recordings.

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "recording/Sink.h"
#include "view/Buckets.h"

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

  // Keeps this many seconds of history from now on (the oldest frames go first). The buckets
  // are refilled from the values held.
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
  // The drawing of `column` over [t0, t1] seconds: the extremes of the window's buckets.
  void Points(std::size_t column, double t0, double t1, QList<QPointF>& out) const;
  // How many frames a bucket spans (below 1: every frame is drawn).
  double FramesPerBucket() const { return perBucket_; }

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
  Buckets buckets_;
  double perBucket_ = 1;
};

}  // namespace quillbox::view
