// Processes killed in the middle of writing, and processes writing at the same time, leave an
// intact store that holds every write that was reported as done.

#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "ChildProcess.h"
#include "DurableEntries.h"
#include "RegistryTestSupport.h"
#include "platform/Registry.h"

namespace quillbox::platform {
namespace {

using quillbox::test::ChildProcess;
using quillbox::test::ChildResult;
using quillbox::testing::EntryKey;
using quillbox::testing::EntryValue;
using quillbox::testing::Pattern;
using quillbox::testing::RegistryTest;

// A registry_writer writing entries first..first+count-1 into `store`.
std::unique_ptr<ChildProcess> StartWriter(const std::string& store, uint32_t first,
                                          uint32_t count) {
  return std::make_unique<ChildProcess>(
      std::vector<std::string>{QUILLBOX_REGISTRY_WRITER, std::to_string(first),
                               std::to_string(count)},
      quillbox::test::EnvChanges{{"QUILLBOX_REGISTRY", store}});
}

// Adds the entry numbers a writer reported done (4 bytes each on its stdout); returns the entry
// it may have been killed in the middle of: the one after the last reported.
uint32_t AddAcks(const ChildResult& result, uint32_t first, std::set<uint32_t>& acks) {
  uint32_t next = first;
  for (std::size_t p = 0; p + 4 <= result.out.size(); p += 4) {
    std::memcpy(&next, result.out.data() + p, 4);
    acks.insert(next++);
  }
  return next;
}

std::string IntegrityCheck(const std::string& path) {
  sqlite3* db = nullptr;
  std::string result = "cannot open";
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK) {
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &stmt, nullptr) == SQLITE_OK) {
      result.clear();
      while (sqlite3_step(stmt) == SQLITE_ROW)
        result += reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0));
    }
    sqlite3_finalize(stmt);
  }
  sqlite3_close(db);
  return result;
}

// Checks that the store is intact, that each acknowledged entry is there whole, and that each
// unsure one (a writer was killed while writing it) is whole where it is there at all: its key
// is made in one call, its value written in one.
void VerifyEntries(const std::string& store, const std::set<uint32_t>& acknowledged,
                   const std::vector<uint32_t>& unsure) {
  EXPECT_EQ(IntegrityCheck(store), "ok");
  RegistryReopen();
  HKEY root = 0;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Durable", 0, KEY_READ, &root), ERROR_SUCCESS);
  std::set<uint32_t> entries(unsure.begin(), unsure.end());
  entries.insert(acknowledged.begin(), acknowledged.end());
  for (uint32_t i : entries) {
    const bool acked = acknowledged.contains(i);
    HKEY key = 0;
    const bool top =
        RegOpenKeyExA(root, ("W" + std::to_string(i)).c_str(), 0, KEY_READ, &key) == ERROR_SUCCESS;
    RegCloseKey(key);
    const bool full = RegOpenKeyExA(root, EntryKey(i).c_str(), 0, KEY_READ, &key) == ERROR_SUCCESS;
    RegCloseKey(key);
    EXPECT_EQ(full, acked || top) << "entry " << i << (acked ? " lost" : " half-created");
    std::vector<BYTE> data(400);
    DWORD cb = static_cast<DWORD>(data.size());
    const LONG r =
        RegQueryValueExA(root, EntryValue(i).c_str(), nullptr, nullptr, data.data(), &cb);
    data.resize(r == ERROR_SUCCESS ? cb : 0);
    if (acked || r == ERROR_SUCCESS) {
      EXPECT_EQ(data, Pattern(i)) << "value of entry " << i;
    }
  }
  RegCloseKey(root);
}

// Writers killed at random points, then four writing at once on what they left.
TEST_F(RegistryTest, KilledAndConcurrentWritersLeaveAnIntactStore) {
  std::mt19937 random(20240611);
  std::set<uint32_t> acknowledged;
  std::vector<uint32_t> unsure;
  constexpr int kKills = 30;
  int killedMidStream = 0;
  for (int round = 0; round < kKills; ++round) {
    const auto first = static_cast<uint32_t>(round) * 1000;
    const auto writer = StartWriter(registry_.path(), first, 1000);
    // The kill comes at a random point once the writer is writing.
    const std::string firstKey = "Durable\\" + EntryKey(first);
    HKEY key = 0;
    for (int ms = 0; ms < 20000 && RegOpenKeyExA(HKEY_CURRENT_USER, firstKey.c_str(), 0, KEY_READ,
                                                 &key) != ERROR_SUCCESS;
         ++ms)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    RegCloseKey(key);
    std::this_thread::sleep_for(
        std::chrono::microseconds(std::uniform_int_distribution<int>(0, 20000)(random)));
    writer->Signal(SIGKILL);
    const ChildResult result = writer->Wait();
    if (result.signal == SIGKILL) ++killedMidStream;
    unsure.push_back(AddAcks(result, first, acknowledged));
  }
  // On a fast file system a writer now and then finishes its thousand entries before the kill;
  // most must be killed while writing for the test to mean anything.
  EXPECT_GE(killedMidStream, kKills * 2 / 3);
  EXPECT_FALSE(acknowledged.empty());
  const std::size_t killedAcks = acknowledged.size();

  constexpr uint32_t kEach = 40;
  std::vector<std::unique_ptr<ChildProcess>> writers;
  for (uint32_t w = 0; w < 4; ++w)
    writers.push_back(StartWriter(registry_.path(), 100000 + w * 1000, kEach));
  for (uint32_t w = 0; w < 4; ++w) {
    const ChildResult result = writers[w]->Wait();
    EXPECT_EQ(result.exitCode, 0) << result.err;
    AddAcks(result, 100000 + w * 1000, acknowledged);
  }
  EXPECT_EQ(acknowledged.size(), killedAcks + std::size_t{4} * kEach);
  VerifyEntries(registry_.path(), acknowledged, unsure);
}

}  // namespace
}  // namespace quillbox::platform
