#include <gtest/gtest.h>
#include <pwd.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "RegistryTestSupport.h"
#include "platform/Registry.h"

namespace quillbox::platform {
namespace {

using quillbox::testing::RegistryTest;
namespace fs = std::filesystem;

HKEY Create(HKEY root, const char* path) {
  HKEY h = 0;
  EXPECT_EQ(RegCreateKeyExA(root, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &h, nullptr),
            ERROR_SUCCESS)
      << path;
  return h;
}

LONG SetText(HKEY key, const char* name, const std::string& text, DWORD type = REG_SZ) {
  return RegSetValueExA(key, name, 0, type, reinterpret_cast<const BYTE*>(text.data()),
                        static_cast<DWORD>(text.size()));
}

// The names of the subkeys (values == false) or values of a key, in enumeration order.
std::vector<std::string> Names(HKEY key, bool values = false) {
  std::vector<std::string> names;
  for (DWORD i = 0;; ++i) {
    char name[256];
    DWORD cch = sizeof name;
    const LONG r = values ? RegEnumValueA(key, i, name, &cch, nullptr, nullptr, nullptr, nullptr)
                          : RegEnumKeyExA(key, i, name, &cch, nullptr, nullptr, nullptr, nullptr);
    if (r != ERROR_SUCCESS) {
      EXPECT_EQ(r, ERROR_NO_MORE_ITEMS);
      return names;
    }
    names.emplace_back(name, cch);
  }
}

TEST_F(RegistryTest, NamesCompareWithoutCaseAndKeepTheirSpelling) {
  HKEY key = Create(HKEY_CURRENT_USER, "Software\\\xC3\x89\x63ole \xC5\xA0koda");  // "École Škoda"
  RegCloseKey(key);
  HKEY same = 0;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "SOFTWARE\\\xC3\xA9\x43OLE \xC5\xA1KODA", 0,
                          KEY_ALL_ACCESS, &same),
            ERROR_SUCCESS);
  HKEY software = 0;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "software", 0, KEY_READ, &software), ERROR_SUCCESS);
  EXPECT_EQ(Names(software), std::vector<std::string>{"\xC3\x89\x63ole \xC5\xA0koda"});
  RegCloseKey(software);

  ASSERT_EQ(SetText(same, "Rate\xC3\xBF", "1"), ERROR_SUCCESS);  // "Rateÿ"
  ASSERT_EQ(SetText(same, "RATE\xC5\xB8", "2"), ERROR_SUCCESS);  // "RATEŸ" names the same value
  EXPECT_EQ(Names(same, true), std::vector<std::string>{"Rate\xC3\xBF"});
  char data[8] = {};
  DWORD cb = sizeof data;
  ASSERT_EQ(
      RegQueryValueExA(same, "rate\xC3\xBF", nullptr, nullptr, reinterpret_cast<BYTE*>(data), &cb),
      ERROR_SUCCESS);
  EXPECT_EQ(std::string(data, cb), "2");
  // Letters outside the case pairs are not folded: "×" is not "÷", 0x20 apart as the pairs are.
  ASSERT_EQ(SetText(same, "\xC3\x97", "x"), ERROR_SUCCESS);
  EXPECT_EQ(RegQueryValueExA(same, "\xC3\xB7", nullptr, nullptr, nullptr, &cb),
            ERROR_FILE_NOT_FOUND);
  RegCloseKey(same);
}

