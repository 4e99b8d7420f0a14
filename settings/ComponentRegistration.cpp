#include "settings/ComponentRegistration.h"

#include "platform/Registry.h"
#include "settings/cRegistry.h"

namespace quillbox {
namespace {

const char* const kClasses = "Software\\Classes\\";
const char* const kServer = "\\InprocServer32";

}  // namespace

std::string ComponentServerKey(const std::string& progId) {
  if (progId.empty() || progId.find('\\') != std::string::npos) return {};
  return kClasses + progId + kServer;
}

bool WriteComponentRegistration(const std::string& libraryPath, std::string& error) {
  if (libraryPath.empty() || libraryPath.front() != '/') {
    error = "the library path must be absolute";
    return false;
  }
  cRegistry registry;
  for (const char* progId : kComponentProgIds) {
    const std::string server = ComponentServerKey(progId);
    const std::string classKey = kClasses + std::string(progId);
    if (!registry.CreateKey(cRegistry::kHKeyCurrentUser, server) ||
        !registry.SetStringValue(cRegistry::kHKeyCurrentUser, classKey, "", progId) ||
        !registry.SetStringValue(cRegistry::kHKeyCurrentUser, server, "", libraryPath)) {
      error = "cannot write HKEY_CURRENT_USER\\" + server + " in the registry store " +
              platform::RegistryPath();
      return false;
    }
  }
  return true;
}

bool RemoveComponentRegistration(std::string& error) {
  cRegistry registry;
  for (const char* progId : kComponentProgIds) {
    // The server key below the class key first: a key with subkeys is not deleted.
    registry.DeleteKey(cRegistry::kHKeyCurrentUser, ComponentServerKey(progId));
    registry.DeleteKey(cRegistry::kHKeyCurrentUser, kClasses + std::string(progId));
    if (!ReadComponentRegistration(progId).empty()) {
      error = "cannot delete HKEY_CURRENT_USER\\" + ComponentServerKey(progId) +
              " in the registry store " + platform::RegistryPath();
      return false;
    }
  }
  return true;
}

std::string ReadComponentRegistration(const std::string& progId) {
  const std::string server = ComponentServerKey(progId);
  if (server.empty()) return {};
  std::string path;
  const platform::RegistryReadGroup reads;
  cRegistry().GetStringValue(cRegistry::kHKeyCurrentUser, server, "", path);
  return path;
}

}  // namespace quillbox
