#include <gtest/gtest.h>
#include <pwd.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "RegistryTestSupport.h"
#include "platform/Registry.h"

namespace quillbox::platform {
namespace {

using quillbox::testing::RegistryTest;
using quillbox::testing::TempRegistry;

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

std::vector<std::string> SubKeys(HKEY key) {
  std::vector<std::string> names;
  for (DWORD i = 0;; ++i) {
    char name[256];
    DWORD cch = sizeof name;
    const LONG r = RegEnumKeyExA(key, i, name, &cch, nullptr, nullptr, nullptr, nullptr);
    if (r == ERROR_NO_MORE_ITEMS) break;
    EXPECT_EQ(r, ERROR_SUCCESS);
    if (r != ERROR_SUCCESS) break;
    names.emplace_back(name, cch);
  }
  return names;
}

std::vector<std::string> ValueNames(HKEY key) {
  std::vector<std::string> names;
  for (DWORD i = 0;; ++i) {
    char name[256];
    DWORD cch = sizeof name;
    const LONG r = RegEnumValueA(key, i, name, &cch, nullptr, nullptr, nullptr, nullptr);
    if (r == ERROR_NO_MORE_ITEMS) break;
    EXPECT_EQ(r, ERROR_SUCCESS);
    if (r != ERROR_SUCCESS) break;
    names.emplace_back(name, cch);
  }
  return names;
}

TEST_F(RegistryTest, OpeningAMissingKeyFailsAndCreatesNothing) {
  HKEY h = 0x1234;
  EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Missing", 0, KEY_READ, &h),
            ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(h, 0x1234u);
  EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software", 0, KEY_READ, &h), ERROR_FILE_NOT_FOUND);
  DWORD subKeys = 99;
  EXPECT_EQ(RegQueryInfoKeyA(HKEY_CURRENT_USER, nullptr, nullptr, nullptr, &subKeys, nullptr,
                             nullptr, nullptr, nullptr, nullptr, nullptr, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(subKeys, 0u);
}

TEST_F(RegistryTest, CreateMakesMissingParentsAndReportsWhatItDid) {
  DWORD disposition = 0;
  HKEY deep = Create(HKEY_CURRENT_USER, "Software\\Tarn\\ADC", KEY_ALL_ACCESS, &disposition);
  EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
  EXPECT_EQ(RegCloseKey(deep), ERROR_SUCCESS);
  deep = Create(HKEY_CURRENT_USER, "software\\TARN\\adc\\", KEY_ALL_ACCESS, &disposition);
  EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
  RegCloseKey(deep);

  HKEY tarn = 0;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Tarn", 0, KEY_READ, &tarn), ERROR_SUCCESS);
  EXPECT_EQ(SubKeys(tarn), std::vector<std::string>{"ADC"});
  // Creating relative to an open handle needs KEY_CREATE_SUB_KEY on it.
  HKEY child = 0;
  EXPECT_EQ(RegCreateKeyExA(tarn, "Other", 0, nullptr, 0, KEY_READ, nullptr, &child, nullptr),
            ERROR_ACCESS_DENIED);
  RegCloseKey(tarn);
  // The roots are separate trees.
  EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software", 0, KEY_READ, &tarn),
            ERROR_FILE_NOT_FOUND);
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
  EXPECT_EQ(SubKeys(software), std::vector<std::string>{"\xC3\x89\x63ole \xC5\xA0koda"});
  RegCloseKey(software);

  ASSERT_EQ(SetText(same, "Rate\xC3\xBF", "1"), ERROR_SUCCESS);  // "Rateÿ"
  ASSERT_EQ(SetText(same, "RATE\xC5\xB8", "2"), ERROR_SUCCESS);  // "RATEŸ" names the same value
  EXPECT_EQ(ValueNames(same), std::vector<std::string>{"Rate\xC3\xBF"});
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
  EXPECT_EQ(SubKeys(key),
            (std::vector<std::string>{"a10", "a2", "b", "C", "_x", "\xC3\xA9t\xC3\xA9"}));

  for (const char* name : {"zeta", "Alpha", "", "mid"}) ASSERT_EQ(SetText(key, name, "v"), 0);
  EXPECT_EQ(ValueNames(key), (std::vector<std::string>{"zeta", "Alpha", "", "mid"}));
  // Overwriting keeps the place; deleting and writing again moves the value to the end.
  ASSERT_EQ(SetText(key, "ALPHA", "w"), ERROR_SUCCESS);
  ASSERT_EQ(RegDeleteValueA(key, "zeta"), ERROR_SUCCESS);
  ASSERT_EQ(SetText(key, "zeta", "v"), ERROR_SUCCESS);
  EXPECT_EQ(ValueNames(key), (std::vector<std::string>{"Alpha", "", "mid", "zeta"}));

  char name[8];
  DWORD cch = sizeof name;
  EXPECT_EQ(RegEnumValueA(key, 4, name, &cch, nullptr, nullptr, nullptr, nullptr),
            ERROR_NO_MORE_ITEMS);
  EXPECT_EQ(RegEnumKeyExA(key, 6, name, &cch, nullptr, nullptr, nullptr, nullptr),
            ERROR_NO_MORE_ITEMS);
  cch = 3;  // "a10" needs 4 bytes with its terminator
  EXPECT_EQ(RegEnumKeyExA(key, 0, name, &cch, nullptr, nullptr, nullptr, nullptr), ERROR_MORE_DATA);
  RegCloseKey(key);
}

TEST_F(RegistryTest, ValueQueriesReportSizesAndKeepDataExactly) {
  HKEY key = Create(HKEY_CURRENT_USER, "Values");
  ASSERT_EQ(SetText(key, nullptr, "E-270"), ERROR_SUCCESS);  // null and "" are the default value
  DWORD type = 0;
  DWORD size = 0;
  ASSERT_EQ(RegQueryValueExA(key, "", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(type, REG_SZ);
  EXPECT_EQ(size, 5u);  // no terminator added

  std::array<BYTE, 8> buffer{};
  buffer.fill(0xEE);
  DWORD cb = 4;
  EXPECT_EQ(RegQueryValueExA(key, nullptr, nullptr, &type, buffer.data(), &cb), ERROR_MORE_DATA);
  EXPECT_EQ(cb, 5u);
  EXPECT_EQ(buffer[0], 0xEE);  // nothing copied
  cb = static_cast<DWORD>(buffer.size());
  ASSERT_EQ(RegQueryValueExA(key, nullptr, nullptr, &type, buffer.data(), &cb), ERROR_SUCCESS);
  EXPECT_EQ(cb, 5u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer.data()), 5), "E-270");
  EXPECT_EQ(buffer[5], 0xEE);

  const std::array<BYTE, 3> bytes{0x0A, 0xFF, 0x00};
  ASSERT_EQ(RegSetValueExA(key, "Bin", 0, REG_BINARY, bytes.data(), 3), ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExA(key, "Empty", 0, REG_BINARY, nullptr, 0), ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExA(key, "Odd", 0, 0x1234, bytes.data(), 2), ERROR_SUCCESS);
  ASSERT_EQ(RegQueryValueExA(key, "Empty", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(size, 0u);
  ASSERT_EQ(RegQueryValueExA(key, "Odd", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(type, 0x1234u);
  EXPECT_EQ(size, 2u);

  char name[16];
  DWORD cch = sizeof name;
  cb = 2;
  EXPECT_EQ(RegEnumValueA(key, 1, name, &cch, nullptr, &type, buffer.data(), &cb), ERROR_MORE_DATA);
  EXPECT_EQ(cb, 3u);
  cch = sizeof name;
  cb = static_cast<DWORD>(buffer.size());
  ASSERT_EQ(RegEnumValueA(key, 1, name, &cch, nullptr, &type, buffer.data(), &cb), ERROR_SUCCESS);
  EXPECT_EQ(std::string(name, cch), "Bin");
  EXPECT_EQ(type, REG_BINARY);
  EXPECT_EQ(std::vector<BYTE>(buffer.begin(), buffer.begin() + cb),
            std::vector<BYTE>(bytes.begin(), bytes.end()));

  EXPECT_EQ(RegQueryValueExA(key, "Missing", nullptr, &type, nullptr, &size), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegQueryValueExA(key, "Bin", nullptr, &type, buffer.data(), nullptr),
            ERROR_INVALID_PARAMETER);

  DWORD subKeys = 9, maxSub = 9, values = 0, maxName = 0, maxData = 0;
  ASSERT_EQ(RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &subKeys, &maxSub, nullptr, &values,
                             &maxName, &maxData, nullptr, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(subKeys, 0u);
  EXPECT_EQ(maxSub, 0u);
  EXPECT_EQ(values, 4u);
  EXPECT_EQ(maxName, 5u);  // "Empty"
  EXPECT_EQ(maxData, 5u);  // "E-270"
  RegCloseKey(key);
}

TEST_F(RegistryTest, HandlesOnlyAllowWhatTheirMaskGrants) {
  HKEY key = Create(HKEY_CURRENT_USER, "Masks\\Child");
  RegCloseKey(key);
  HKEY query = 0, set = 0, readOnly = 0;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Masks", 0, KEY_QUERY_VALUE, &query), 0);
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Masks", 0, KEY_SET_VALUE, &set), 0);
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Masks", 0, 0x20009, &readOnly), 0);
  EXPECT_EQ(SetText(query, "x", "1"), ERROR_ACCESS_DENIED);
  EXPECT_EQ(SetText(set, "x", "1"), ERROR_SUCCESS);
  DWORD size = 0;
  EXPECT_EQ(RegQueryValueExA(set, "x", nullptr, nullptr, nullptr, &size), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegQueryValueExA(query, "x", nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteValueA(readOnly, "x"), ERROR_ACCESS_DENIED);
  char name[16];
  DWORD cch = sizeof name;
  EXPECT_EQ(RegEnumKeyExA(query, 0, name, &cch, nullptr, nullptr, nullptr, nullptr),
            ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegEnumKeyExA(readOnly, 0, name, &cch, nullptr, nullptr, nullptr, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteValueA(set, "x"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteValueA(set, "x"), ERROR_FILE_NOT_FOUND);
  for (HKEY h : {query, set, readOnly}) EXPECT_EQ(RegCloseKey(h), ERROR_SUCCESS);
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
  EXPECT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, "Del\\Parent\\Leaf"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, "Del\\Parent"), ERROR_SUCCESS);
}

TEST_F(RegistryTest, BadHandlesAndPathsAreRefused) {
  HKEY h = 0;
  DWORD size = 0;
  EXPECT_EQ(RegQueryValueExA(0x1000, "x", nullptr, nullptr, nullptr, &size), ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegOpenKeyExA(HKEY_PERFORMANCE_DATA, "", 0, KEY_READ, &h), ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegCloseKey(0x1000), ERROR_INVALID_HANDLE);
  HKEY key = Create(HKEY_CURRENT_USER, "Handles");
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(key), ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegQueryValueExA(key, "x", nullptr, nullptr, nullptr, &size), ERROR_INVALID_HANDLE);

  EXPECT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "\\Lead", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &h,
                            nullptr),
            ERROR_BAD_PATHNAME);
  EXPECT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "A\\\\B", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &h,
                            nullptr),
            ERROR_BAD_PATHNAME);
  const std::string longName(256, 'n');
  EXPECT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, longName.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                            nullptr, &h, nullptr),
            ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Handles", 0, KEY_READ, nullptr),
            ERROR_INVALID_PARAMETER);
}

TEST_F(RegistryTest, StoreIsAPrivateFileThatKeepsItsData) {
  HKEY key = Create(HKEY_CURRENT_USER, "Keep");
  ASSERT_EQ(SetText(key, "v", "kept"), ERROR_SUCCESS);
  RegCloseKey(key);
  EXPECT_EQ(RegistryPath(), registry_.path());
  struct stat st {};
  ASSERT_EQ(stat(registry_.path().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  ASSERT_EQ(stat((registry_.dir() + "/store").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);

  RegistryReopen();  // as a new process would
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "KEEP", 0, KEY_READ, &key), ERROR_SUCCESS);
  char data[8];
  DWORD cb = sizeof data;
  ASSERT_EQ(RegQueryValueExA(key, "V", nullptr, nullptr, reinterpret_cast<BYTE*>(data), &cb), 0);
  EXPECT_EQ(std::string(data, cb), "kept");
  RegCloseKey(key);
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Every call that needs the store fails cleanly; nothing is created in its place.
void ExpectEveryCallFails() {
  HKEY h = 0;
  EXPECT_NE(RegCreateKeyExA(HKEY_CURRENT_USER, "Software", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                            &h, nullptr),
            ERROR_SUCCESS);
  EXPECT_NE(RegOpenKeyExA(HKEY_CURRENT_USER, "", 0, KEY_READ, &h), ERROR_SUCCESS);
  EXPECT_NE(SetText(HKEY_CURRENT_USER, "v", "x"), ERROR_SUCCESS);
  DWORD size = 0;
  EXPECT_NE(RegQueryValueExA(HKEY_CURRENT_USER, "v", nullptr, nullptr, nullptr, &size),
            ERROR_SUCCESS);
  DWORD count = 0;
  EXPECT_NE(RegQueryInfoKeyA(HKEY_CURRENT_USER, nullptr, nullptr, nullptr, &count, nullptr, nullptr,
                             nullptr, nullptr, nullptr, nullptr, nullptr),
            ERROR_SUCCESS);
}

TEST_F(RegistryTest, UnusableFilesGiveFailingCallsAndAreLeftAlone) {
  std::filesystem::create_directories(registry_.dir() + "/store");
  // Not a database.
  const std::string garbage = registry_.dir() + "/garbage.sqlite3";
  std::string noise(8192, '\0');
  for (std::size_t i = 0; i < noise.size(); ++i) noise[i] = static_cast<char>(i * 7919 % 251);
  std::ofstream(garbage, std::ios::binary) << noise;
  TempRegistry::Use(garbage);
  ExpectEveryCallFails();
  EXPECT_EQ(ReadFile(garbage), noise);

  // A database of something else.
  const std::string foreign = registry_.dir() + "/foreign.sqlite3";
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(foreign.c_str(), &db), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db, "CREATE TABLE notes(t TEXT); INSERT INTO notes VALUES('mine')",
                         nullptr, nullptr, nullptr),
            SQLITE_OK);
  sqlite3_close(db);
  const std::string before = ReadFile(foreign);
  TempRegistry::Use(foreign);
  ExpectEveryCallFails();
  EXPECT_EQ(ReadFile(foreign), before);

  // A folder where the file should be, and a path below a plain file.
  TempRegistry::Use(registry_.dir() + "/store");
  ExpectEveryCallFails();
  TempRegistry::Use(garbage + "/registry.sqlite3");
  ExpectEveryCallFails();
  EXPECT_EQ(ReadFile(garbage), noise);

  // Back on a good file, everything works again.
  TempRegistry::Use(registry_.path());
  HKEY key = Create(HKEY_CURRENT_USER, "Fine");
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
  LONG worst = ERROR_SUCCESS;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, "Big", 0, KEY_READ, &key) == ERROR_SUCCESS) {
    for (DWORD i = 0; i < 20; ++i) {
      std::vector<BYTE> data(20000);
      DWORD cb = static_cast<DWORD>(data.size());
      char name[8];
      DWORD cch = sizeof name;
      const LONG r = RegEnumValueA(key, i, name, &cch, nullptr, nullptr, data.data(), &cb);
      if (r != ERROR_SUCCESS) worst = r;
    }
    RegCloseKey(key);
  } else {
    worst = ERROR_REGISTRY_CORRUPT;
  }
  EXPECT_NE(worst, ERROR_SUCCESS);
  EXPECT_EQ(RegistryProblem(), registry_.path() + ": corrupt");
}

