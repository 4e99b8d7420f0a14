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
    Use(path_);
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

  // Points the registry functions at another file (the next call opens it).
  static void Use(const std::string& path) {
    setenv("QUILLBOX_REGISTRY", path.c_str(), 1);
    platform::RegistryReopen();
  }

  const std::string& path() const { return path_; }
  const std::string& dir() const { return dir_; }

 private:
  std::string previous_;
  std::string dir_;
  std::string path_;
};

class RegistryTest : public ::testing::Test {
 protected:
  TempRegistry registry_;
};

}  // namespace quillbox::testing
