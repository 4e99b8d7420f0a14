#pragma once
// The registry functions the driver relies on (ANSI forms, Windows-like signatures and result
// codes), kept in one SQLite database per user: $QUILLBOX_REGISTRY, else
// $XDG_CONFIG_HOME/quillbox/registry.sqlite3, else ~/.config/quillbox/registry.sqlite3.
//
// What behaves as on the original platform:
// - key and value names compare case-insensitively (ASCII and the Windows-1252 letters; names
//   are UTF-8 text), keep the spelling they were created with, and sub-keys enumerate in name
//   order while values enumerate in creation order;
// - the empty (or null) value name is the key's unnamed default value;
// - opening a missing key fails with ERROR_FILE_NOT_FOUND and creates nothing; creating a key
//   creates its missing parents; a key that has sub-keys cannot be deleted (ERROR_ACCESS_DENIED);
// - sub-key paths may end in any number of "\"; a failed open or create sets the handle to 0;
//   opening a predefined root with an empty or null sub-key gives the root itself;
// - a value query without a buffer reports the data size (0 for a missing value), a short
//   buffer gives ERROR_MORE_DATA with the size needed and the type; data is stored exactly as
//   given (no terminator added to REG_SZ), but a string read into a buffer with room to spare
//   gets a terminator after it (the size reported stays the stored size); the type and size
//   pointers may name the same DWORD;
// - RegEnumValueA whose name or data buffer is short gives ERROR_MORE_DATA, writes neither
//   buffer, leaves the name length as given and reports the type and the data size;
// - a handle only allows what its access mask grants (KEY_QUERY_VALUE to read values and key
//   information, KEY_SET_VALUE to write or delete values, KEY_ENUMERATE_SUB_KEYS to enumerate
//   sub-keys); creating below a key needs no right on its handle; the predefined roots allow
//   everything.
// Names may not exceed 255 bytes for a key and 16383 for a value; a tree is at most 512 deep.
//
// What is deliberately left out:
// - key classes: lpClass is ignored on creation and reads back as "" (length 0);
// - last-write times: time pointers are left as they are;
// - security: descriptors are ignored (size 0); access is limited by handle masks only;
// - volatile keys: a key created volatile is kept like any other (create and open options are
//   ignored);
// - change notification, symbolic links, 32/64-bit views and the wide-character functions;
//   HKEY_PERFORMANCE_DATA and HKEY_DYN_DATA are named only (calls give ERROR_INVALID_HANDLE).
//
// Durability: WAL journal, synchronous=FULL, and every write is one BEGIN IMMEDIATE
// transaction, so several processes may share the file and a process killed during a write
// leaves either the whole write or none of it. A call waits at most 5 s for a lock another
// process holds; when that wait runs out the store is given up for the rest of the process
// (every later call fails at once with ERROR_BUSY), so a locked store costs one wait in all.
// A file that cannot be opened, is not a database or belongs to something else makes every
// call fail, and it is never rewritten; once a file is found corrupt it is not used again.
// All functions are thread-safe.
//
// The store is a library of its own (libquillbox_registry.so, beside the platform library),
// loaded by the first call; when it cannot be loaded, every call fails with
// ERROR_REGISTRY_IO_FAILED and RegistryProblem says why.

#include <cstdint>
#include <string>

