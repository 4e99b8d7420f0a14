// Bench files: what is refused and how the refusal reads, and the empty library a refused bench
// leaves behind.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include <gmock/gmock.h>

#include "ChildProcess.h"
#include "SimTestSupport.h"

extern "C" const char* QuillboxBenchError();

namespace quillbox::sim::test {
namespace {

namespace fs = std::filesystem;
using quillbox::test::ScratchPrefix;
using ::testing::HasSubstr;

std::string Refusal(const std::string& json) {
  try {
    LoadBench(json);
  } catch (const BenchError& e) {
    return e.what();
  }
  return "(accepted)";
}

std::string Module(const std::string& body) {
  return R"({"modules": [{"attach": "usb0", )" + body + "}]}";
}

TEST_F(SimTest, RefusalsNameTheKeyPathAndTheProblem) {
  const struct {
    std::string json;
    std::string path;
    std::string what;
  } cases[] = {
      {Module(R"("slots": [{"type": 10}, null, {"type": 300}])"), "modules[0].slots[2].type",
       "0..254"},
      {Module(R"("serial": "1234567890")"), "modules[0].serial", "at most 9"},
      {Module(R"("eeprom": {"0": "00 1G"})"), "modules[0].eeprom.0", "bad hex"},
      {Module(R"("eeprom": {"9": "00"})"), "modules[0].eeprom.9", "\"0\"..\"8\""},
      {Module(R"("signals": {"m3": {"kind": "sine"}})"), "modules[0].signals.m3",
       "slot 1 is empty"},
      {Module(R"("signals": {"ad8": {"kind": "constant"}})"), "modules[0].signals.ad8",
       "unknown input"},
      {Module(R"("signals": {"ad1": {"kind": "ramp"}})"), "modules[0].signals.ad1.kind",
       "\"ramp\""},
      {Module(R"("signals": {"ad1": {"kind": "sine", "frequency": -1}})"),
       "modules[0].signals.ad1.frequency", "-1"},
      {Module(R"("signals": {"ttl0": {"kind": "counter", "amplitude": 1}})"),
       "modules[0].signals.ttl0.amplitude", "unknown key"},
      {R"({"modules": [{"attach": "usb8"}]})", "modules[0].attach", "\"usb8\""},
      {R"({"modules": [{"attach": "com2"}, {"attach": "com2"}]})", "modules[1].attach",
       "earlier module"},
      {R"({"modules": [{}]})", "modules[0].attach", "missing"},
      {R"({"modules": {}})", "modules", "array"},
  };
  for (const auto& c : cases) {
    const std::string message = Refusal(c.json);
    EXPECT_THAT(message, HasSubstr("bench text: " + c.path + ": ")) << c.json;
    EXPECT_THAT(message, HasSubstr(c.what)) << c.json;
  }
  EXPECT_THAT(Refusal(R"({"modules": [{"attach": "usb0",}]})"),
              HasSubstr("bench text: not valid JSON: parse error at line 1"));
}

TEST_F(SimTest, RefusedBenchLeavesNoModulesAndSaysWhy) {
  EXPECT_EQ(std::string(QuillboxBenchError()), "");
  const std::string path = ScratchPrefix() + "bad.json", big = ScratchPrefix() + "big.json";
  std::ofstream(path) << Module(R"("revision": -1)");
  EXPECT_THROW(LoadBenchFile(path), BenchError);
  const std::string message = QuillboxBenchError();
  EXPECT_EQ(message, LastBenchError());
  EXPECT_THAT(message, HasSubstr("bench file " + path + ": modules[0].revision: "));
  EXPECT_TRUE(Attachments().empty());
  EXPECT_EQ(platform::OpenDeviceNode(NodeName(0)), -1);

  // Files that are not a bench are refused before they are read: nothing may hang or fill memory.
  std::ofstream(big) << "x";
  fs::resize_file(big, (4u << 20) + 1);
  const std::pair<std::string, std::string> refusals[] = {
      {ScratchPrefix() + "missing.json", ": cannot be read: No such file"},
      {big, ": is too large (4194305 bytes, more than 4 MiB)"},
      {"/dev/zero", ": is a character device, not a regular file"},
      {fs::temp_directory_path().string(), ": is a directory"},
  };
  for (const auto& [file, what] : refusals) {
    try {
      LoadBenchFile(file);
      ADD_FAILURE() << file << " loaded";
    } catch (const BenchError& e) {
      EXPECT_THAT(e.what(), HasSubstr(file + what));
    }
  }

  fs::remove(path);
  fs::remove(big);
  LoadDefaultBench();
  EXPECT_EQ(std::string(QuillboxBenchError()), "");
  EXPECT_EQ(Attachments().size(), 1u);
}

}  // namespace
}  // namespace quillbox::sim::test