TEST_F(RegistryTest, SubKeysEnumerateInNameOrderValuesInCreationOrder) {
  HKEY key = Create(HKEY_CURRENT_USER, "Order");
  for (const char* name : {"b", "_x", "C", "a10", "a2", "\xC3\xA9t\xC3\xA9"}) {
    HKEY child = Create(key, name);
    RegCloseKey(child);
  }
  // Names compare in upper case, as on the original platform: "_" sorts after the letters.
  EXPECT_EQ(Names(key),
            (std::vector<std::string>{"a10", "a2", "b", "C", "_x", "\xC3\xA9t\xC3\xA9"}));
  for (const char* name : {"zeta", "Alpha", "", "mid"}) ASSERT_EQ(SetText(key, name, "v"), 0);
  // Overwriting keeps the place; deleting and writing again moves the value to the end.
  ASSERT_EQ(SetText(key, "ALPHA", "w"), ERROR_SUCCESS);
  ASSERT_EQ(RegDeleteValueA(key, "zeta"), ERROR_SUCCESS);
  ASSERT_EQ(SetText(key, "zeta", "v"), ERROR_SUCCESS);
  EXPECT_EQ(Names(key, true), (std::vector<std::string>{"Alpha", "", "mid", "zeta"}));
  char name[8];
  DWORD cch = 3;  // "a10" needs 4 bytes with its terminator
  EXPECT_EQ(RegEnumKeyExA(key, 0, name, &cch, nullptr, nullptr, nullptr, nullptr), ERROR_MORE_DATA);
  RegCloseKey(key);
}

TEST_F(RegistryTest, HandlesOnlyAllowWhatTheirMaskGrants) {
  RegCloseKey(Create(HKEY_CURRENT_USER, "Masks\\Child"));
  struct Case {
    REGSAM mask;
    LONG set, query, enumKeys;
  };
  constexpr LONG ok = ERROR_SUCCESS, no = ERROR_ACCESS_DENIED;
  for (const Case& c : {Case{KEY_QUERY_VALUE, no, ok, no}, Case{KEY_SET_VALUE, ok, no, no},
                        Case{KEY_READ, no, ok, ok}, Case{KEY_ALL_ACCESS, ok, ok, ok}}) {
    SCOPED_TRACE(c.mask);
    HKEY h = 0;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Masks", 0, c.mask, &h), ERROR_SUCCESS);
    EXPECT_EQ(SetText(h, "x", "1"), c.set);
    EXPECT_EQ(RegDeleteValueA(h, "x"), c.set == ok ? ok : no);
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExA(h, "y", nullptr, nullptr, nullptr, &size),
              c.query == ok ? ERROR_FILE_NOT_FOUND : no);
    char name[16];
    DWORD cch = sizeof name;
    EXPECT_EQ(RegEnumKeyExA(h, 0, name, &cch, nullptr, nullptr, nullptr, nullptr), c.enumKeys);
    EXPECT_EQ(RegCloseKey(h), ERROR_SUCCESS);
  }
}

