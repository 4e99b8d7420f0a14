// Runs the built quillbox command on benches with one or two USB modules and one on a serial
// port: the module --device (or QUILLBOX_DEVICE) opens, and the refusals that list the attached
// modules instead of opening another one.

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "ChildProcess.h"

namespace {

using Json = nlohmann::json;
using quillbox::test::ChildResult;
using quillbox::test::EnvChanges;
using quillbox::test::ScratchPrefix;

std::string BenchFile(const std::string& name, const Json& modules) {
  std::string path = ScratchPrefix() + name;
  std::ofstream(path) << Json{{"modules", modules}}.dump();
  return path;
}

TEST(CliDevice, OpensTheNamedModuleOrRefusesWithTheList) {
  const Json com2 = {{"attach", "com2"}, {"serial", "SERCOM02"}};
  const std::string one =
      BenchFile("dev-one.json", {{{"attach", "usb0"}, {"serial", "ONE00000"}}, com2});
  const std::string two = BenchFile("dev-two.json", {{{"attach", "usb0"}, {"serial", "TWO00000"}},
                                                     {{"attach", "usb3"}, {"serial", "TWO00003"}},
                                                     com2});
  const std::string twins =
      BenchFile("dev-twins.json", {{{"attach", "usb0"}, {"serial", "TWIN0000"}},
                                   {{"attach", "usb1"}, {"serial", "TWIN0000"}},
                                   com2});
  struct Case {
    const char* what;
    std::string bench;
    std::vector<std::string> device;  // --device VALUE, or QUILLBOX_DEVICE=VALUE
    std::string opened;               // serial of the opened module; "" for a refusal
    std::vector<std::string> listed;  // what a refusal lists
  };
  const std::vector<Case> cases = {
      {"unknown serial", one, {"--device", "NOSUCH00"}, "", {"USB1", "ONE00000"}},
      {"usb5, one module", one, {"QUILLBOX_DEVICE", "usb5"}, "", {"USB1", "ONE00000"}},
      {"usb1 is device 0", two, {"--device", "usb1"}, "TWO00000", {}},
      {"serial", two, {"QUILLBOX_DEVICE", "TWO00003"}, "TWO00003", {}},
      {"serial port", one, {"--device", "COM2"}, "SERCOM02", {}},
      {"duplicated serial", twins, {"--device", "TWIN0000"}, "", {"USB1", "USB2", "TWIN0000"}},
      {"two, no display", two, {}, "", {"USB1", "TWO00000", "USB4", "TWO00003", "--device"}},
  };
  for (const Case& c : cases) {
    EnvChanges env = {{"DISPLAY", std::nullopt},
                      {"WAYLAND_DISPLAY", std::nullopt},
                      {"QT_QPA_PLATFORM", "offscreen"},
                      {"QUILLBOX_DEVICE", std::nullopt}};
    std::vector<std::string> args = {QUILLBOX_CLI, "--bench", c.bench};
    if (!c.device.empty() && c.device[0] == "--device")
      args.insert(args.end(), c.device.begin(), c.device.end());
    else if (!c.device.empty())
      env[c.device[0]] = c.device[1];
    args.insert(args.end(), {"info", "--json"});
    const ChildResult r = quillbox::test::RunProcess(args, env);
    const Json info = Json::parse(r.out, nullptr, false);
    const bool detected = info.is_object() && info.value("detected", false);
    const std::string serial =
        detected ? info.value("board", Json::object()).value("serial", "") : "";
    EXPECT_EQ(serial, c.opened) << c.what << '\n' << r.err;
    EXPECT_EQ(r.exitCode, c.opened.empty() ? 1 : 0) << c.what << '\n' << r.err;
    for (const std::string& text : c.listed)
      EXPECT_NE(r.err.find(text), std::string::npos) << c.what << ": " << text << '\n' << r.err;
  }
}

}  // namespace
