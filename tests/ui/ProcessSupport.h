#pragma once
// Runs a program (usually this test executable again) with a changed environment and a time
// limit, and collects what it printed.

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace quillbox::test {

struct ProcessResult {
  bool started = false;
  bool timedOut = false;
  int exitCode = -1;   // -1 unless the process exited normally
  int signal = 0;      // the signal that ended it, 0 if none
  std::string output;  // standard output and error together
};

// `env`: variables to set (value) or remove (nullopt) for the child.
inline ProcessResult RunProcess(const std::vector<std::string>& args,
                                const std::map<std::string, std::optional<std::string>>& env,
                                int timeoutMs = 60000) {
  ProcessResult result;
  std::vector<std::string> entries;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string entry = *e;
    if (!env.contains(entry.substr(0, entry.find('=')))) entries.push_back(entry);
  }
  for (const auto& [name, value] : env)
    if (value) entries.push_back(name + "=" + *value);
  std::vector<char*> envp;
  envp.reserve(entries.size() + 1);
  for (std::string& entry : entries) envp.push_back(entry.data());
  envp.push_back(nullptr);
  std::vector<std::string> argStore = args;
  std::vector<char*> argv;
  argv.reserve(argStore.size() + 1);
  for (std::string& arg : argStore) argv.push_back(arg.data());
  argv.push_back(nullptr);

  const std::filesystem::path out =
      std::filesystem::temp_directory_path() /
      ("quillbox-ui-child-" + std::to_string(getpid()) + "-" +
       std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()) + ".txt");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  pid_t pid = 0;
  const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return result;
  result.started = true;

  int status = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      result.timedOut = true;
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  if (WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
  std::ifstream in(out);
  std::stringstream text;
  text << in.rdbuf();
  result.output = text.str();
  std::error_code ec;
  std::filesystem::remove(out, ec);
  return result;
}

inline std::string SelfPath() {
  std::error_code ec;
  return std::filesystem::read_symlink("/proc/self/exe", ec).string();
}

}  // namespace quillbox::test
