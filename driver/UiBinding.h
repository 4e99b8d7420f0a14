#pragma once
// Connects the driver to its user interface, the dialogs plug-in (driver/UiPlugin.h). Nothing
// of Qt is loaded until a dialog, a message box or a screenshot is needed, or the host turns
// out to be a Qt program itself; a plug-in that is missing or cannot be loaded makes every
// dialog count as having no display.

#include <string>
#include <vector>

#include "driver/UiPlugin.h"

namespace quillbox {

// Idempotent; called by every E_270 construction. Installs the device chooser and UI host hooks
// that load the plug-in when they need it (at once when Qt is already in the process).
void BindUi();

// The plug-in, loaded (once per process) from the component's folder with its hooks and pages
// registered; null with the reason in `why` when it is missing or cannot be loaded.
const UiPlugin* LoadUiPlugin(std::string& why);

// The setup dialog, shown modally on `state` through the plug-in (NoDisplay without it).
SetupResult RunSetupDialog(DriverState& state, std::string& error);

// Every tab of the setup dialog rendered into dir/<tab>.png through the plug-in.
bool RenderSetupPictures(DriverState& state, const std::string& dir,
                         std::vector<std::string>& written, std::string& error);

}  // namespace quillbox