TEST_F(RegistryTest, ThreadsShareTheStoreSafely) {
  HKEY root = Create(HKEY_CURRENT_USER, "Threads");
  RegCloseKey(root);
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  threads.reserve(4);
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t, &failures] {
      for (int i = 0; i < 25; ++i) {
        const std::string path = "Threads\\T" + std::to_string(t) + "\\K" + std::to_string(i);
        HKEY key = 0;
        if (RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                            &key, nullptr) != ERROR_SUCCESS) {
          ++failures;
          continue;
        }
        if (SetText(key, "v", path) != ERROR_SUCCESS) ++failures;
        DWORD size = 0;
        if (RegQueryValueExA(key, "v", nullptr, nullptr, nullptr, &size) != ERROR_SUCCESS ||
            size != path.size())
          ++failures;
        if (RegCloseKey(key) != ERROR_SUCCESS) ++failures;
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(failures.load(), 0);
  HKEY key = 0;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Threads\\T3", 0, KEY_READ, &key), 0);
  EXPECT_EQ(SubKeys(key).size(), 25u);
  RegCloseKey(key);
}

TEST(UserName, IsTheLoginNameOfTheProcess) {
  std::string expected;
  if (passwd* pw = getpwuid(geteuid()); pw != nullptr) expected = pw->pw_name;
  ASSERT_FALSE(expected.empty());
  char small[2] = {};
  DWORD size = sizeof small;
  if (expected.size() + 1 > size) {
    EXPECT_EQ(GetUserNameA(small, &size), 0);
    EXPECT_EQ(size, expected.size() + 1);
  }
  char buffer[256] = {};
  size = sizeof buffer;
  ASSERT_NE(GetUserNameA(buffer, &size), 0);
  EXPECT_EQ(std::string(buffer), expected);
  EXPECT_EQ(size, expected.size() + 1);
}

}  // namespace
}  // namespace quillbox::platform
