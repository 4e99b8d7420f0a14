#pragma once
// What the scope and the plots draw alike: a colour per channel, a chart panel per unit and the
// application the views need.

#include <QColor>
#include <QString>
#include <string>
#include <vector>

class QApplication;
class QChart;
class QValueAxis;

namespace quillbox::view {

// A colour for the channel at position `i` of the scan list: distinct hues, then darker ones.
QColor TraceColour(std::size_t i);

// A chart without animations or legend, with a time axis in seconds and a value axis titled
// with `unit`; both axes are attached and returned.
QChart* MakePanel(const QString& unit, QValueAxis*& x, QValueAxis*& y);

// The units in the order they first appear, with the columns of each.
std::vector<std::pair<std::string, std::vector<std::size_t>>> GroupByUnit(
    const std::vector<std::string>& units);

// A y range that shows [lo, hi] with a margin; a flat or empty range gets room around it.
std::pair<double, double> PaddedRange(double lo, double hi);

// The process's application, made on the offscreen platform when `offscreen` (screenshots and
// plots need no display). Null when the process has a non-widget application already.
QApplication* ViewApplication(bool offscreen);

}  // namespace quillbox::view
