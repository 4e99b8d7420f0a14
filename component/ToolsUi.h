#pragma once
// The setup dialog for the tools interface (quillbox setup).

#include <string>

#include "quillbox/Object.h"

namespace quillbox {

// Shows the setup dialog of the driver object through its IADC3 ShowSetting; false with a
// reason when the object is no driver, a recording runs or no dialog can be shown here.
bool ToolsShowSetup(const Object& object, std::string& error);
// Renders each tab of the setup dialog into dir/<tab>.png; false with a reason on failure.
bool ToolsScreenshots(const Object& object, const std::string& dir, std::string& error);

}  // namespace quillbox
