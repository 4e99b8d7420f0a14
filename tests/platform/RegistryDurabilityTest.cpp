// Processes killed in the middle of writing, and processes writing at the same time, leave an
// intact store that holds every write that was reported as done.

#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>

#include <chrono>
#include <cstring>
#include <iostream>
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

// The entry numbers a writer reported done (4 bytes each on its stdout).
void AddAcks(const ChildResult& result, std::set<uint32_t>& acks) {
  for (std::size_t p = 0; p + 4 <= result.out.size(); p += 4) {
    uint32_t i = 0;
    std::memcpy(&i, result.out.data() + p, 4);
    acks.insert(i);
  }
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

// Checks that the store is intact, that each acknowledged entry is there whole, and that every
// entry found at all is whole (a write is all or nothing). Returns the number of entries found.
std::size_t VerifyEntries(const std::string& store, const std::set<uint32_t>& acknowledged) {
  EXPECT_EQ(IntegrityCheck(store), "ok");
  RegistryReopen();
  HKEY root = 0;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, "Durable", 0, KEY_READ, &root) != ERROR_SUCCESS) {
    ADD_FAILURE() << "Durable is missing";
    return 0;
  }
  std::set<uint32_t> keys, values;
  for (DWORD k = 0;; ++k) {
    char name[64];
    DWORD cch = sizeof name;
    if (RegEnumKeyExA(root, k, name, &cch, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
      break;
    const auto i = static_cast<uint32_t>(std::stoul(std::string(name + 1, cch - 1)));
    HKEY key = 0;
    EXPECT_EQ(RegOpenKeyExA(root, EntryKey(i).c_str(), 0, KEY_READ, &key), ERROR_SUCCESS)
        << "half-created entry " << i;
    RegCloseKey(key);
    keys.insert(i);
  }
  for (DWORD k = 0;; ++k) {
    char name[64];
    DWORD cch = sizeof name;
    std::vector<BYTE> data(400);
    DWORD cb = static_cast<DWORD>(data.size());
    if (RegEnumValueA(root, k, name, &cch, nullptr, nullptr, data.data(), &cb) != ERROR_SUCCESS)
      break;
    data.resize(cb);
    const auto i = static_cast<uint32_t>(std::stoul(std::string(name + 1, cch - 1)));
    EXPECT_EQ(name, EntryValue(i));
    EXPECT_EQ(data, Pattern(i)) << "half-written value " << name;
    values.insert(i);
  }
  RegCloseKey(root);
  for (uint32_t i : acknowledged)
    EXPECT_TRUE(keys.contains(i) && values.contains(i)) << "acknowledged entry " << i << " lost";
  return keys.size();
}

// Writers killed at random points, then four writing at once on what they left.
TEST_F(RegistryTest, KilledAndConcurrentWritersLeaveAnIntactStore) {
  std::mt19937 random(20240611);
  std::set<uint32_t> acknowledged;
  constexpr int kKills = 30;
  int killedMidStream = 0;
  for (int round = 0; round < kKills; ++round) {
    const auto writer = StartWriter(registry_.path(), static_cast<uint32_t>(round) * 1000, 1000);
    std::this_thread::sleep_for(
        std::chrono::milliseconds(std::uniform_int_distribution<int>(20, 300)(random)));
    writer->Signal(SIGKILL);
    const ChildResult result = writer->Wait();
    if (result.signal == SIGKILL) ++killedMidStream;
    AddAcks(result, acknowledged);
  }
  EXPECT_EQ(killedMidStream, kKills);
  EXPECT_FALSE(acknowledged.empty());
  const std::size_t killedAcks = acknowledged.size();

  constexpr uint32_t kEach = 40;
  std::vector<std::unique_ptr<ChildProcess>> writers;
  for (uint32_t w = 0; w < 4; ++w)
    writers.push_back(StartWriter(registry_.path(), 100000 + w * 1000, kEach));
  for (auto& writer : writers) {
    const ChildResult result = writer->Wait();
    EXPECT_EQ(result.exitCode, 0) << result.err;
    AddAcks(result, acknowledged);
  }
  EXPECT_EQ(acknowledged.size(), killedAcks + 4 * kEach);
  const std::size_t found = VerifyEntries(registry_.path(), acknowledged);
  std::cout << "killed " << kKills << " writers: " << killedAcks << " entries acknowledged, "
            << found - 4 * kEach << " found\n";
}

}  // namespace
}  // namespace quillbox::platform