// What the two read functions write back: sizes, type, name length and the bytes of the buffers.
TEST_F(RegistryTest, ReadsReportSizesAndTerminateStrings) {
  HKEY key = Create(HKEY_CURRENT_USER, "Reads");
  const char* const names[] = {"Text", "Term", "Bin", "Missing"};  // the last is not stored
  // "Text" is stored without terminator, as cRegistry stores strings; "Term" with one.
  ASSERT_EQ(SetText(key, names[0], "foobar"), ERROR_SUCCESS);
  ASSERT_EQ(SetText(key, names[1], std::string("foobar\0", 7)), ERROR_SUCCESS);
  ASSERT_EQ(SetText(key, names[2], "abcd", REG_BINARY), ERROR_SUCCESS);
  constexpr LONG ok = ERROR_SUCCESS, more = ERROR_MORE_DATA;
  constexpr DWORD kUntouched = 99;
  const struct {
    bool enumerate;
    DWORD index, nameRoom;
    bool typeIsSize;  // lpType and lpcbData point at one DWORD
    int dataRoom;     // -1: no data buffer
    LONG result;
    DWORD nameLength, type, size;
    std::string data;  // the whole data buffer afterwards, '#' where nothing was written
  } cases[] = {
      {false, 0, 0, false, 10, ok, 0, REG_SZ, 6, std::string("foobar\0###", 10)},
      {false, 0, 0, false, 6, ok, 0, REG_SZ, 6, "foobar"},
      {false, 0, 0, false, 2, more, 0, REG_SZ, 6, "##"},
      {false, 0, 0, false, -1, ok, 0, REG_SZ, 6, ""},
      {false, 1, 0, false, 9, ok, 0, REG_SZ, 7, std::string("foobar\0##", 9)},
      {false, 2, 0, false, 6, ok, 0, REG_BINARY, 4, "abcd##"},
      {false, 3, 0, false, -1, ERROR_FILE_NOT_FOUND, 0, kUntouched, 0, ""},
      {false, 2, 0, true, 4, ok, 0, 4, 4, "abcd"},  // the shared DWORD ends as the size
      {true, 0, 20, false, 2, more, 20, REG_SZ, 6, "##"},
      {true, 0, 20, false, 10, ok, 4, REG_SZ, 6, std::string("foobar\0###", 10)},
      {true, 1, 4, false, 16, more, 4, REG_SZ, 7, std::string(16, '#')},
      {true, 1, 2, false, 2, more, 2, REG_SZ, 7, "##"},
      {true, 2, 20, true, 4, ok, 3, 4, 4, "abcd"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.enumerate ? "enum " : "query ") + names[c.index] + " room " +
                 std::to_string(c.dataRoom));
    char name[32];
    std::memset(name, '#', sizeof name);
    DWORD nameLength = c.nameRoom;
    std::string data(static_cast<std::size_t>(std::max(c.dataRoom, 0)) + 1, '#');  // + a guard
    BYTE* buffer = c.dataRoom < 0 ? nullptr : reinterpret_cast<BYTE*>(data.data());
    DWORD type = kUntouched;
    DWORD size = c.dataRoom < 0 ? kUntouched : static_cast<DWORD>(c.dataRoom);
    DWORD* typeOut = c.typeIsSize ? &size : &type;
    const LONG r =
        c.enumerate
            ? RegEnumValueA(key, c.index, name, &nameLength, nullptr, typeOut, buffer, &size)
            : RegQueryValueExA(key, names[c.index], nullptr, typeOut, buffer, &size);
    EXPECT_EQ(r, c.result);
    EXPECT_EQ(*typeOut, c.type);
    EXPECT_EQ(size, c.size);
    EXPECT_EQ(data, c.data + '#');
    if (!c.enumerate) continue;
    EXPECT_EQ(nameLength, c.nameLength);
    const std::string expected = r == ok ? std::string(names[c.index]) + '\0' : "";
    EXPECT_EQ(std::string(name, sizeof name),
              expected + std::string(sizeof name - expected.size(), '#'));
  }
  char cls[8];
  EXPECT_EQ(RegQueryInfoKeyA(key, cls, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                             nullptr, nullptr, nullptr, nullptr),
            ERROR_INVALID_PARAMETER);
  RegCloseKey(key);
}

