#include <gtest/gtest.h>
#include <pwd.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "RegistryTestSupport.h"
#include "platform/Registry.h"

namespace quillbox::platform {
namespace {

using quillbox::testing::RegistryTest;
namespace fs = std::filesystem;

HKEY Create(HKEY root, const char* path, REGSAM access = KEY_ALL_ACCESS,
            DWORD* disposition = nullptr) {
  HKEY h = 0;
  EXPECT_EQ(RegCreateKeyExA(root, path, 0, nullptr, 0, access, nullptr, &h, disposition),
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

TEST_F(RegistryTest, CreateMakesMissingParentsOpenFindsOnlyWhatExists) {
  HKEY h = 0x1234;
  EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software", 0, KEY_READ, &h), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(h, 0x1234u);
  DWORD disposition = 0;
  h = Create(HKEY_CURRENT_USER, "Software\\Tarn\\ADC", KEY_ALL_ACCESS, &disposition);
  EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
  RegCloseKey(h);
  h = Create(HKEY_CURRENT_USER, "software\\TARN\\adc\\", KEY_ALL_ACCESS, &disposition);
  EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
  RegCloseKey(h);
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Tarn", 0, KEY_READ, &h), ERROR_SUCCESS);
  EXPECT_EQ(Names(h), std::vector<std::string>{"ADC"});
  RegCloseKey(h);
  // The roots are separate trees.
  EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software", 0, KEY_READ, &h), ERROR_FILE_NOT_FOUND);
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
  // Letters outside the pairs are not folded: "ß" is not "SS", "×" is not "÷".
  ASSERT_EQ(SetText(same, "\xC3\x9F", "x"), ERROR_SUCCESS);
  EXPECT_EQ(RegQueryValueExA(same, "SS", nullptr, nullptr, nullptr, &cb), ERROR_FILE_NOT_FOUND);
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

// Enumerating values with their data and the key counts are tried through the settings export.
TEST_F(RegistryTest, ValueQueriesReportSizesAndCopyOnlyWhatFits) {
  HKEY key = Create(HKEY_CURRENT_USER, "Values");
  ASSERT_EQ(SetText(key, nullptr, "E-270"), ERROR_SUCCESS);  // null and "" are the default value
  std::array<BYTE, 8> buffer{};
  buffer.fill(0xEE);
  DWORD type = 0;
  DWORD cb = 4;
  EXPECT_EQ(RegQueryValueExA(key, "", nullptr, &type, buffer.data(), &cb), ERROR_MORE_DATA);
  EXPECT_EQ(cb, 5u);           // no terminator added
  EXPECT_EQ(buffer[0], 0xEE);  // nothing copied
  cb = static_cast<DWORD>(buffer.size());
  ASSERT_EQ(RegQueryValueExA(key, nullptr, nullptr, &type, buffer.data(), &cb), ERROR_SUCCESS);
  EXPECT_EQ(type, REG_SZ);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer.data()), cb), "E-270");
  EXPECT_EQ(buffer[5], 0xEE);
  EXPECT_EQ(RegQueryValueExA(key, "", nullptr, &type, buffer.data(), nullptr),
            ERROR_INVALID_PARAMETER);  // data without a size
  RegCloseKey(key);
}

TEST_F(RegistryTest, HandlesOnlyAllowWhatTheirMaskGrants) {
  RegCloseKey(Create(HKEY_CURRENT_USER, "Masks\\Child"));
  struct Case {
    REGSAM mask;
    LONG set, query, enumKeys, createKey;
  };
  constexpr LONG ok = ERROR_SUCCESS, no = ERROR_ACCESS_DENIED;
  for (const Case& c : {Case{KEY_QUERY_VALUE, no, ok, no, no}, Case{KEY_SET_VALUE, ok, no, no, no},
                        Case{KEY_READ, no, ok, ok, no}, Case{KEY_ALL_ACCESS, ok, ok, ok, ok}}) {
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
    HKEY child = 0;
    EXPECT_EQ(RegCreateKeyExA(h, "Child", 0, nullptr, 0, KEY_READ, nullptr, &child, nullptr),
              c.createKey);
    RegCloseKey(child);
    EXPECT_EQ(RegCloseKey(h), ERROR_SUCCESS);
  }
}

TEST_F(RegistryTest, DeletingKeys) {
  HKEY leaf = Create(HKEY_CURRENT_USER, "Del\\Parent\\Leaf");
  ASSERT_EQ(SetText(leaf, "v", "1"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, "Del\\Parent"), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, "Del\\Nothing"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, ""), ERROR_ACCESS_DENIED);  // a root stays
  EXPECT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, "del\\parent\\LEAF"), ERROR_SUCCESS);
  // The handle outlives its key; it no longer reaches anything.
  DWORD size = 0;
  EXPECT_EQ(RegQueryValueExA(leaf, "v", nullptr, nullptr, nullptr, &size), ERROR_KEY_DELETED);
  EXPECT_EQ(SetText(leaf, "v", "2"), ERROR_KEY_DELETED);
  EXPECT_EQ(RegCloseKey(leaf), ERROR_SUCCESS);
  // Created again, the key has none of the old values.
  leaf = Create(HKEY_CURRENT_USER, "Del\\Parent\\Leaf");
  EXPECT_EQ(RegQueryValueExA(leaf, "v", nullptr, nullptr, nullptr, &size), ERROR_FILE_NOT_FOUND);
  RegCloseKey(leaf);
}

