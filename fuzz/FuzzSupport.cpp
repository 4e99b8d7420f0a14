#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>

#include "fuzz/FuzzTargets.h"
#include "platform/Clock.h"
#include "platform/Registry.h"

namespace quillbox::fuzz {
namespace {

std::string g_folder;
pid_t g_owner = 0;

void RemoveFolder() {
  if (getpid() != g_owner || g_folder.empty()) return;
  std::error_code ec;
  std::filesystem::remove_all(g_folder, ec);
}

// QUILLBOX_FUZZ_TMPDIR when set (fuzz/run.sh removes it: libFuzzer ends its runs without the exit
// handlers), else memory-backed when possible: every registry write is a synchronous transaction.
std::string TemporaryBase() {
  if (const char* base = std::getenv("QUILLBOX_FUZZ_TMPDIR"); base != nullptr && *base != '\0')
    return base;
  std::error_code ec;
  if (std::filesystem::is_directory("/dev/shm", ec) && access("/dev/shm", W_OK) == 0)
    return "/dev/shm";
  const char* tmp = std::getenv("TMPDIR");
  return tmp != nullptr && *tmp != '\0' ? tmp : "/tmp";
}

}  // namespace

void PrepareProcess() {
  static std::once_flag once;
  std::call_once(once, [] {
    std::string dir = TemporaryBase() + "/quillbox-fuzz-XXXXXX";
    if (mkdtemp(dir.data()) == nullptr) {
      std::perror("quillbox fuzz: cannot make a temporary registry folder");
      std::abort();
    }
    g_folder = dir;
    g_owner = getpid();
    std::atexit(RemoveFolder);
    // Before the first input, while no thread of the targets runs.
    // NOLINTBEGIN(concurrency-mt-unsafe)
    setenv("QUILLBOX_REGISTRY", (dir + "/registry.sqlite3").c_str(), 1);
    setenv("QUILLBOX_RUNTIME_DIR", (dir + "/runtime").c_str(), 1);
    unsetenv("QUILLBOX_DEVICE");
    unsetenv("QUILLBOX_BENCH");
    // NOLINTEND(concurrency-mt-unsafe)
    platform::RegistryReopen();
    platform::SetTimeScale(kFuzzTimeScale);
  });
}

}  // namespace quillbox::fuzz
