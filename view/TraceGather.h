#pragma once
// The traces of a plot gathered while the recording is read, in memory bounded by the picture's
// width rather than the recording's length: the rows within a time window are taken in groups,
// and of each group every column keeps its lowest and its highest sample, in the order they came.
// Groups are either runs of consecutive rows, merged pairwise into runs twice as long whenever
// there are twice the limit of them, or the rows falling into one pixel column of a time axis,
// which gives exactly what min/max decimation (MinMaxColumns) gives for all the rows.

#include <QList>
#include <QPointF>
#include <cstdint>
#include <limits>
#include <span>
#include <vector>

#include "recording/Reader.h"

namespace quillbox::view {

class TraceGather : public recording::RowSink {
 public:
  static constexpr double kAll = std::numeric_limits<double>::infinity();
  // Runs of rows, at most 2 * `groups` of them, of the rows from `from` to `to` seconds.
  explicit TraceGather(std::size_t groups, double from = -kAll, double to = kAll);
  // The `columns` pixel columns from `x0` to `x1` seconds.
  TraceGather(double x0, double x1, int columns, double from = -kAll, double to = kAll);
  void Row(double time, int64_t frame, std::span<const float> values) override;

  // Each column's kept samples in time order, non-finite values left out.
  std::vector<QList<QPointF>> Points() const;
  bool Merged() const { return groupRows_ > 1; }  // runs of rows have been merged
  int64_t Rows() const { return rows_; }          // in the window
  double First() const { return first_; }         // the first and last time in the window
  double Last() const { return last_; }
  double FirstRead() const { return firstRead_; }  // ... and of all rows read
  double LastRead() const { return lastRead_; }

 private:
  struct Extremes {
    int64_t lo = -1, hi = -1;  // row numbers, -1: no finite value yet
    double tLo = 0, tHi = 0;
    float yLo = 0, yHi = 0;
    void Add(const Extremes& later);
  };
  void Close();

  std::size_t columns_ = 0, limit_;  // columns_: the first row's values
  std::vector<Extremes> groups_;     // group after group, `columns_` of them each
  std::vector<Extremes> open_;       // the group being filled
  int64_t groupRows_ = 1, openRows_ = 0, rows_ = 0, read_ = 0;
  double from_, to_, first_ = 0, last_ = 0, firstRead_ = 0, lastRead_ = 0;
  double x0_ = 0, perColumn_ = 0, openColumn_ = 0;  // perColumn_ 0: runs of rows
};

}  // namespace quillbox::view
