#include "view/Buckets.h"

#include <algorithm>

namespace quillbox::view {

void Buckets::Reset(std::size_t width, double framesPerBucket, std::size_t count) {
  width_ = width;
  count_ = std::max<std::size_t>(count, 1);
  perBucket_ = framesPerBucket > 0 ? framesPerBucket : 1;
  keys_.assign(count_, -1);
  cells_.assign(count_ * width_, Cell{});
}

void Buckets::Add(int64_t frame, const float* row) {
  const int64_t key = BucketOf(frame);
  const auto slot = static_cast<std::size_t>(key % static_cast<int64_t>(count_));
  Cell* cells = &cells_[slot * width_];
  if (keys_[slot] != key) {
    keys_[slot] = key;
    for (std::size_t c = 0; c < width_; ++c) cells[c] = {row[c], row[c], frame, frame};
    return;
  }
  for (std::size_t c = 0; c < width_; ++c) {
    Cell& cell = cells[c];
    if (row[c] < cell.lo) cell.lo = row[c], cell.loFrame = frame;
    if (row[c] > cell.hi) cell.hi = row[c], cell.hiFrame = frame;
  }
}

void Buckets::Points(std::size_t column, int64_t fromFrame, int64_t toFrame, double rate,
                     QList<QPointF>& out) const {
  out.clear();
  if (width_ == 0 || toFrame < fromFrame) return;
  const int64_t last = BucketOf(toFrame);
  const int64_t first = std::max(BucketOf(fromFrame), last - static_cast<int64_t>(count_) + 1);
  out.reserve(2 * static_cast<qsizetype>(last - first + 1));
  for (int64_t key = std::max<int64_t>(first, 0); key <= last; ++key) {
    const auto slot = static_cast<std::size_t>(key % static_cast<int64_t>(count_));
    if (keys_[slot] != key) continue;
    const Cell& cell = cells_[slot * width_ + column];
    const bool lowFirst = cell.loFrame <= cell.hiFrame;
    const auto point = [&](bool low) {
      return QPointF(static_cast<double>(low ? cell.loFrame : cell.hiFrame) / rate,
                     static_cast<double>(low ? cell.lo : cell.hi));
    };
    out.append(point(lowFirst));
    if (cell.loFrame != cell.hiFrame) out.append(point(!lowFirst));
  }
}

}  // namespace quillbox::view
