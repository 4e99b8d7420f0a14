#include "host/Registration.h"

#include <dlfcn.h>

#include <filesystem>
#include <fstream>

#include "quillbox/Tools.h"
#include "settings/ComponentRegistration.h"

namespace quillbox {
namespace {

namespace fs = std::filesystem;

bool IsElf(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  char magic[4] = {};
  in.read(magic, 4);
  return in.gcount() == 4 && magic[0] == 0x7F && magic[1] == 'E' && magic[2] == 'L' &&
         magic[3] == 'F';
}

}  // namespace

std::string DefaultComponentPath() {
  std::error_code ec;
  const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  if (!ec && fs::is_regular_file(exe.parent_path() / "Quillbox.adc", ec))
    return (exe.parent_path() / "Quillbox.adc").string();
  std::string own = OwnComponentPath();
  return own.empty() ? std::string("Quillbox.adc") : own;
}

std::string OwnComponentPath() {
  // The address of this function lies in the host library (or in the program it is linked
  // into), so dladdr names the file it was loaded from, wherever the tree was unpacked.
  Dl_info self{};
  if (dladdr(reinterpret_cast<void*>(&OwnComponentPath), &self) == 0 || self.dli_fname == nullptr)
    return {};
  std::error_code ec;
  const fs::path library = fs::canonical(self.dli_fname, ec);
  return ec ? std::string() : (library.parent_path() / "Quillbox.adc").string();
}

bool RegisterComponent(const std::string& libraryPath, std::string& error,
                       std::vector<std::string>* progIds) {
  const std::string what = "cannot register " + libraryPath + ": ";
  std::error_code ec;
  const fs::path path = fs::canonical(libraryPath, ec);
  if (ec) {
    error = what + "no such file";
    return false;
  }
  if (!fs::is_regular_file(path, ec)) {
    error = what + "not a file";
    return false;
  }
  if (!IsElf(path)) {
    error = what + "not a shared library";
    return false;
  }
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* why = dlerror();
    error = what + "not loadable (" + (why != nullptr ? why : "unknown reason") + ")";
    return false;
  }
  auto tools = reinterpret_cast<ITools* (*)()>(dlsym(handle, "QuillboxTools"));
  if (tools == nullptr || dlsym(handle, "QuillboxCreateObject") == nullptr) {
    dlclose(handle);
    error = what + "not a Quillbox component (it does not export QuillboxCreateObject and " +
            "QuillboxTools)";
    return false;
  }
  // A component stays loaded: its objects and threads may live until exit.
  std::string why;
  if (!tools()->Register(path.string(), why)) {
    error = what + why;
    return false;
  }
  if (progIds != nullptr) progIds->assign(kComponentProgIds.begin(), kComponentProgIds.end());
  return true;
}

bool UnregisterComponent(std::string& error,
                         std::vector<std::pair<std::string, std::string>>* removed) {
  std::vector<std::pair<std::string, std::string>> registered;
  for (const char* id : kComponentProgIds)
    if (std::string path = RegisteredComponent(id); !path.empty())
      registered.emplace_back(id, path);
  if (!RemoveComponentRegistration(error)) {
    error = "cannot remove the registration: " + error;
    return false;
  }
  if (removed != nullptr) *removed = std::move(registered);
  return true;
}

std::string RegisteredComponent(const std::string& progId) {
  return ReadComponentRegistration(progId);
}

}  // namespace quillbox
