// The registry functions as the platform library exports them. The store behind them (SQLite,
// platform/RegistryStore.cpp) is a library of its own, libquillbox_registry.so beside this one,
// loaded on the first call: a process that never uses the registry (`quillbox --help`) never
// maps SQLite, and every binary still shares the one store of the process through this library.

#include "platform/Registry.h"

#include <dlfcn.h>
#include <pwd.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "platform/RegistryBackend.h"

namespace quillbox::platform {
namespace {

constexpr const char* kStoreLibrary = "libquillbox_registry.so";

// The loaded store library's table, or why there is none.
struct StoreLibrary {
  const RegistryBackend* table = nullptr;
  std::string problem;
};

// The folder this library was loaded from, where the store library is installed beside it (bin/
// of a build tree, the package's private folder); "" when it cannot be told.
std::string OwnFolder() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<const void*>(&RegistryPath), &info) == 0 || info.dli_fname == nullptr)
    return {};
  const std::string path = info.dli_fname;
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

StoreLibrary LoadStoreLibrary() {
  StoreLibrary library;
  const std::string folder = OwnFolder();
  if (folder.empty()) {
    library.problem = std::string(kStoreLibrary) + ": the platform library's folder is unknown";
    return library;
  }
  const std::string path = folder + "/" + kStoreLibrary;
  // Kept for the process: the store's connection and its fork handlers live in it.
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
  if (handle == nullptr) {
    const char* error = dlerror();
    library.problem = error != nullptr ? error : path + ": cannot be loaded";
    return library;
  }
  const auto get =
      reinterpret_cast<const RegistryBackend* (*)()>(dlsym(handle, "QuillboxRegistryBackend"));
  const RegistryBackend* table = get != nullptr ? get() : nullptr;
  if (table == nullptr || table->version != kRegistryBackendVersion) {
    library.problem = path + ": not the registry store of this build";
    return library;
  }
  library.table = table;
  return library;
}

std::once_flag g_loadOnce;
std::atomic<const StoreLibrary*> g_library{nullptr};  // set once the first call loaded it

const StoreLibrary& Library() {
  std::call_once(g_loadOnce, [] { g_library = new StoreLibrary(LoadStoreLibrary()); });
  return *g_library.load();
}

// Calls the store's function, or fails as a store that cannot be opened when there is none.
template <class Fn, class... Args>
LONG Forward(Fn RegistryBackend::*function, Args... args) {
  const RegistryBackend* table = Library().table;
  return table != nullptr ? (table->*function)(args...) : ERROR_REGISTRY_IO_FAILED;
}

}  // namespace

LONG RegOpenKeyExA(HKEY hKey, const char* lpSubKey, DWORD ulOptions, REGSAM samDesired,
                   HKEY* phkResult) {
  if (phkResult != nullptr) *phkResult = 0;
  return Forward(&RegistryBackend::openKey, hKey, lpSubKey, ulOptions, samDesired, phkResult);
}

LONG RegCreateKeyExA(HKEY hKey, const char* lpSubKey, DWORD Reserved, const char* lpClass,
                     DWORD dwOptions, REGSAM samDesired, const void* lpSecurityAttributes,
                     HKEY* phkResult, DWORD* lpdwDisposition) {
  if (phkResult != nullptr) *phkResult = 0;
  return Forward(&RegistryBackend::createKey, hKey, lpSubKey, Reserved, lpClass, dwOptions,
                 samDesired, lpSecurityAttributes, phkResult, lpdwDisposition);
}

LONG RegCloseKey(HKEY hKey) { return Forward(&RegistryBackend::closeKey, hKey); }

LONG RegQueryValueExA(HKEY hKey, const char* lpValueName, DWORD* lpReserved, DWORD* lpType,
                      BYTE* lpData, DWORD* lpcbData) {
  return Forward(&RegistryBackend::queryValue, hKey, lpValueName, lpReserved, lpType, lpData,
                 lpcbData);
}

