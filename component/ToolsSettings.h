#pragma once
// The registry side of the tools interface: export text of a key and self-registration.

#include <string>

namespace quillbox {

// Registry-export text of HKEY_CURRENT_USER\<path> ("" = the driver's settings key;
// "HKEY_CURRENT_USER" or "HKCU" = the root itself; a leading "HKEY_CURRENT_USER\" or "HKCU\"
// is accepted), with its sub-keys when recursive. Empty text when the key does not exist.
std::string ToolsExportKey(const std::string& path, bool recursive);

// The settings store's trouble for ITools::StoreProblem: "<path>: <reason>", followed by
// "; the settings were not saved" when the last save failed; "" when all went well.
std::string ToolsStoreProblem();

// Records libraryPath as the library of the component's identifiers.
bool ToolsRegister(const std::string& libraryPath, std::string& error);

}  // namespace quillbox
