#pragma once
// Min/max decimation: a trace of many more samples than pixel columns is drawn from at most two
// points per column, the lowest and the highest sample that fall into it, in the order they
// came. The drawn line then covers exactly the band the samples cover, at a cost independent of
// their number. Samples whose value is not finite are left out.

#include <QList>
#include <QPointF>
#include <cmath>
#include <cstdint>

namespace quillbox::view {

// `xAt(i)` and `yAt(i)` give sample i of `n`, with x not decreasing; [x0, x1] spans `columns`
// pixel columns. Fewer than two samples per column are passed on as they are.
template <class XAt, class YAt>
void MinMaxColumns(int64_t n, XAt xAt, YAt yAt, double x0, double x1, int columns,
                   QList<QPointF>& out) {
  out.clear();
  if (n <= 0) return;
  if (n <= 2 * static_cast<int64_t>(columns) || !(x1 > x0) || columns <= 0) {
    out.reserve(static_cast<qsizetype>(n));
    for (int64_t i = 0; i < n; ++i) {
      const double y = yAt(i);
      if (std::isfinite(y)) out.append(QPointF(xAt(i), y));
    }
    return;
  }
  out.reserve(2 * static_cast<qsizetype>(columns) + 2);
  const double perColumn = (x1 - x0) / columns;
  int64_t i = 0;
  while (i < n) {
    const double column = std::floor((xAt(i) - x0) / perColumn);
    int64_t lo = -1, hi = -1;
    double yLo = 0, yHi = 0;
    // The first sample always joins, so that the loop advances even on a non-finite x.
    for (int64_t start = i;
         i < n && (i == start || std::floor((xAt(i) - x0) / perColumn) == column); ++i) {
      const double y = yAt(i);
      if (!std::isfinite(y)) continue;
      if (lo < 0 || y < yLo) lo = i, yLo = y;
      if (hi < 0 || y > yHi) hi = i, yHi = y;
    }
    if (lo < 0) continue;
    const int64_t first = std::min(lo, hi), second = std::max(lo, hi);
    out.append(QPointF(xAt(first), yAt(first)));
    if (second != first) out.append(QPointF(xAt(second), yAt(second)));
  }
}

}  // namespace quillbox::view
