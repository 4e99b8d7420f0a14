#pragma once
// Layouts are given in twips (1/1440 inch); at 96 dots per inch a pixel is 15 twips.

#include <QRect>
#include <cmath>

namespace quillbox {

constexpr double kTwipsPerPixel = 15.0;

inline int Px(double twips) { return static_cast<int>(std::lround(twips / kTwipsPerPixel)); }

// A rectangle given in twips, in pixels. Edges are rounded, not sizes, so that neighbouring
// controls keep their spacing.
inline QRect TwipsRect(double left, double top, double width, double height) {
  const int l = Px(left);
  const int t = Px(top);
  return QRect(l, t, Px(left + width) - l, Px(top + height) - t);
}

}  // namespace quillbox
