#pragma once
// The scope and plot plug-in: the Qt Charts views of the quillbox command are built into their
// own library, QuillboxView.so, which the command loads only for `scope` and `plot`, so that the
// other commands never map Qt. Its only export is the C function QuillboxViewPlugin, which
// returns the table below. The plug-in is built from the same tree as the command, so the table
// may pass C++ types; the ABI number guards against a stale file.
//
// The scope takes a module the command has opened and records from it through the recording
// engine, as `quillbox record` does; it uses nothing of the driver's insides. This header is the
// one both sides include, so neither includes the other's folder.

#include <dlfcn.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "quillbox/IADC3.h"
#include "quillbox/Tools.h"

namespace quillbox::view {

struct ScopeOptions {
  std::vector<int16_t> channels;  // the scan list; empty: the driver's
  std::optional<double> rate;     // Hz; empty: the stored rate
  double windowSeconds = 10;      // the time the traces span
  std::string output;             // the file the Record button writes
  bool recordAtStart = false;
  bool force = false;           // Record may replace an existing file
  std::string screenshot;       // render offscreen into this PNG and exit
  double after = 2;             // ... after this much scaled time
  bool lanes = false;           // each analog channel in a panel of its own
  std::string trigger;          // CH:rising|falling:LEVEL[:normal|auto]; empty: free running
  std::vector<double> cursors;  // two times (s) to place the cursors at; empty: none
  // Receives each message for the user as it happens (the command prints it on stderr).
  std::function<void(const std::string&)> say;
};

// The least width of a plot.
inline constexpr int kPlotMinWidthPx = 400;

struct PlotOptions {
  std::string csv{}, png{};  // the picture's kind by its name: .png, .svg or .pdf
  std::string channels{};    // names or channel numbers, comma-separated; empty: all
  int width = 1400;
  int height = 0;                      // 0: by the panels
  std::optional<double> from{}, to{};  // seconds of the recording's time
  bool lanes = false;
};

// Bumped whenever the table changes.
inline constexpr uint32_t kViewPluginAbi = 3;

struct ViewPlugin {
  uint32_t abi;
  // Records from the opened module and shows the scope until its window closes (or renders it,
  // with a screenshot). Returns the command's exit status.
  int (*scope)(IADC3& adc, ITools& tools, const ScopeOptions& options);
  // Draws a recording into a PNG. Returns the exit status; `messages` say what was left out.
  int (*plot)(const PlotOptions& options, std::vector<std::string>& messages);
};

inline constexpr const char* kViewPluginFile = "QuillboxView.so";
inline constexpr const char* kViewPluginEntry = "QuillboxViewPlugin";
using ViewPluginEntry = const ViewPlugin* (*)();

// Loads the plug-in from the executable's folder, else from `privateDir` relative to it (the
// installed layout); null with `why` when it is missing or does not belong to this build.
inline const ViewPlugin* LoadViewPlugin(const std::string& privateDir, std::string& why) {
  namespace fs = std::filesystem;
  std::error_code ec;
  const fs::path self = fs::read_symlink("/proc/self/exe", ec);
  const fs::path folder = self.parent_path();
  fs::path path = folder / kViewPluginFile;
  if (!fs::is_regular_file(path, ec) && !privateDir.empty())
    path = (folder / privateDir / kViewPluginFile).lexically_normal();
  if (!fs::is_regular_file(path, ec)) {
    why = std::string("the scope and plot plug-in ") + kViewPluginFile + " is missing beside " +
          self.string();
    return nullptr;
  }
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
  if (handle == nullptr) {
    const char* err = dlerror();
    why = "the scope and plot plug-in cannot be loaded: " +
          std::string(err != nullptr ? err : path.string());
    return nullptr;
  }
  auto entry = reinterpret_cast<ViewPluginEntry>(dlsym(handle, kViewPluginEntry));
  const ViewPlugin* plugin = entry != nullptr ? entry() : nullptr;
  if (plugin == nullptr || plugin->abi != kViewPluginAbi) {
    why = "the scope and plot plug-in " + path.string() + " does not belong to this command";
    return nullptr;
  }
  return plugin;
}

}  // namespace quillbox::view
