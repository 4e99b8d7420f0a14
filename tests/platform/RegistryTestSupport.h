#pragma once
// A fresh registry store for one test: a temporary file that the registry functions switch
// to, removed with its folder at the end.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>

#include "platform/Registry.h"

namespace quillbox::testing {

class TempRegistry {
 public:
  TempRegistry() {
    if (const char* old = std::getenv("QUILLBOX_REGISTRY")) previous_ = old;
    std::string dir = (std::filesystem::temp_directory_path() / "qbreg-XXXXXX").string();
    if (mkdtemp(dir.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    dir_ = dir;
    path_ = dir_ + "/store/registry.sqlite3";
    setenv("QUILLBOX_REGISTRY", path_.c_str(), 1);
    platform::RegistryReopen();
  }
  ~TempRegistry() {
    if (previous_.empty())
      unsetenv("QUILLBOX_REGISTRY");
    else
      setenv("QUILLBOX_REGISTRY", previous_.c_str(), 1);
    platform::RegistryReopen();
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  TempRegistry(const TempRegistry&) = delete;
  TempRegistry& operator=(const TempRegistry&) = delete;

  const std::string& path() const { return path_; }
  const std::string& dir() const { return dir_; }

 private:
  std::string previous_;
  std::string dir_;
  std::string path_;
};

// Writes a value of any type and bytes under HKCU\subKey (made when missing), past the typed
// setters of the code under test.
template <class Bytes>
void SetRawValue(const std::string& subKey, const char* name, platform::DWORD type,
                 const Bytes& bytes) {
  platform::HKEY h = 0;
  ASSERT_EQ(platform::RegCreateKeyExA(platform::HKEY_CURRENT_USER, subKey.c_str(), 0, nullptr, 0,
                                      platform::KEY_ALL_ACCESS, nullptr, &h, nullptr),
            platform::ERROR_SUCCESS);
  ASSERT_EQ(platform::RegSetValueExA(h, name, 0, type,
                                     reinterpret_cast<const platform::BYTE*>(bytes.data()),
                                     static_cast<platform::DWORD>(bytes.size())),
            platform::ERROR_SUCCESS);
  platform::RegCloseKey(h);
}

class RegistryTest : public ::testing::Test {
 protected:
  TempRegistry registry_;
};

}  // namespace quillbox::testing
