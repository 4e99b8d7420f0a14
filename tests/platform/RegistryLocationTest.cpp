// Where the registry store lives when QUILLBOX_REGISTRY does not name it: the user's
// configuration folder ($XDG_CONFIG_HOME, else ~/.config, else the password database's home),
// with private folders and a private file.

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "RegistryTestSupport.h"
#include "platform/Registry.h"

namespace quillbox::platform {
namespace {

namespace fs = std::filesystem;

// Sets or removes environment variables for one test and puts them back afterwards.
class Environment {
 public:
  Environment() {
    for (const char* name : kNames) {
      const char* value = std::getenv(name);
      saved_.push_back(value != nullptr ? std::optional<std::string>(value) : std::nullopt);
    }
  }
  ~Environment() {
    for (std::size_t i = 0; i < std::size(kNames); ++i) {
      if (saved_[i])
        setenv(kNames[i], saved_[i]->c_str(), 1);
      else
        unsetenv(kNames[i]);
    }
    RegistryReopen();
  }
  Environment(const Environment&) = delete;
  Environment& operator=(const Environment&) = delete;

  static void Set(const char* name, const std::string& value) { setenv(name, value.c_str(), 1); }
  static void Unset(const char* name) { unsetenv(name); }

 private:
  static constexpr const char* kNames[] = {"QUILLBOX_REGISTRY", "XDG_CONFIG_HOME", "HOME"};
  std::vector<std::optional<std::string>> saved_;
};

unsigned Mode(const fs::path& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return 0;
  return st.st_mode & 0777u;
}

// Creates a key, so that the store file must exist afterwards.
bool Write() {
  HKEY key = 0;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Probe", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                      &key, nullptr) != ERROR_SUCCESS)
    return false;
  RegCloseKey(key);
  return true;
}

class RegistryLocation : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string dir = (fs::temp_directory_path() / "qbloc-XXXXXX").string();
    ASSERT_NE(mkdtemp(dir.data()), nullptr);
    dir_ = dir;
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  fs::path dir_;
  Environment env_;
};

TEST_F(RegistryLocation, ConfigHomeHoldsAPrivateStore) {
  Environment::Unset("QUILLBOX_REGISTRY");
  Environment::Set("XDG_CONFIG_HOME", (dir_ / "xdg").string());
  fs::create_directory(dir_ / "xdg");
  RegistryReopen();
  const fs::path expected = dir_ / "xdg" / "quillbox" / "registry.sqlite3";
  EXPECT_EQ(RegistryPath(), expected.string());
  ASSERT_TRUE(Write());
  EXPECT_TRUE(fs::exists(expected));
  EXPECT_EQ(Mode(expected), 0600u);
  EXPECT_EQ(Mode(expected.parent_path()), 0700u);
}

TEST_F(RegistryLocation, RelativeConfigHomeFallsBackToHome) {
  // A relative XDG_CONFIG_HOME is invalid and ignored; missing folders below HOME are made.
  Environment::Unset("QUILLBOX_REGISTRY");
  Environment::Set("XDG_CONFIG_HOME", "relative/config");
  Environment::Set("HOME", (dir_ / "home").string());
  fs::create_directory(dir_ / "home");
  RegistryReopen();
  const fs::path expected = dir_ / "home" / ".config" / "quillbox" / "registry.sqlite3";
  EXPECT_EQ(RegistryPath(), expected.string());
  ASSERT_TRUE(Write());
  EXPECT_TRUE(fs::exists(expected));
  EXPECT_EQ(Mode(dir_ / "home" / ".config"), 0700u);
  EXPECT_FALSE(fs::exists("relative"));
}

TEST_F(RegistryLocation, WithoutHomeTheAccountsHomeFolderServes) {
  Environment::Unset("QUILLBOX_REGISTRY");
  Environment::Unset("XDG_CONFIG_HOME");
  Environment::Unset("HOME");
  RegistryReopen();
  const passwd* pw = getpwuid(geteuid());
  ASSERT_NE(pw, nullptr);
  // Only the name is looked at: nothing is written into the real home folder.
  EXPECT_EQ(RegistryPath(), std::string(pw->pw_dir) + "/.config/quillbox/registry.sqlite3");
}

TEST_F(RegistryLocation, ExplicitStoreWinsOverTheConfigFolder) {
  Environment::Set("QUILLBOX_REGISTRY", (dir_ / "mine.db").string());
  Environment::Set("XDG_CONFIG_HOME", (dir_ / "xdg").string());
  RegistryReopen();
  EXPECT_EQ(RegistryPath(), (dir_ / "mine.db").string());
  ASSERT_TRUE(Write());
  EXPECT_TRUE(fs::exists(dir_ / "mine.db"));
  EXPECT_FALSE(fs::exists(dir_ / "xdg"));
}

}  // namespace
}  // namespace quillbox::platform
