#include "ChildProcess.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

namespace quillbox::test {

std::string ScratchPrefix() {
  // Inside the process's own temporary folder (tests/platform/IsolatedRegistry.cpp), made fresh
  // and removed at exit: no name left by an earlier process with the same id can be met.
  const char* folder = std::getenv("QUILLBOX_TEST_SCRATCH");
  const std::filesystem::path base = folder != nullptr && *folder != '\0'
                                         ? std::filesystem::path(folder)
                                         : std::filesystem::temp_directory_path();
  return (base / "quillbox-test-").string() + std::to_string(getpid()) + "-";
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string SelfPath() {
  std::error_code ec;
  return std::filesystem::read_symlink("/proc/self/exe", ec).string();
}

ChildProcess::ChildProcess(const std::vector<std::string>& argv, const EnvChanges& env) {
  static std::atomic<int> count = 0;
  const std::string base = ScratchPrefix() + "child" + std::to_string(++count);
  out_ = base + ".out";
  err_ = base + ".err";

  std::vector<std::string> entries;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string entry = *e;
    if (!env.contains(entry.substr(0, entry.find('=')))) entries.push_back(entry);
  }
  for (const auto& [name, value] : env)
    if (value) entries.push_back(name + "=" + *value);
  // Children of a sanitizer run leave leak checks to the test processes themselves:
  // LeakSanitizer's tracer crashes now and then at the exit of these short-lived children (a
  // fault inside its runtime that reports nothing about our code), and the component they load
  // is leak-checked in-process by the other tests.
  if (!env.contains("ASAN_OPTIONS")) {
    const char* given = std::getenv("ASAN_OPTIONS");
    entries.erase(
        std::remove_if(entries.begin(), entries.end(),
                       [](const std::string& entry) { return entry.starts_with("ASAN_OPTIONS="); }),
        entries.end());
    entries.push_back(std::string("ASAN_OPTIONS=") + (given != nullptr ? given : "") +
                      (given != nullptr && *given != '\0' ? ":" : "") + "detect_leaks=0");
  }
  std::vector<std::string> args = argv;
  std::vector<char*> a, e;
  for (std::string& s : args) a.push_back(s.data());
  a.push_back(nullptr);
  for (std::string& s : entries) e.push_back(s.data());
  e.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&actions, 2, err_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  if (a[0] == nullptr || posix_spawn(&pid_, a[0], &actions, nullptr, a.data(), e.data()) != 0)
    pid_ = -1;
  posix_spawn_file_actions_destroy(&actions);
}

ChildProcess::~ChildProcess() {
  if (pid_ > 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  std::error_code ec;
  std::filesystem::remove(out_, ec);
  std::filesystem::remove(err_, ec);
}

void ChildProcess::Signal(int sig) const {
  if (pid_ > 0) kill(pid_, sig);
}

ChildResult ChildProcess::Wait(std::chrono::milliseconds limit) {
  ChildResult result;
  if (pid_ <= 0) return result;
  result.started = true;
  int status = 0;
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (waitpid(pid_, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      kill(pid_, SIGKILL);
      waitpid(pid_, &status, 0);
      result.timedOut = true;
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  pid_ = -1;
  if (WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
  result.out = ReadFile(out_);
  result.err = ReadFile(err_);
  return result;
}

}  // namespace quillbox::test
