#pragma once
// What the scope and the plots lay out alike: which channels share a panel, the colours of a
// panel's traces, and the application the views need.

#include <QColor>
#include <string>
#include <vector>

class QApplication;

namespace quillbox::view {

// The colour of the trace at position `i` of its panel: 24 colours that differ from each other
// and read on white; past them the list starts again.
QColor TraceColour(std::size_t i);
inline constexpr std::size_t kTraceColours = 24;

// Whether a channel of this unit is a digital line (drawn as a lane of steps).
bool IsDigital(const std::string& unit);

struct Group {
  std::string unit;
  bool lanes = false;  // digital lines, one lane each
  std::vector<std::size_t> columns;
};

// The panels for columns of these units, in the order the units first appear: the digital
// lines together in lanes, analog columns one panel per unit, or each its own with `ownPanels`.
std::vector<Group> GroupColumns(const std::vector<std::string>& units, bool ownPanels);

// The process's application, made on the offscreen platform when `offscreen` (screenshots and
// plots need no display). Null with `why` when the process has a non-widget application already,
// or when the display it names cannot be reached (instead of Qt ending the process).
QApplication* ViewApplication(bool offscreen, std::string& why);

}  // namespace quillbox::view