// The sub-key paths open and create take, and the handle they leave in the caller's variable.
TEST_F(RegistryTest, OpenAndCreatePathsAndHandles) {
  RegCloseKey(Create(HKEY_CURRENT_USER, "Software\\Repro"));
  HKEY readOnly = 0;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Repro", 0, KEY_READ, &readOnly), 0);
  enum Handle { kZero, kBase, kNew };
  const struct {
    bool create;
    HKEY base;
    const char* path;
    LONG result;
    Handle handle;
  } cases[] = {
      {false, HKEY_CURRENT_USER, "Software\\Repro\\\\", ERROR_SUCCESS, kNew},
      {true, HKEY_CURRENT_USER, "Software\\Repro\\\\", ERROR_SUCCESS, kNew},
      {false, HKEY_CURRENT_USER, "", ERROR_SUCCESS, kBase},
      {false, HKEY_CURRENT_USER, nullptr, ERROR_SUCCESS, kBase},
      {false, readOnly, "", ERROR_SUCCESS, kNew},            // only a root is handed back as itself
      {true, readOnly, "Child\\Leaf", ERROR_SUCCESS, kNew},  // whatever the parent's mask
      {false, readOnly, "CHILD\\leaf", ERROR_SUCCESS, kNew},  // made by the row above
      {false, HKEY_CURRENT_USER, "Software\\Missing", ERROR_FILE_NOT_FOUND, kZero},
      {false, HKEY_CURRENT_USER, "\\Software", ERROR_BAD_PATHNAME, kZero},
      {true, HKEY_CURRENT_USER, "Software\\\\Repro", ERROR_BAD_PATHNAME, kZero},
      {true, 0x7000, "Software", ERROR_INVALID_HANDLE, kZero},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.create ? "create " : "open ") + (c.path ? c.path : "(null)"));
    HKEY h = 0xBAD0;  // a stale value the call must replace
    const LONG r =
        c.create ? RegCreateKeyExA(c.base, c.path, 0, nullptr, 0, KEY_READ, nullptr, &h, nullptr)
                 : RegOpenKeyExA(c.base, c.path, 0, KEY_READ, &h);
    EXPECT_EQ(r, c.result);
    if (c.handle == kNew) {
      EXPECT_NE(h, c.base);
      EXPECT_EQ(RegCloseKey(h), ERROR_SUCCESS);  // fails unless h is a handle of its own
    } else {
      EXPECT_EQ(h, c.handle == kZero ? 0 : c.base);
    }
  }
  RegCloseKey(readOnly);
}

// Reads in a group see the store as one state: a write by another process (here another
// connection) shows after the outermost group ends, or after a write of the group's own, which
// ends its transaction and must not fail for the snapshot it held.
TEST_F(RegistryTest, AReadGroupReadsOneStateOfTheStore) {
  const HKEY key = Create(HKEY_CURRENT_USER, "Group");
  ASSERT_EQ(SetText(key, "v", "1"), ERROR_SUCCESS);
  const auto read = [&] {
    char text[8] = {};
    DWORD cb = sizeof text - 1;
    EXPECT_EQ(RegQueryValueExA(key, "v", nullptr, nullptr, reinterpret_cast<BYTE*>(text), &cb),
              ERROR_SUCCESS);
    return std::string(text);
  };
  sqlite3* other = nullptr;
  ASSERT_EQ(sqlite3_open(registry_.path().c_str(), &other), SQLITE_OK);
  const auto writeElsewhere = [&](const char* text) {
    const std::string sql =
        std::string("UPDATE vals SET data = CAST('") + text + "' AS BLOB) WHERE fold = 'V'";
    ASSERT_EQ(sqlite3_exec(other, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
  };
  {
    const RegistryReadGroup outer;
    EXPECT_EQ(read(), "1");
    writeElsewhere("2");
    {
      const RegistryReadGroup inner;
      EXPECT_EQ(read(), "1");
    }
    EXPECT_EQ(read(), "1");
    EXPECT_EQ(SetText(key, "w", "x"), ERROR_SUCCESS);
    EXPECT_EQ(read(), "2");
    writeElsewhere("3");
    EXPECT_EQ(read(), "2");
  }
  EXPECT_EQ(read(), "3");
  sqlite3_close(other);
  RegCloseKey(key);
}

TEST_F(RegistryTest, ATruncatedStoreFailsWithoutCrashing) {
  HKEY key = Create(HKEY_CURRENT_USER, "Big");
  const std::string blob(20000, 'b');
  for (int i = 0; i < 20; ++i)
    ASSERT_EQ(SetText(key, ("v" + std::to_string(i)).c_str(), blob, REG_BINARY), ERROR_SUCCESS);
  RegCloseKey(key);
  RegistryReopen();
  // Fold the journal into the file, then cut the file in the middle of its pages.
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(registry_.path().c_str(), &db), SQLITE_OK);
  sqlite3_exec(db, "PRAGMA wal_checkpoint(TRUNCATE)", nullptr, nullptr, nullptr);
  sqlite3_close(db);
  ASSERT_EQ(truncate(registry_.path().c_str(), 5 * 4096 + 100), 0);
  RegistryReopen();
  LONG worst = ERROR_REGISTRY_CORRUPT;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, "Big", 0, KEY_READ, &key) == ERROR_SUCCESS) {
    worst = ERROR_SUCCESS;
    for (DWORD i = 0; i < 20; ++i) {
      std::vector<BYTE> data(20000);
      DWORD cb = static_cast<DWORD>(data.size());
      char name[8];
      DWORD cch = sizeof name;
      const LONG r = RegEnumValueA(key, i, name, &cch, nullptr, nullptr, data.data(), &cb);
      if (r != ERROR_SUCCESS) worst = r;
    }
    RegCloseKey(key);
  }
  EXPECT_NE(worst, ERROR_SUCCESS);
  EXPECT_EQ(RegistryProblem(), registry_.path() + ": corrupt");
}

