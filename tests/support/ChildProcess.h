#pragma once
// Starts a program (the quillbox command, or a test executable again) without a shell, with a
// changed environment, and collects its exit and what it printed. Output goes to files under a
// prefix unique to the test process, so tests that ctest runs side by side never share one.

#include <sys/types.h>

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace quillbox::test {

struct ChildResult {
  bool started = false;
  bool timedOut = false;
  int exitCode = -1;  // -1 unless the process exited normally
  int signal = 0;     // the signal that ended it, 0 if none
  std::string out, err;

  std::string Output() const { return out + err; }
};

// Variables to set (value) or remove (nullopt) for the child; the rest is inherited.
using EnvChanges = std::map<std::string, std::optional<std::string>>;

class ChildProcess {
 public:
  // argv[0] is the program's path. Standard input is /dev/null.
  ChildProcess(const std::vector<std::string>& argv, const EnvChanges& env);
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  ~ChildProcess();  // kills a child that is still running

  void Signal(int sig) const;
  pid_t Pid() const { return pid_; }
  // Waits for the end; past `limit` the child is killed and the result says so.
  ChildResult Wait(std::chrono::milliseconds limit = std::chrono::minutes(1));

 private:
  pid_t pid_ = -1;
  std::string out_, err_;
};

inline ChildResult RunProcess(const std::vector<std::string>& argv, const EnvChanges& env = {},
                              std::chrono::milliseconds limit = std::chrono::minutes(1)) {
  return ChildProcess(argv, env).Wait(limit);
}

// A temporary path prefix unique to this test process, removed with it.
std::string ScratchPrefix();

std::string ReadFile(const std::string& path);

// The path of the running executable.
std::string SelfPath();

}  // namespace quillbox::test
