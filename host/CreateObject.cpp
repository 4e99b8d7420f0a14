#include "quillbox/CreateObject.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <mutex>
#include <vector>

#include "host/Registration.h"

namespace quillbox {
namespace {

namespace fs = std::filesystem;
using CreateFn = int (*)(const char*, Object*);

constexpr const char* kComponentFile = "Quillbox.adc";

std::string ExecutableDir() {
  std::error_code ec;
  const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  return ec ? std::string() : exe.parent_path().string();
}

bool IsQuillboxId(const std::string& progId) { return progId.rfind("Quillbox.", 0) == 0; }

// Candidates in the order they are tried, with how each is found: the library registered for
// progId, beside the executable, QUILLBOX_COMPONENT, then the component installed with this host
// library (beside it: the package's private library folder, or bin/ of a build tree).
std::vector<ComponentOrigin> Origins(const std::string& progId) {
  std::vector<ComponentOrigin> result;
  if (std::string registered = RegisteredComponent(progId); !registered.empty())
    result.push_back({std::move(registered), "registered"});
  if (!IsQuillboxId(progId)) return result;
  const std::string dir = ExecutableDir();
  if (!dir.empty())
    result.push_back({(fs::path(dir) / kComponentFile).string(), "beside the program"});
  if (const char* env = std::getenv("QUILLBOX_COMPONENT"); env != nullptr && *env != '\0')
    result.push_back({env, "QUILLBOX_COMPONENT"});
  if (std::string own = OwnComponentPath(); !own.empty())
    result.push_back({std::move(own), "installed with the host library"});
  return result;
}

std::vector<std::string> Candidates(const std::string& progId) {
  std::vector<std::string> paths;
  for (ComponentOrigin& origin : Origins(progId)) paths.push_back(std::move(origin.path));
  return paths;
}

struct Loaded {
  void* handle = nullptr;
  std::string path;
};

std::mutex g_mutex;
std::map<std::string, Loaded> g_loaded;  // by path; libraries stay loaded for the process
std::map<std::string, Loaded> g_served;  // by identifier: the library that serves it

Loaded Load(const std::string& progId, std::string& why) {
  // Once loaded, a library serves its identifier for the rest of the process, as it stays
  // loaded: later calls neither read the registry nor look for files again.
  {
    std::lock_guard lock(g_mutex);
    if (auto it = g_served.find(progId); it != g_served.end()) return it->second;
  }
  for (const std::string& path : Candidates(progId)) {
    std::error_code ec;
    if (!fs::is_regular_file(path, ec)) {
      why += "\n  " + path + ": not found";
      continue;
    }
    std::lock_guard lock(g_mutex);
    if (auto it = g_loaded.find(path); it != g_loaded.end()) return g_served[progId] = it->second;
    // The component is never unloaded: objects and threads of it may live until exit.
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    if (handle == nullptr) {
      const char* err = dlerror();
      why += "\n  " + path + ": " + (err != nullptr ? err : "cannot be loaded");
      continue;
    }
    Loaded loaded{handle, path};
    g_loaded[path] = loaded;
    return g_served[progId] = loaded;
  }
  return {};
}

}  // namespace

ComponentOrigin FindComponentOrigin(const std::string& progId) {
  for (ComponentOrigin& origin : Origins(progId)) {
    std::error_code ec;
    if (fs::is_regular_file(origin.path, ec)) return std::move(origin);
  }
  return {};
}

std::string FindComponent(const std::string& progId) { return FindComponentOrigin(progId).path; }

void* ComponentSymbol(const std::string& progId, const char* symbol) {
  std::string why;
  const Loaded loaded = Load(progId, why);
  return loaded.handle != nullptr ? dlsym(loaded.handle, symbol) : nullptr;
}

Object CreateObject(const std::string& progId) {
  std::string why;
  const Loaded loaded = Load(progId, why);
  if (loaded.handle == nullptr)
    throw CreateObjectError("cannot create \"" + progId + "\": no component serves it" + why);
  auto create = reinterpret_cast<CreateFn>(dlsym(loaded.handle, "QuillboxCreateObject"));
  if (create == nullptr)
    throw CreateObjectError("cannot create \"" + progId + "\": " + loaded.path +
                            " is not a Quillbox component");
  Object object;
  switch (create(progId.c_str(), &object)) {
    case 0:
      return object;
    case 1:
      throw CreateObjectError("cannot create \"" + progId + "\": " + loaded.path +
                              " has no class of that name");
    default:
      throw CreateObjectError("cannot create \"" + progId + "\": the object failed to initialise");
  }
}

}  // namespace quillbox