TEST_F(RegistryTest, ThreadsShareTheStoreSafely) {
  std::vector<std::thread> threads;
  threads.reserve(4);
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t] {
      for (int i = 0; i < 25; ++i) {
        const std::string path = "Threads\\T" + std::to_string(t) + "\\K" + std::to_string(i);
        HKEY key = Create(HKEY_CURRENT_USER, path.c_str());
        EXPECT_EQ(SetText(key, "v", path), ERROR_SUCCESS);
        EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
      }
    });
  }
  for (auto& th : threads) th.join();
  HKEY key = 0;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Threads\\T3", 0, KEY_READ, &key), 0);
  EXPECT_EQ(Names(key).size(), 25u);
  RegCloseKey(key);
}

// Where the store lives when QUILLBOX_REGISTRY does not name it: $XDG_CONFIG_HOME (absolute
// only), else $HOME/.config, else the account's home folder; folders 0700, file 0600.
TEST_F(RegistryTest, StoreLocation) {
  const std::string home = registry_.dir() + "/home";
  const passwd* pw = getpwuid(geteuid());
  ASSERT_NE(pw, nullptr);
  const std::string account = std::string(pw->pw_dir) + "/.config/quillbox/registry.sqlite3";
  const struct {
    const char *xdg, *home;
    std::string expected;
  } cases[] = {
      {"/x", nullptr, "/x/quillbox/registry.sqlite3"},
      {"relative", nullptr, account},
      {nullptr, "/h", "/h/.config/quillbox/registry.sqlite3"},
      {nullptr, nullptr, account},
      {nullptr, home.c_str(), home + "/.config/quillbox/registry.sqlite3"},  // written: last
  };
  const char* const names[] = {"XDG_CONFIG_HOME", "HOME"};
  std::optional<std::string> saved[2];  // QUILLBOX_REGISTRY is put back by registry_
  for (int i = 0; i < 2; ++i)
    if (const char* v = std::getenv(names[i])) saved[i] = v;
  unsetenv("QUILLBOX_REGISTRY");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.expected);
    const char* values[] = {c.xdg, c.home};
    for (int i = 0; i < 2; ++i)
      values[i] != nullptr ? setenv(names[i], values[i], 1) : unsetenv(names[i]);
    RegistryReopen();
    EXPECT_EQ(RegistryPath(), c.expected);
  }
  fs::create_directory(home);
  RegCloseKey(Create(HKEY_CURRENT_USER, "Probe"));
  struct stat st {};
  ASSERT_EQ(stat(cases[4].expected.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  ASSERT_EQ(stat((home + "/.config").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  for (int i = 0; i < 2; ++i)
    saved[i] ? setenv(names[i], saved[i]->c_str(), 1) : unsetenv(names[i]);
}

}  // namespace
}  // namespace quillbox::platform
