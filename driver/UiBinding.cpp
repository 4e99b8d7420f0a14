#include "driver/UiBinding.h"

#include <dlfcn.h>
#include <link.h>

#include <atomic>
#include <filesystem>
#include <iostream>
#include <mutex>
#include <string_view>
#include <thread>

#include "device/DeviceChooser.h"
#include "driver/DriverState.h"
#include "driver/HelpFile.h"
#include "platform/UiHost.h"

namespace quillbox {
namespace {

std::mutex g_mutex;    // guards the load and what it leaves
bool g_tried = false;  // one attempt per process: a missing file stays missing
const UiPlugin* g_plugin = nullptr;
std::string g_failure;                        // why the attempt failed
platform::UiHooks g_qtHooks;                  // the plug-in's hooks, which the stand-ins forward to
std::atomic<std::thread::id> g_hostThread{};  // the thread that created the first driver object

// True when the host itself brought Qt into the process (a Qt program): then the plug-in costs
// nothing more and serves the host's application at once.
// Looks through the loaded objects' names: asking dlopen with RTLD_NOLOAD would search the
// library path and open the file each time Qt is not there.
bool QtInProcess() {
  const auto isQtCore = [](dl_phdr_info* info, std::size_t, void*) -> int {
    const std::string_view path = info->dlpi_name != nullptr ? info->dlpi_name : "";
    const std::string_view name = path.substr(path.find_last_of('/') + 1);
    return name.starts_with("libQt6Core.so") ? 1 : 0;
  };
  return dl_iterate_phdr(isQtCore, nullptr) != 0;
}

const UiPlugin* Load(std::string& why) {
  namespace fs = std::filesystem;
  const std::string folder = ComponentFolder();
  if (folder.empty()) {
    why = "the folder of the component cannot be told, so the dialogs plug-in " +
          std::string(kUiPluginFile) + " cannot be found";
    return nullptr;
  }
  const std::string path = (fs::path(folder) / kUiPluginFile).string();
  std::error_code ec;
  if (!fs::is_regular_file(path, ec)) {
    why = "the dialogs plug-in " + path + " is missing";
    return nullptr;
  }
  // Never unloaded: its widgets, hooks and application live until the process ends.
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
  if (handle == nullptr) {
    const char* err = dlerror();
    why = "the dialogs plug-in cannot be loaded: " + std::string(err != nullptr ? err : path);
    return nullptr;
  }
  auto entry = reinterpret_cast<UiPluginEntry>(dlsym(handle, kUiPluginEntry));
  const UiPlugin* plugin = entry != nullptr ? entry() : nullptr;
  if (plugin == nullptr || plugin->abi != kUiPluginAbi ||
      plugin->stateSize != sizeof(DriverState)) {
    why = "the dialogs plug-in " + path + " does not belong to this component";
    return nullptr;
  }
  return plugin;
}

// The plug-in when the calling thread is the host's and, with `onlyWithQt`, Qt is already in
// the process; otherwise null without trying.
const UiPlugin* PluginFor(bool onlyWithQt) {
  if (std::this_thread::get_id() != g_hostThread.load()) return nullptr;
  if (onlyWithQt && !QtInProcess()) return nullptr;
  std::string why;
  return LoadUiPlugin(why);
}

platform::UiHooks QtHooks() {
  std::lock_guard lock(g_mutex);
  return g_qtHooks;
}

// Until the plug-in is loaded these stand in for its hooks. Without a Qt application the Qt
// hooks do nothing (a message box goes to the error output), so the plug-in is loaded only for a
// message box on the host's thread or once the host has Qt of its own.
platform::UiHooks StandInHooks() {
  platform::UiHooks hooks;
  hooks.doEvents = [] {
    if (PluginFor(true) != nullptr) {
      if (auto qt = QtHooks(); qt.doEvents) qt.doEvents();
    }
  };
  hooks.waitCursor = [](bool wait) {
    if (PluginFor(true) != nullptr) {
      if (auto qt = QtHooks(); qt.waitCursor) qt.waitCursor(wait);
    }
  };
  hooks.messageBox = [](const std::string& text) {
    auto qt = PluginFor(false) != nullptr ? QtHooks() : platform::UiHooks{};
    if (qt.messageBox)
      qt.messageBox(text);
    else
      std::cerr << text << '\n';
  };
  hooks.shellOpen = [](const std::string& target) {
    if (PluginFor(true) == nullptr) return false;
    auto qt = QtHooks();
    return qt.shellOpen ? qt.shellOpen(target) : false;
  };
  hooks.openHelp = [](const std::string& file, int context) {
    if (PluginFor(true) == nullptr) return false;
    auto qt = QtHooks();
    return qt.openHelp ? qt.openHelp(file, context) : false;
  };
  return hooks;
}

}  // namespace

const UiPlugin* LoadUiPlugin(std::string& why) {
  platform::UiHooks hooks;
  const UiPlugin* plugin = nullptr;
  {
    std::lock_guard lock(g_mutex);
    if (g_tried) {
      why = g_failure;
      return g_plugin;
    }
    g_tried = true;
    plugin = Load(g_failure);
    if (plugin == nullptr) {
      why = g_failure;
      return nullptr;
    }
    hooks = plugin->install();
    g_qtHooks = hooks;
    g_plugin = plugin;
  }
  platform::SetUiHooks(std::move(hooks));
  return plugin;
}

void BindUi() {
  static std::once_flag once;
  std::call_once(once, [] {
    g_hostThread.store(std::this_thread::get_id());
    SetDeviceChooser([](const DeviceListing& listing) -> int16_t {
      std::string why;
      const UiPlugin* plugin = LoadUiPlugin(why);
      return plugin != nullptr ? plugin->selectDevice(listing) : int16_t(-1);
    });
    if (QtInProcess()) {
      std::string why;
      if (LoadUiPlugin(why) != nullptr) return;
    }
    platform::SetUiHooks(StandInHooks());
  });
}

SetupResult RunSetupDialog(DriverState& state, std::string& error) {
  std::string why;
  const UiPlugin* plugin = LoadUiPlugin(why);
  if (plugin == nullptr) return SetupResult::NoDisplay;
  plugin->setHelpFile(HelpFilePath());
  return plugin->showSetup(state, error);
}

bool RenderSetupPictures(DriverState& state, const std::string& dir,
                         std::vector<std::string>& written, std::string& error) {
  std::string why;
  const UiPlugin* plugin = LoadUiPlugin(why);
  if (plugin == nullptr) {
    error = "the setup dialog cannot be rendered: " + why;
    return false;
  }
  plugin->setHelpFile(HelpFilePath());
  return plugin->renderScreenshots(state, dir, written, error);
}

}  // namespace quillbox
