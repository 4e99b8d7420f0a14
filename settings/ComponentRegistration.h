#pragma once
// Where a component library is recorded for the host: for each of its programmatic
// identifiers, below HKEY_CURRENT_USER,
//   Software\Classes\<ProgID>                 (default) = <ProgID>
//   Software\Classes\<ProgID>\InprocServer32  (default) = absolute path of the library
// The host looks an identifier up there before it tries the library beside its executable.

#include <array>
#include <string>

namespace quillbox {

inline constexpr std::array<const char*, 4> kComponentProgIds = {
    "Quillbox.E_270", "Quillbox.ucGeneral", "Quillbox.ucADC", "Quillbox.ucDIO"};

// "Software\Classes\<ProgID>\InprocServer32", or "" for an identifier that cannot be a key
// name (empty, or holding a backslash).
std::string ComponentServerKey(const std::string& progId);

// Records libraryPath for every identifier of kComponentProgIds; false with a reason when the
// registry store cannot be written.
bool WriteComponentRegistration(const std::string& libraryPath, std::string& error);

// Removes what WriteComponentRegistration recorded; false with a reason when the registry store
// cannot be written.
bool RemoveComponentRegistration(std::string& error);

// The library recorded for progId, or "".
std::string ReadComponentRegistration(const std::string& progId);

}  // namespace quillbox