LONG RegSetValueExA(HKEY hKey, const char* lpValueName, DWORD Reserved, DWORD dwType,
                    const BYTE* lpData, DWORD cbData) {
  return Forward(&RegistryBackend::setValue, hKey, lpValueName, Reserved, dwType, lpData, cbData);
}

LONG RegDeleteKeyA(HKEY hKey, const char* lpSubKey) {
  return Forward(&RegistryBackend::deleteKey, hKey, lpSubKey);
}

LONG RegDeleteValueA(HKEY hKey, const char* lpValueName) {
  return Forward(&RegistryBackend::deleteValue, hKey, lpValueName);
}

LONG RegEnumKeyExA(HKEY hKey, DWORD dwIndex, char* lpName, DWORD* lpcchName, DWORD* lpReserved,
                   char* lpClass, DWORD* lpcchClass, void* lpftLastWriteTime) {
  return Forward(&RegistryBackend::enumKey, hKey, dwIndex, lpName, lpcchName, lpReserved, lpClass,
                 lpcchClass, lpftLastWriteTime);
}

LONG RegEnumValueA(HKEY hKey, DWORD dwIndex, char* lpValueName, DWORD* lpcchValueName,
                   DWORD* lpReserved, DWORD* lpType, BYTE* lpData, DWORD* lpcbData) {
  return Forward(&RegistryBackend::enumValue, hKey, dwIndex, lpValueName, lpcchValueName,
                 lpReserved, lpType, lpData, lpcbData);
}

LONG RegQueryInfoKeyA(HKEY hKey, char* lpClass, DWORD* lpcchClass, DWORD* lpReserved,
                      DWORD* lpcSubKeys, DWORD* lpcbMaxSubKeyLen, DWORD* lpcbMaxClassLen,
                      DWORD* lpcValues, DWORD* lpcbMaxValueNameLen, DWORD* lpcbMaxValueLen,
                      DWORD* lpcbSecurityDescriptor, void* lpftLastWriteTime) {
  return Forward(&RegistryBackend::queryInfoKey, hKey, lpClass, lpcchClass, lpReserved, lpcSubKeys,
                 lpcbMaxSubKeyLen, lpcbMaxClassLen, lpcValues, lpcbMaxValueNameLen, lpcbMaxValueLen,
                 lpcbSecurityDescriptor, lpftLastWriteTime);
}

BOOL GetUserNameA(char* lpBuffer, DWORD* pcbBuffer) {
  if (pcbBuffer == nullptr) return 0;
  std::string name;
  passwd pw{};
  passwd* found = nullptr;
  std::vector<char> buffer(16384);
  if (getpwuid_r(geteuid(), &pw, buffer.data(), buffer.size(), &found) == 0 && found != nullptr &&
      found->pw_name != nullptr)
    name = found->pw_name;
  if (name.empty()) {
    for (const char* var : {"USER", "LOGNAME"}) {
      if (const char* v = std::getenv(var); v != nullptr && *v != '\0') {
        name = v;
        break;
      }
    }
  }
  if (name.empty()) return 0;
  const auto needed = static_cast<DWORD>(name.size() + 1);
  if (lpBuffer == nullptr || *pcbBuffer < needed) {
    *pcbBuffer = needed;
    return 0;
  }
  std::memcpy(lpBuffer, name.c_str(), needed);
  *pcbBuffer = needed;
  return 1;
}

std::string RegistryPath() {
  const RegistryBackend* table = Library().table;
  return table != nullptr ? table->path() : std::string();
}

std::string RegistryProblem() {
  // Before the first registry call nothing can have gone wrong: the store is not loaded for it.
  const StoreLibrary* library = g_library.load();
  if (library == nullptr) return {};
  return library->table != nullptr ? library->table->problem() : library->problem;
}

void RegistryReopen() {
  if (const StoreLibrary* library = g_library.load(); library != nullptr && library->table)
    library->table->reopen();
}

RegistryReadGroup::RegistryReadGroup() {
  if (const RegistryBackend* table = Library().table) table->beginReads();
}

RegistryReadGroup::~RegistryReadGroup() {
  if (const RegistryBackend* table = Library().table) table->endReads();
}

}  // namespace quillbox::platform
