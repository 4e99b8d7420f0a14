// Replays every input the fuzzers found a fault with (tests/regression/<target>/), together with
// the fuzz seeds (fuzz/corpus/<target>/), through the fuzz targets' own entry functions. A fault
// shows up as a failed check, an uncaught exception or a sanitizer report in the sanitizer
// presets; the name of the input is printed before it runs.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz/FuzzTargets.h"

namespace {

namespace fs = std::filesystem;
using Entry = int (*)(const uint8_t*, std::size_t);

std::vector<fs::path> Inputs(const std::string& target) {
  std::vector<fs::path> files;
  for (const fs::path& dir :
       {fs::path(QUILLBOX_REGRESSION_DIR) / target, fs::path(QUILLBOX_FUZZ_CORPUS_DIR) / target}) {
    std::error_code ec;
    for (const auto& item : fs::directory_iterator(dir, ec))
      if (item.is_regular_file()) files.push_back(item.path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

void Replay(const std::string& target, Entry entry, std::size_t atLeast) {
  quillbox::fuzz::PrepareProcess();
  const std::vector<fs::path> files = Inputs(target);
  ASSERT_GE(files.size(), atLeast) << "inputs of " << target << " are missing";
  for (const fs::path& file : files) {
    std::ifstream in(file, std::ios::binary);
    ASSERT_TRUE(in) << file;
    const std::vector<char> bytes{std::istreambuf_iterator<char>(in),
                                  std::istreambuf_iterator<char>()};
    std::fprintf(stderr, "replaying %s\n", file.c_str());
    EXPECT_EQ(entry(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()), 0) << file;
  }
}

TEST(FuzzRegression, Descriptor) { Replay("descriptor", quillbox::fuzz::FuzzDescriptor, 6); }
TEST(FuzzRegression, Bench) { Replay("bench", quillbox::fuzz::FuzzBench, 9); }
TEST(FuzzRegression, Settings) { Replay("settings", quillbox::fuzz::FuzzSettings, 3); }
TEST(FuzzRegression, HostCalls) { Replay("host_calls", quillbox::fuzz::FuzzHostCalls, 5); }

}  // namespace
