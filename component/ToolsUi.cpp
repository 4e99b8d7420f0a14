#include "component/ToolsUi.h"

#include "driver/DriverState.h"
#include "driver/UiBinding.h"
#include "quillbox/IADC3.h"

namespace quillbox {

bool ToolsShowSetup(const Object& object, std::string& error) {
  auto adc = As<IADC3>(object);
  if (!adc) {
    error = "the object is not an E-270 driver";
    return false;
  }
  if (adc->Busy()) {
    error = "a recording is running; the setup dialog is not shown";
    return false;
  }
  std::string why;
  const UiPlugin* plugin = LoadUiPlugin(why);
  if (plugin == nullptr) {
    error = "the setup dialog cannot be shown: " + why;
    return false;
  }
  if (!plugin->prepareDialogs()) {
    error =
        "no display to show the setup dialog on (set DISPLAY or WAYLAND_DISPLAY, or use "
        "--screenshot DIR)";
    return false;
  }
  // The host's own path: the result is False whatever the user did.
  adc->ShowSetting();
  return true;
}

bool ToolsScreenshots(const Object& object, const std::string& dir, std::string& error) {
  if (!As<IADC3>(object)) {
    error = "the object is not an E-270 driver";
    return false;
  }
  if (State().Acq.Busy.load()) {
    error = "a recording is running; the setup dialog is not shown";
    return false;
  }
  std::vector<std::string> written;
  return RenderSetupPictures(State(), dir, written, error);
}

}  // namespace quillbox
