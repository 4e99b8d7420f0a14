// Runs the built quillbox on settings stores it cannot use: every command says once what is
// wrong with the store, `settings` fails, `record` keeps its data and says that the settings
// were not saved, a locked store costs one short wait, and nothing is written into a file that
// is not a store of ours.

#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "CliTestSupport.h"

namespace quillbox::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr const char* kLockChild = "QUILLBOX_TEST_LOCK_STORE";

// Holds the store named by kLockChild locked against readers and writers, creates
// "<store>.locked" to say so, and lets go when that file is removed. Runs only in a child
// process started by the test below.
TEST(CliStoreLockChild, HoldsTheStoreUntilTold) {
  const char* path = std::getenv(kLockChild);
  if (path == nullptr) GTEST_SKIP() << "runs in a child process only";
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path, &db), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db,
                         "PRAGMA locking_mode=EXCLUSIVE; BEGIN EXCLUSIVE; "
                         "SELECT count(*) FROM sqlite_schema",
                         nullptr, nullptr, nullptr),
            SQLITE_OK);
  const std::string flag = std::string(path) + ".locked";
  std::ofstream(flag) << "locked";
  const auto end = std::chrono::steady_clock::now() + 2min;
  while (fs::exists(flag) && std::chrono::steady_clock::now() < end)
    std::this_thread::sleep_for(20ms);
  sqlite3_close(db);
}

TEST(CliStore, UnusableStoresAreSaidOnceAndRecordingsGoOn) {
  const std::string base = ScratchPrefix() + "stores/";
  fs::create_directories(base);
  // LeakSanitizer's own tracer crashes now and then in these children (a fault inside its
  // runtime, with no report about our code); leaks stay checked by every other CLI test.
  const EnvChanges fast = {{"QUILLBOX_TIME_SCALE", "50"},
                           {"QUILLBOX_BENCH", std::nullopt},
                           {"ASAN_OPTIONS", "detect_leaks=0"}};
  auto env = [&](const std::string& store) {
    EnvChanges e = fast;
    e["QUILLBOX_REGISTRY"] = store;
    return e;
  };

  std::string noise(8192, '\0');
  for (std::size_t i = 0; i < noise.size(); ++i) noise[i] = static_cast<char>(i * 7919 % 251);
  std::ofstream(base + "garbage", std::ios::binary) << noise;
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open((base + "foreign").c_str(), &db), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db, "CREATE TABLE notes(t TEXT)", nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close(db);
  fs::create_directories(base + "dir");
  std::ofstream(base + "ro-file").close();
  fs::permissions(base + "ro-file", fs::perms::owner_read);

  // A store of ours, held by another process that lets nobody read or write it.
  const std::string locked = base + "locked.sqlite3";
  ASSERT_EQ(Quillbox({"about"}, env(locked)).exitCode, 0);
  ChildProcess holder({SelfPath(), "--gtest_filter=CliStoreLockChild.*"}, {{kLockChild, locked}});
  const auto end = std::chrono::steady_clock::now() + 20s;
  while (!fs::exists(locked + ".locked") && std::chrono::steady_clock::now() < end)
    std::this_thread::sleep_for(20ms);
  ASSERT_TRUE(fs::exists(locked + ".locked"));

  const struct {
    std::string path, reason;
    bool permissionsBite = true;  // false: root may read and write anything
  } cases[] = {
      {base + "garbage", "not an SQLite store"},
      {base + "foreign", "not our store"},
      {base + "dir", "is a directory"},
      {base + "garbage/registry.sqlite3", "a part of its path is not a folder"},
      {base + "ro-file", "read-only", geteuid() != 0},
      {locked, "locked by another process"},
  };
  // One 5 s wait for a locked store, plus a slow start under sanitizers; a store waited for
  // call after call took 20 s and more.
  constexpr auto kAtMost = 12s;
  int n = 0;
  for (const auto& c : cases) {
    if (!c.permissionsBite) continue;
    const std::string before = fs::is_regular_file(c.path) ? ReadFile(c.path) : "";
    const std::string said = "quillbox: settings store " + c.path + ": " + c.reason;
    auto start = std::chrono::steady_clock::now();
    ChildResult r = Quillbox({"settings"}, env(c.path));
    EXPECT_LT(std::chrono::steady_clock::now() - start, kAtMost) << c.reason;
    EXPECT_EQ(r.exitCode, 1) << c.reason;
    EXPECT_EQ(r.err, said + "\n");

    const std::string csv = base + std::to_string(++n) + ".csv";
    start = std::chrono::steady_clock::now();
    r = Quillbox({"record", "-n", "5", "-r", "50", "-o", csv}, env(c.path));
    EXPECT_LT(std::chrono::steady_clock::now() - start, kAtMost) << c.reason;
    EXPECT_EQ(r.exitCode, 0) << c.reason;
    EXPECT_EQ(r.err, said + "; the settings were not saved\n");
    const std::string rows = ReadFile(csv);
    EXPECT_EQ(std::count(rows.begin(), rows.end(), '\n'), 6) << c.reason;
    if (!before.empty()) {
      EXPECT_EQ(ReadFile(c.path), before) << c.reason;
    }
  }

  fs::remove(locked + ".locked");
  const ChildResult held = holder.Wait();
  EXPECT_EQ(held.exitCode, 0) << held.Output();
  fs::remove_all(base);
}

}  // namespace
}  // namespace quillbox::test
