#pragma once
// What the dialogs plug-in offers the component (ui/UiPlugin.cpp puts it in the plug-in's
// table): the Qt host hooks, the device chooser, the setup dialog and its offscreen screenshots.
// Dialogs and pages work on the DriverState they are given.

#include <cstdint>
#include <string>
#include <vector>

#include "driver/HelpFile.h"
#include "driver/UiPlugin.h"
#include "platform/UiHost.h"

namespace quillbox {

struct DriverState;
struct DeviceListing;

// The Qt implementations of the platform's UI host hooks (pending events, wait cursor, message
// box, shell open, help); the calling thread is taken as the host's UI thread.
platform::UiHooks QtUiHooks();

// True when a modal dialog can be shown and answered: the host made a QApplication, or one can
// be made on a display (DISPLAY, WAYLAND_DISPLAY, or a QT_QPA_PLATFORM other than the
// screenless offscreen and minimal platforms). Otherwise dialogs count as cancelled.
bool CanShowDialogs();
// Makes the application a dialog needs, when there is none, and tells whether a dialog can be
// shown and answered; a display that is named but does not answer is found out here.
bool PrepareDialogs();

// The device selection dialog: the DeviceIndex of the chosen module, or -1.
int16_t SelectDevice(const DeviceListing& state);

// Registers the page components "Quillbox.ucGeneral", "Quillbox.ucADC" and "Quillbox.ucDIO"
// with the page factory (once per process).
void RegisterStandardPages();

// Shows the setup dialog modally on `state`.
SetupResult ShowSetupDialog(DriverState& state, std::string& error);

// Renders every tab of the setup dialog into dir/<tab>.png without showing it on screen (the
// offscreen platform is used when there is no display). `written` receives the files.
bool RenderSetupScreenshots(DriverState& state, const std::string& dir,
                            std::vector<std::string>& written, std::string& error);

}  // namespace quillbox
