// Processes killed in the middle of writing, and processes writing at the same time, leave an
// intact store that holds every write that was reported as done.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <iostream>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "DurableEntries.h"
#include "RegistryTestSupport.h"
#include "platform/Registry.h"

namespace quillbox::platform {
namespace {

using quillbox::testing::EntryKey;
using quillbox::testing::EntryValue;
using quillbox::testing::Pattern;
using quillbox::testing::RegistryTest;

// A running registry_writer with the read end of its stdout.
class Writer {
 public:
  Writer(const std::string& store, uint32_t first, uint32_t count) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe2 failed");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e)
      if (std::strncmp(*e, "QUILLBOX_REGISTRY=", 18) != 0) env.emplace_back(*e);
    env.push_back("QUILLBOX_REGISTRY=" + store);
    std::vector<char*> envp;
    envp.reserve(env.size() + 1);
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    std::string exe = QUILLBOX_REGISTRY_WRITER;
    std::string a1 = std::to_string(first), a2 = std::to_string(count);
    char* argv[] = {exe.data(), a1.data(), a2.data(), nullptr};
    const int rc = posix_spawn(&pid_, exe.c_str(), &actions, nullptr, argv, envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    out_ = fds[0];
    if (rc != 0) {
      close(out_);
      throw std::runtime_error("cannot start " + exe);
    }
  }
  ~Writer() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      Wait();
    }
    if (out_ >= 0) close(out_);
  }
  Writer(const Writer&) = delete;
  Writer& operator=(const Writer&) = delete;

  // Reads acknowledgements until `until` of them arrived or the pipe closed.
  void Read(std::size_t until) {
    while (acks_.size() < until) {
      char buf[256];
      const ssize_t n = read(out_, buf, sizeof buf);
      if (n <= 0) return;
      pending_.append(buf, static_cast<std::size_t>(n));
      while (pending_.size() >= 4) {
        uint32_t i;
        std::memcpy(&i, pending_.data(), 4);
        acks_.push_back(i);
        pending_.erase(0, 4);
      }
    }
  }
  void ReadAll() { Read(SIZE_MAX); }
  void Kill() { kill(pid_, SIGKILL); }
  int Wait() {
    int status = 0;
    if (pid_ > 0) waitpid(pid_, &status, 0);
    pid_ = -1;
    return status;
  }
  const std::vector<uint32_t>& acks() const { return acks_; }

 private:
  pid_t pid_ = -1;
  int out_ = -1;
  std::string pending_;
  std::vector<uint32_t> acks_;
};

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

// Checks that each acknowledged entry is there whole, and that every entry found at all is
// whole (a write is all or nothing). Returns the number of entries found.
std::size_t VerifyEntries(const std::set<uint32_t>& acknowledged) {
  HKEY root = 0;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, "Durable", 0, KEY_READ, &root) != ERROR_SUCCESS) {
    ADD_FAILURE() << "Durable is missing";
    return 0;
  }
  for (uint32_t i : acknowledged) {
    HKEY key = 0;
    EXPECT_EQ(RegOpenKeyExA(root, EntryKey(i).c_str(), 0, KEY_READ, &key), ERROR_SUCCESS) << i;
    RegCloseKey(key);
    std::vector<BYTE> data(400);
    DWORD cb = static_cast<DWORD>(data.size());
    EXPECT_EQ(RegQueryValueExA(root, EntryValue(i).c_str(), nullptr, nullptr, data.data(), &cb),
              ERROR_SUCCESS)
        << i;
    data.resize(cb);
    EXPECT_EQ(data, Pattern(i)) << i;
  }
  std::size_t found = 0;
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
    ++found;
  }
  for (DWORD k = 0;; ++k) {
    char name[64];
    DWORD cch = sizeof name;
    std::vector<BYTE> data(400);
    DWORD cb = static_cast<DWORD>(data.size());
    if (RegEnumValueA(root, k, name, &cch, nullptr, nullptr, data.data(), &cb) != ERROR_SUCCESS)
      break;
    data.resize(cb);
    EXPECT_EQ(data, Pattern(static_cast<uint32_t>(std::stoul(std::string(name + 1, cch - 1)))))
        << "half-written value " << name;
  }
  RegCloseKey(root);
  return found;
}

TEST_F(RegistryTest, WritersKilledAtRandomPointsLeaveAnIntactStore) {
  std::mt19937 random(20240611);
  std::set<uint32_t> acknowledged;
  constexpr int kKills = 30;
  int killedMidStream = 0;
  for (int round = 0; round < kKills; ++round) {
    Writer writer(registry_.path(), static_cast<uint32_t>(round) * 1000, 1000);
    writer.Read(std::uniform_int_distribution<std::size_t>(0, 8)(random));
    std::this_thread::sleep_for(
        std::chrono::microseconds(std::uniform_int_distribution<int>(0, 3000)(random)));
    writer.Kill();
    writer.ReadAll();
    const int status = writer.Wait();
    if (WIFSIGNALED(status)) ++killedMidStream;
    acknowledged.insert(writer.acks().begin(), writer.acks().end());
  }
  EXPECT_EQ(killedMidStream, kKills);
  EXPECT_FALSE(acknowledged.empty());

  EXPECT_EQ(IntegrityCheck(registry_.path()), "ok");
  platform::RegistryReopen();
  const std::size_t found = VerifyEntries(acknowledged);
  EXPECT_GE(found, acknowledged.size());
  std::cout << "killed " << kKills << " writers: " << acknowledged.size()
            << " entries acknowledged, " << found << " found\n";

  // The store takes new writes after all that.
  Writer after(registry_.path(), 999999, 3);
  after.ReadAll();
  EXPECT_EQ(after.Wait(), 0);
  EXPECT_EQ(after.acks().size(), 3u);
}

TEST_F(RegistryTest, FourProcessesWritingAtOnceAllSucceed) {
  constexpr uint32_t kEach = 40;
  std::vector<std::unique_ptr<Writer>> writers;
  for (uint32_t w = 0; w < 4; ++w)
    writers.push_back(std::make_unique<Writer>(registry_.path(), w * 1000, kEach));
  std::set<uint32_t> acknowledged;
  for (auto& writer : writers) {
    writer->ReadAll();
    const int status = writer->Wait();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
    EXPECT_EQ(writer->acks().size(), kEach);
    acknowledged.insert(writer->acks().begin(), writer->acks().end());
  }
  EXPECT_EQ(acknowledged.size(), 4 * kEach);
  EXPECT_EQ(IntegrityCheck(registry_.path()), "ok");
  platform::RegistryReopen();
  EXPECT_EQ(VerifyEntries(acknowledged), 4 * kEach);
}

}  // namespace
}  // namespace quillbox::platform
