#pragma once
// The table through which the registry functions of the platform library (platform/Registry.cpp)
// reach the SQLite store (platform/RegistryStore.cpp, built as libquillbox_registry.so and loaded
// on the first registry call). Both sides are built from this one declaration; the version
// refuses a store library of another build.

#include "platform/Registry.h"

namespace quillbox::platform {

inline constexpr uint32_t kRegistryBackendVersion = 1;

struct RegistryBackend {
  uint32_t version;
  decltype(&RegOpenKeyExA) openKey;
  decltype(&RegCreateKeyExA) createKey;
  decltype(&RegCloseKey) closeKey;
  decltype(&RegQueryValueExA) queryValue;
  decltype(&RegSetValueExA) setValue;
  decltype(&RegDeleteKeyA) deleteKey;
  decltype(&RegDeleteValueA) deleteValue;
  decltype(&RegEnumKeyExA) enumKey;
  decltype(&RegEnumValueA) enumValue;
  decltype(&RegQueryInfoKeyA) queryInfoKey;
  decltype(&RegistryPath) path;
  decltype(&RegistryProblem) problem;
  decltype(&RegistryReopen) reopen;
  void (*beginReads)();
  void (*endReads)();
};

}  // namespace quillbox::platform

// The store library's one export.
extern "C" const quillbox::platform::RegistryBackend* QuillboxRegistryBackend();
