#pragma once
// The scope's drawing data, kept as frames arrive: per column, the lowest and the highest value
// of each bucket of consecutive frames, with the frames they came in. A window is drawn from its
// buckets (a fixed number of them, about one per pixel column), so the cost of a redraw and the
// memory do not grow with the window's length or the rate. Buckets lie on whole multiples of
// their width in frames, so a scrolling trace keeps its shape.

#include <QList>
#include <QPointF>
#include <cstdint>
#include <vector>

namespace quillbox::view {

class Buckets {
 public:
  // Buckets of `framesPerBucket` frames (a fraction when frames are fewer than buckets), the
  // newest `count` of them kept, for rows of `width` values. Forgets what it held.
  void Reset(std::size_t width, double framesPerBucket, std::size_t count);
  void Add(int64_t frame, const float* row);

  // The extremes of `column` in the buckets from the one of `fromFrame` to the one of `toFrame`
  // as points (frame / rate, value): each bucket's lowest and highest value in the order they
  // came (one point when they are the same frame).
  void Points(std::size_t column, int64_t fromFrame, int64_t toFrame, double rate,
              QList<QPointF>& out) const;

  int64_t BucketOf(int64_t frame) const {
    return static_cast<int64_t>(static_cast<double>(frame) / perBucket_);
  }

 private:
  struct Cell {
    float lo, hi;
    int64_t loFrame, hiFrame;
  };
  std::size_t width_ = 0;
  std::size_t count_ = 0;
  double perBucket_ = 1;
  std::vector<int64_t> keys_;  // the bucket each slot holds, -1 for none
  std::vector<Cell> cells_;    // slot by slot, a cell per column
};

}  // namespace quillbox::view
