#include "recording/Plugins.h"

#include <dlfcn.h>

#include <climits>
#include <string>

namespace quillbox::recording {
namespace {

// Every front end maps the platform library from the folder the plug-ins are in.
constexpr const char* kPlatformLibrary = "libquillbox_platform.so";

std::string PluginFolder() {
  void* platform = dlopen(kPlatformLibrary, RTLD_LAZY | RTLD_NOLOAD);
  if (platform == nullptr) return {};
  char origin[PATH_MAX] = {};
  const bool found = dlinfo(platform, RTLD_DI_ORIGIN, origin) == 0;
  dlclose(platform);
  return found ? std::string(origin) + "/" : std::string();
}

struct Loaded {
  const void* table = nullptr;
  std::string error;
};

// Loads `file` and asks its `entry` for the table; never unloaded, so nothing it made can
// outlive its code.
template <typename Table>
Loaded Load(const char* file, const char* entry, const char* what) {
  const std::string path = PluginFolder() + file;
  Loaded loaded;
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
  if (handle == nullptr) {
    const char* reason = dlerror();
    loaded.error = std::string(what) + " need the plug-in " + file +
                   ", which cannot be loaded: " + (reason != nullptr ? reason : path);
    return loaded;
  }
  using Entry = const Table* (*)();
  auto function = reinterpret_cast<Entry>(dlsym(handle, entry));
  const Table* table = function != nullptr ? function() : nullptr;
  if (table == nullptr || table->abi != kRecordingPluginAbi) {
    loaded.error = std::string(what) + " need the plug-in " + file + ", but " + path +
                   " does not belong to this build";
    return loaded;
  }
  loaded.table = table;
  return loaded;
}

template <typename Table>
const Table* Answer(const Loaded& loaded, std::string& error) {
  if (loaded.table == nullptr) error = loaded.error;
  return static_cast<const Table*>(loaded.table);
}

}  // namespace

const Hdf5Plugin* LoadHdf5Plugin(std::string& error) {
  static const Loaded loaded = Load<Hdf5Plugin>(kHdf5PluginFile, kHdf5PluginEntry, "HDF5 files");
  return Answer<Hdf5Plugin>(loaded, error);
}

const DatabasePlugin* LoadDatabasePlugin(std::string& error) {
  static const Loaded loaded =
      Load<DatabasePlugin>(kDatabasePluginFile, kDatabasePluginEntry, "PostgreSQL databases");
  return Answer<DatabasePlugin>(loaded, error);
}

}  // namespace quillbox::recording
