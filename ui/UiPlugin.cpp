// The plug-in's entry: the table of what the component calls of the dialogs.

#include "driver/UiPlugin.h"

#include "driver/DriverState.h"
#include "driver/HelpFile.h"
#include "ui/Ui.h"

namespace quillbox {
namespace {

platform::UiHooks Install() {
  RegisterStandardPages();
  return QtUiHooks();
}

constexpr UiPlugin kPlugin{
    .abi = kUiPluginAbi,
    .stateSize = sizeof(DriverState),
    .install = &Install,
    .setHelpFile = &SetHelpFilePath,
    .prepareDialogs = &PrepareDialogs,
    .selectDevice = &SelectDevice,
    .showSetup = &ShowSetupDialog,
    .renderScreenshots = &RenderSetupScreenshots,
};

}  // namespace
}  // namespace quillbox

extern "C" __attribute__((visibility("default"))) const quillbox::UiPlugin* QuillboxUiPlugin() {
  return &quillbox::kPlugin;
}
