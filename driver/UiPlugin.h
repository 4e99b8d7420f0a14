#pragma once
// The dialogs plug-in: the Qt user interface is built into its own library, QuillboxUi.so,
// which the component loads from its own folder the first time a dialog or a screenshot is
// needed. Commands that show no window therefore never map Qt. The plug-in's only export is
// the C function QuillboxUiPlugin, which returns the table below; the plug-in is built from the
// same sources as the component, so the table may pass C++ types.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/UiHost.h"

namespace quillbox {

struct DriverState;
struct DeviceListing;

enum class SetupResult {
  Shown,      // the dialog was shown and closed
  NoDisplay,  // no dialog can be shown in this process (or the plug-in is missing)
  Failed,     // an error ended the dialog; `error` describes it
};

// Bumped whenever the table changes.
inline constexpr uint32_t kUiPluginAbi = 2;

struct UiPlugin {
  uint32_t abi;           // kUiPluginAbi of the plug-in's build
  std::size_t stateSize;  // sizeof(DriverState) of the plug-in's build
  // Registers the standard pages and returns the Qt UI host hooks; the calling thread is taken
  // as the host's UI thread.
  platform::UiHooks (*install)();
  // The help file the dialog's Help button opens (the component looks it up).
  void (*setHelpFile)(const std::string& path);
  // Makes the application a dialog needs; false when no dialog can be shown and answered.
  bool (*prepareDialogs)();
  // The device selection dialog: the DeviceIndex of the chosen module, or -1.
  int16_t (*selectDevice)(const DeviceListing& listing);
  // Shows the setup dialog modally on `state`.
  SetupResult (*showSetup)(DriverState& state, std::string& error);
  // Renders every tab of the setup dialog into dir/<tab>.png.
  bool (*renderScreenshots)(DriverState& state, const std::string& dir,
                            std::vector<std::string>& written, std::string& error);
};

inline constexpr const char* kUiPluginFile = "QuillboxUi.so";
inline constexpr const char* kUiPluginEntry = "QuillboxUiPlugin";
using UiPluginEntry = const UiPlugin* (*)();

}  // namespace quillbox
