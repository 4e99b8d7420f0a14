#pragma once
// `quillbox plot`: a recording drawn into a picture (PNG, SVG or PDF by the output's name): a
// title with the module's serial, the start time and the rate, then per panel a legend of all
// its channels and the panel itself, with the panels of the scope (one per unit, or per analog
// channel with `lanes`, digital lines as lanes of steps) on one time axis, their left and right
// edges in line. The recording is read a chunk at a time and each trace gathered into a bounded
// number of points as it is read, then reduced to at most two points per pixel column, so a
// million frames draw in little more memory than a thousand.

#include <QList>
#include <QPointF>
#include <memory>
#include <string>
#include <vector>

#include "quillbox/ViewPlugin.h"
#include "recording/Reader.h"

class QWidget;

namespace quillbox::view {

using recording::ReadRecording;
using recording::ReadResult;
using recording::RecordingData;
using recording::StreamRecording;

class Panel;

// What a plot draws: the recording's description and, per kept column, its samples from t0 to t1
// seconds (all of them, or the extremes of groups of them; see TraceGather).
struct PlotData {
  RecordingData recording;  // no rows
  std::vector<QList<QPointF>> points;
  double t0 = 0, t1 = 0;
  int64_t frames = 0;
};

// The least height of a panel of analog traces.
inline constexpr int kPanelMinHeight = 80;

struct PlotPage {
  std::unique_ptr<QWidget> page;
  std::vector<Panel*> panels;
  std::vector<std::string> legend;  // the names the legends list, panel after panel
};

// Lays out `data` on a page of `options.width` by `options.height` (0: as the panels need); false
// with `error` when the height is below what the panels need.
bool LayOutPlot(const PlotData& data, const std::string& source, const PlotOptions& options,
                PlotPage& out, std::string& error);

// Writes the page into `path` as the name says (.png, .svg or .pdf); false with `error`.
bool SavePage(QWidget& page, const std::string& path, std::string& error);

// The exported entry: reads, draws and says what was left out.
int RunPlot(const PlotOptions& options, std::vector<std::string>& messages);

}  // namespace quillbox::view
