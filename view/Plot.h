#pragma once
// `quillbox plot`: a recording drawn into a PNG, one panel per unit with time on the x axis, under
// a title with the module's serial, the start time and the rate. Each trace is reduced to at
// most two points per pixel column first, so a million frames draw as fast as a thousand.

#include <string>
#include <vector>

#include "quillbox/ViewPlugin.h"
#include "recording/Reader.h"

namespace quillbox::view {

using recording::ReadRecording;
using recording::ReadResult;
using recording::RecordingData;

// Draws `data` into `png` (`width` pixels wide); false with `error`.
bool RenderPlot(const RecordingData& data, const std::string& source, const std::string& png,
                int width, std::string& error);

// The exported entry: reads, draws and says what was left out.
int RunPlot(const PlotOptions& options, std::vector<std::string>& messages);

}  // namespace quillbox::view
