#include "quillbox/Tools.h"

#include <string>

#include "component/ToolsInfo.h"
#include "component/ToolsSettings.h"
#include "component/ToolsUi.h"
#include "device/DeviceChooser.h"
#include "driver/DriverState.h"

namespace quillbox {
namespace {

std::string Version() {
  return std::to_string(QUILLBOX_VERSION_MAJOR) + "." + std::to_string(QUILLBOX_VERSION_MINOR) +
         "." + std::to_string(QUILLBOX_VERSION_PATCH) + "." +
         std::to_string(QUILLBOX_VERSION_TWEAK);
}

class Tools final : public ITools {
 public:
  std::string ComponentVersion() override { return Version(); }
  std::string DevicesJson() override { return DevicesJsonText(); }
  std::string InfoJson() override { return InfoJsonText(); }
  std::string ExportKey(const std::string& path, bool recursive) override {
    return ToolsExportKey(path, recursive);
  }
  bool Register(const std::string& libraryPath, std::string& error) override {
    return ToolsRegister(libraryPath, error);
  }
  bool ShowSetup(const Object& object, std::string& error) override {
    return ToolsShowSetup(object, error);
  }
  bool Screenshots(const Object& object, const std::string& dir, std::string& error) override {
    return ToolsScreenshots(object, dir, error);
  }
  bool SetSyncMode(int mode) override {
    DriverState& s = State();
    if (mode < 0 || mode > 2 || s.Acq.Busy.load()) return false;
    s.SyncMode = static_cast<int16_t>(mode);
    return true;
  }
  std::string StoreProblem() override { return ToolsStoreProblem(); }
  std::string LastCallFailure() override { return State().LastFailedCall; }
  std::string AcquisitionProblem() override {
    return State().Acq.FailedDataCalls() > 0 ? "E270GetDATA failed" : "";
  }
  std::string BusyModules() override {
    std::string ports;
    for (const std::string& port : State().BusyPorts) ports += (ports.empty() ? "" : ", ") + port;
    return ports;
  }
  std::vector<int> BusyProcesses() override { return State().BusyProcesses; }
  void SetDeviceChoice(const std::string& choice, const std::string& source) override {
    quillbox::SetDeviceChoice(choice, source);
  }
  std::string ChoiceProblem() override { return State().ChoiceProblem; }
  std::string ListedDevicesJson() override { return ListedDevicesJsonText(); }
  bool DisplayAvailable() override { return quillbox::DisplayAvailable(); }
  bool WaitForData(uint32_t ms) override { return State().Acq.Ring().WaitForData(ms); }
};

}  // namespace
}  // namespace quillbox

extern "C" quillbox::ITools* QuillboxTools() {
  static quillbox::Tools tools;
  return &tools;
}
