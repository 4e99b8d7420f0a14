#include "component/ToolsSettings.h"

#include <algorithm>
#include <cctype>

#include "driver/DriverState.h"
#include "driver/E_270.h"
#include "platform/Registry.h"
#include "settings/ComponentRegistration.h"
#include "settings/SettingsStore.h"
#include "settings/cRegistry.h"

namespace quillbox {
namespace {

bool StartsWithNoCase(const std::string& text, const std::string& prefix) {
  return text.size() >= prefix.size() &&
         std::equal(prefix.begin(), prefix.end(), text.begin(), [](char a, char b) {
           return std::toupper(static_cast<unsigned char>(a)) ==
                  std::toupper(static_cast<unsigned char>(b));
         });
}

// The settings key of the driver, also before any driver object was created.
std::string DriverSettingsKey() {
  if (!State().SettingsKey.empty()) return State().SettingsKey;
  std::string name = E_270::kClassName;
  std::replace(name.begin(), name.end(), '_', '-');
  return SettingsKeyFor(name);
}

}  // namespace

std::string ToolsExportKey(const std::string& path, bool recursive) {
  std::string subKey = path;
  if (subKey.empty()) {
    subKey = DriverSettingsKey();
  } else {
    for (const char* root : {"HKEY_CURRENT_USER", "HKCU"}) {
      const std::string prefix = std::string(root);
      if (subKey.size() == prefix.size() && StartsWithNoCase(subKey, prefix)) {
        subKey.clear();
        break;
      }
      if (StartsWithNoCase(subKey, prefix + "\\")) {
        subKey.erase(0, prefix.size() + 1);
        break;
      }
    }
  }
  cRegistry registry;
  return registry.ExportKey(cRegistry::kHKeyCurrentUser, subKey, recursive);
}

std::string ToolsStoreProblem() {
  std::string problem = platform::RegistryProblem();
  if (LastSaveFailed()) {
    if (problem.empty())
      problem = platform::RegistryPath() + ": the settings key could not be written";
    problem += "; the settings were not saved";
  }
  return problem;
}

bool ToolsRegister(const std::string& libraryPath, std::string& error) {
  return WriteComponentRegistration(libraryPath, error);
}

}  // namespace quillbox