TEST_F(RegistryTest, BadHandlesAndPathsAreRefused) {
  HKEY closed = Create(HKEY_CURRENT_USER, "Handles");
  EXPECT_EQ(RegCloseKey(closed), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(closed), ERROR_INVALID_HANDLE);
  for (HKEY bad : {HKEY{0x1000}, closed, HKEY_PERFORMANCE_DATA}) {
    HKEY h = 0;
    EXPECT_EQ(RegOpenKeyExA(bad, "", 0, KEY_READ, &h), ERROR_INVALID_HANDLE) << bad;
  }
  const std::string longName(256, 'n');
  for (const auto& [path, error] :
       {std::pair{"\\Lead", ERROR_BAD_PATHNAME}, std::pair{"A\\\\B", ERROR_BAD_PATHNAME},
        std::pair{longName.c_str(), ERROR_INVALID_PARAMETER}}) {
    HKEY h = 0;
    EXPECT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &h,
                              nullptr),
              error)
        << path;
  }
  EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Handles", 0, KEY_READ, nullptr),
            ERROR_INVALID_PARAMETER);
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
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  threads.reserve(4);
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t, &failures] {
      for (int i = 0; i < 25; ++i) {
        const std::string path = "Threads\\T" + std::to_string(t) + "\\K" + std::to_string(i);
        HKEY key = 0;
        DWORD size = 0;
        if (RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                            &key, nullptr) != ERROR_SUCCESS ||
            SetText(key, "v", path) != ERROR_SUCCESS ||
            RegQueryValueExA(key, "v", nullptr, nullptr, nullptr, &size) != ERROR_SUCCESS ||
            size != path.size() || RegCloseKey(key) != ERROR_SUCCESS)
          ++failures;
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(failures.load(), 0);
  HKEY key = 0;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Threads\\T3", 0, KEY_READ, &key), 0);
  EXPECT_EQ(Names(key).size(), 25u);
  RegCloseKey(key);
}

// Where the store lives when QUILLBOX_REGISTRY does not name it: $XDG_CONFIG_HOME (absolute
// only), else $HOME/.config, else the account's home folder; folders 0700, file 0600.
TEST_F(RegistryTest, StoreLocation) {
  const std::string dir = registry_.dir() + "/";
  const passwd* pw = getpwuid(geteuid());
  ASSERT_NE(pw, nullptr);
  const std::string account = std::string(pw->pw_dir) + "/.config/quillbox/registry.sqlite3";
  const struct {
    const char *store, *xdg, *home;
    std::string expected, privateFolder;
  } cases[] = {
      {nullptr, "/x", nullptr, "/x/quillbox/registry.sqlite3", ""},
      {nullptr, "relative", nullptr, account, ""},
      {nullptr, nullptr, "/h", "/h/.config/quillbox/registry.sqlite3", ""},
      {nullptr, nullptr, nullptr, account, ""},
      {"/s.db", "/x", "/h", "/s.db", ""},
      {nullptr, nullptr, "", dir + "home/.config/quillbox/registry.sqlite3", dir + "home/.config"},
  };
  fs::create_directory(dir + "home");
  const char* const names[] = {"QUILLBOX_REGISTRY", "XDG_CONFIG_HOME", "HOME"};
  std::vector<std::optional<std::string>> saved;  // QUILLBOX_REGISTRY is put back by registry_
  for (const char* name : names)
    saved.push_back(std::getenv(name) ? std::optional<std::string>(std::getenv(name))
                                      : std::nullopt);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.expected);
    const char* values[] = {c.store, c.xdg, c.home};
    for (int i = 0; i < 3; ++i) {
      if (values[i] == nullptr)
        unsetenv(names[i]);
      else
        setenv(names[i], *values[i] == '\0' ? (dir + "home").c_str() : values[i], 1);
    }
    RegistryReopen();
    EXPECT_EQ(RegistryPath(), c.expected);
    if (c.privateFolder.empty()) continue;  // nothing is written outside the test's folder
    RegCloseKey(Create(HKEY_CURRENT_USER, "Probe"));
    struct stat st {};
    ASSERT_EQ(stat(c.expected.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    ASSERT_EQ(stat(c.privateFolder.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    RegistryReopen();  // as a new process would: the data is still there
    HKEY h = 0;
    EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "PROBE", 0, KEY_READ, &h), ERROR_SUCCESS);
    RegCloseKey(h);
  }
  for (int i = 1; i < 3; ++i) {
    if (saved[i])
      setenv(names[i], saved[i]->c_str(), 1);
    else
      unsetenv(names[i]);
  }
}

TEST(UserName, IsTheLoginNameAndTellsTheSizeItNeeds) {
  const passwd* pw = getpwuid(geteuid());
  ASSERT_NE(pw, nullptr);
  char buffer[256] = {};
  DWORD size = 2;
  EXPECT_EQ(GetUserNameA(buffer, &size), 0);
  EXPECT_EQ(size, std::strlen(pw->pw_name) + 1);
  size = sizeof buffer;
  ASSERT_NE(GetUserNameA(buffer, &size), 0);
  EXPECT_EQ(std::string(buffer) + '|' + std::to_string(size),
            std::string(pw->pw_name) + '|' + std::to_string(std::strlen(pw->pw_name) + 1));
}

}  // namespace
}  // namespace quillbox::platform