namespace quillbox::platform {

using HKEY = uint32_t;  // a predefined root (0x8000000x) or a handle returned by open/create
using LONG = int32_t;
using DWORD = uint32_t;
using BYTE = uint8_t;
using BOOL = int32_t;
using REGSAM = uint32_t;

inline constexpr HKEY HKEY_CLASSES_ROOT = 0x80000000u;
inline constexpr HKEY HKEY_CURRENT_USER = 0x80000001u;
inline constexpr HKEY HKEY_LOCAL_MACHINE = 0x80000002u;
inline constexpr HKEY HKEY_USERS = 0x80000003u;
inline constexpr HKEY HKEY_PERFORMANCE_DATA = 0x80000004u;  // named, but not kept in the store
inline constexpr HKEY HKEY_CURRENT_CONFIG = 0x80000005u;
inline constexpr HKEY HKEY_DYN_DATA = 0x80000006u;  // named, but not kept in the store

inline constexpr LONG ERROR_SUCCESS = 0;
inline constexpr LONG ERROR_FILE_NOT_FOUND = 2;
inline constexpr LONG ERROR_ACCESS_DENIED = 5;
inline constexpr LONG ERROR_INVALID_HANDLE = 6;
inline constexpr LONG ERROR_OUTOFMEMORY = 14;
inline constexpr LONG ERROR_INVALID_PARAMETER = 87;
inline constexpr LONG ERROR_INSUFFICIENT_BUFFER = 122;
inline constexpr LONG ERROR_BAD_PATHNAME = 161;
inline constexpr LONG ERROR_BUSY = 170;
inline constexpr LONG ERROR_MORE_DATA = 234;
inline constexpr LONG ERROR_NO_MORE_ITEMS = 259;
inline constexpr LONG ERROR_REGISTRY_CORRUPT = 1015;
inline constexpr LONG ERROR_REGISTRY_IO_FAILED = 1016;
inline constexpr LONG ERROR_KEY_DELETED = 1018;

inline constexpr DWORD REG_NONE = 0;
inline constexpr DWORD REG_SZ = 1;
inline constexpr DWORD REG_EXPAND_SZ = 2;
inline constexpr DWORD REG_BINARY = 3;
inline constexpr DWORD REG_DWORD = 4;
inline constexpr DWORD REG_DWORD_BIG_ENDIAN = 5;
inline constexpr DWORD REG_MULTI_SZ = 7;
inline constexpr DWORD REG_QWORD = 11;

inline constexpr REGSAM KEY_QUERY_VALUE = 0x0001;
inline constexpr REGSAM KEY_SET_VALUE = 0x0002;
inline constexpr REGSAM KEY_CREATE_SUB_KEY = 0x0004;
inline constexpr REGSAM KEY_ENUMERATE_SUB_KEYS = 0x0008;
inline constexpr REGSAM KEY_NOTIFY = 0x0010;
inline constexpr REGSAM READ_CONTROL = 0x00020000;
inline constexpr REGSAM KEY_READ = 0x00020019;
inline constexpr REGSAM KEY_WRITE = 0x00020006;
inline constexpr REGSAM KEY_ALL_ACCESS = 0x000F003F;

inline constexpr DWORD REG_OPTION_NON_VOLATILE = 0;
inline constexpr DWORD REG_CREATED_NEW_KEY = 1;
inline constexpr DWORD REG_OPENED_EXISTING_KEY = 2;

LONG RegOpenKeyExA(HKEY hKey, const char* lpSubKey, DWORD ulOptions, REGSAM samDesired,
                   HKEY* phkResult);
LONG RegCreateKeyExA(HKEY hKey, const char* lpSubKey, DWORD Reserved, const char* lpClass,
                     DWORD dwOptions, REGSAM samDesired, const void* lpSecurityAttributes,
                     HKEY* phkResult, DWORD* lpdwDisposition);
LONG RegCloseKey(HKEY hKey);
LONG RegQueryValueExA(HKEY hKey, const char* lpValueName, DWORD* lpReserved, DWORD* lpType,
                      BYTE* lpData, DWORD* lpcbData);
LONG RegSetValueExA(HKEY hKey, const char* lpValueName, DWORD Reserved, DWORD dwType,
                    const BYTE* lpData, DWORD cbData);
// Deletes hKey\lpSubKey with its values; fails while it has sub-keys.
LONG RegDeleteKeyA(HKEY hKey, const char* lpSubKey);
LONG RegDeleteValueA(HKEY hKey, const char* lpValueName);
// Name lengths are in bytes without the terminator; *lpcchName passes the buffer size in and
// the name length out.
LONG RegEnumKeyExA(HKEY hKey, DWORD dwIndex, char* lpName, DWORD* lpcchName, DWORD* lpReserved,
                   char* lpClass, DWORD* lpcchClass, void* lpftLastWriteTime);
LONG RegEnumValueA(HKEY hKey, DWORD dwIndex, char* lpValueName, DWORD* lpcchValueName,
                   DWORD* lpReserved, DWORD* lpType, BYTE* lpData, DWORD* lpcbData);
LONG RegQueryInfoKeyA(HKEY hKey, char* lpClass, DWORD* lpcchClass, DWORD* lpReserved,
                      DWORD* lpcSubKeys, DWORD* lpcbMaxSubKeyLen, DWORD* lpcbMaxClassLen,
                      DWORD* lpcValues, DWORD* lpcbMaxValueNameLen, DWORD* lpcbMaxValueLen,
                      DWORD* lpcbSecurityDescriptor, void* lpftLastWriteTime);

// The login name of the current user. *pcbBuffer passes the buffer size in; on success it
// receives the length including the terminator and the result is non-zero. A short buffer
// gives 0 with *pcbBuffer set to the size needed.
BOOL GetUserNameA(char* lpBuffer, DWORD* pcbBuffer);

// The database file the registry functions use (resolved on first use).
std::string RegistryPath();
// The first trouble with the store, as "<path>: <reason>", e.g. "...: locked by another
// process"; "" while every use worked. Reasons: "corrupt", "not an SQLite store", "not our
// store", "permission denied", "read-only", "is a directory", "locked by another process",
// "disk full", or the system's own words.
std::string RegistryProblem();
// Closes the database and forgets every open handle and the problem noted; the next call opens
// the file named by QUILLBOX_REGISTRY (or the default) again. For tests and tools that switch
// stores.
void RegistryReopen();

// While one lives, the registry calls of the process read in one read transaction of the store,
// so a group of reads (a settings load) sees one state of the store and pays for one transaction
// instead of one per statement. A write ends the transaction first (every write stays one
// immediate transaction of its own); reads after it begin another. Groups nest; the outermost
// ends the transaction. Locks, waits and a store given up behave as without a group.
class RegistryReadGroup {
 public:
  RegistryReadGroup();
  ~RegistryReadGroup();
  RegistryReadGroup(const RegistryReadGroup&) = delete;
  RegistryReadGroup& operator=(const RegistryReadGroup&) = delete;
};

}  // namespace quillbox::platform
