// Linked into every test executable: each test process gets its own empty registry store in a
// fresh temporary folder, so tests never read or write the user's store and never see the
// settings another test left behind. Child processes started by a test inherit the store.

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
