#pragma once
// Layouts are given in twips (1/1440 inch). They were drawn for an 11 pixel font at 15 twips per
// pixel; the dialogs use the user's font size instead and scale the twips with it, so that a
// larger font makes every control proportionally larger and captions keep their room.

#include <QFontInfo>
#include <QGuiApplication>
#include <QRect>
#include <algorithm>
#include <cmath>

namespace quillbox {

constexpr double kTwipsPerPixel = 15.0;
constexpr int kLayoutFontPixels = 11;

// The pixel size of the user's font: the application font, which follows the desktop's font
// setting and its dots per inch.
inline int UserFontPixels() { return std::max(6, QFontInfo(QGuiApplication::font()).pixelSize()); }

// How much larger than the layout's design the dialogs are drawn.
inline double LayoutScale() { return UserFontPixels() / static_cast<double>(kLayoutFontPixels); }

// Design pixels (as for an 11 pixel font) in pixels at the user's font size.
inline int Scaled(double designPixels) {
  return static_cast<int>(std::lround(designPixels * LayoutScale()));
}

inline int Px(double twips) { return Scaled(twips / kTwipsPerPixel); }

// A rectangle given in twips, in pixels. Edges are rounded, not sizes, so that neighbouring
// controls keep their spacing.
inline QRect TwipsRect(double left, double top, double width, double height) {
  const int l = Px(left);
  const int t = Px(top);
  return QRect(l, t, Px(left + width) - l, Px(top + height) - t);
}

}  // namespace quillbox
