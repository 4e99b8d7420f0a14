// Linked into every test executable: each test process gets its own empty registry store and its
// own runtime folder (where the simulated modules keep what all processes of the machine share)
// in a fresh temporary folder, so tests never touch the user's store or modules and never see
// what another test left behind. Child processes started by a test inherit both. The tests'
// scratch files go there too.

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

class IsolatedRegistry {
 public:
  IsolatedRegistry() : owner_(getpid()) {
    const char* tmp = std::getenv("TMPDIR");
    std::string dir =
        std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/quillbox-test-XXXXXX";
    if (mkdtemp(dir.data()) == nullptr) {
      std::perror("quillbox tests: cannot make a temporary registry folder");
      std::abort();
    }
    dir_ = dir;
    setenv("QUILLBOX_REGISTRY", (dir_ + "/registry.sqlite3").c_str(), 1);
    setenv("QUILLBOX_RUNTIME_DIR", (dir_ + "/runtime").c_str(), 1);
    setenv("QUILLBOX_TEST_SCRATCH", dir_.c_str(), 1);  // for the tests' own files
  }
  ~IsolatedRegistry() {
    if (getpid() != owner_) return;  // a forked child leaves the folder to its parent
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  IsolatedRegistry(const IsolatedRegistry&) = delete;
  IsolatedRegistry& operator=(const IsolatedRegistry&) = delete;

 private:
  pid_t owner_;
  std::string dir_;
};

const IsolatedRegistry g_isolatedRegistry;

}  // namespace
