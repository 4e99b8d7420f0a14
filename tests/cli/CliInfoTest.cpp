// Runs the built quillbox command on bench files and checks `info` and `devices`: the JSON
// contract, the exit codes and the error text.

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

ChildResult Quillbox(std::vector<std::string> args, const EnvChanges& env = {}) {
  args.insert(args.begin(), QUILLBOX_CLI);
  return quillbox::test::RunProcess(args, env);
}

std::string BenchFile(const std::string& name, const Json& bench) {
  std::string path = ScratchPrefix() + name;
  std::ofstream(path) << bench.dump();
  return path;
}

TEST(CliInfo, JsonDescribesTheOpenedModule) {
  const std::string bench =
      BenchFile("cli-one.json",
                {{"modules",
                  {{{"attach", "usb0"},
                    {"serial", "27000123"},
                    {"slots", {{{"type", 10}, {"version", {1, 2}}, {"serial", {5, "A", 1234}}}}},
                    {"dio", {{"inputs", 165}}}}}}});
  const ChildResult r = Quillbox({"--bench", bench, "info", "--json"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const Json j = Json::parse(r.out);
  EXPECT_EQ(j["detected"], true);
  EXPECT_EQ(j["last_error"], "");
  EXPECT_NE(j["base_port"], 0);
  EXPECT_EQ(j["board"]["name"], "E-270");
  EXPECT_EQ(j["board"]["revision"], "A");
  EXPECT_EQ(j["board"]["port"], "USB");
  EXPECT_EQ(j["board"]["serial"], "27000123");
  EXPECT_EQ(j["board"]["processor"], "ADSP");
  EXPECT_EQ(j["board"]["clock_hz"], 24000000);
  ASSERT_EQ(j["slots"].size(), 8u);
  const Json& slot = j["slots"][0];
  EXPECT_EQ(slot["slot"], 1);
  EXPECT_EQ(slot["type"], 10);
  EXPECT_EQ(slot["name"], "U10");
  EXPECT_EQ(slot["version"], "1.2");
  EXPECT_EQ(slot["serial"], "5A001234");
  EXPECT_EQ(slot["range"],
            "\xC2\xB1"
            "10 V");
  EXPECT_EQ(slot["unit"], "V");
  EXPECT_EQ(slot["offset"], 16384);
  EXPECT_EQ(j["slots"][1]["name"], "Empty");
  ASSERT_EQ(j["channels"].size(), 32u);
  EXPECT_EQ(j["channels"][0]["name"], "M1-Ch1_U10");
  EXPECT_EQ(j["channels"][31]["name"], "TTL-In8");
  for (const Json& ch : j["channels"]) {
    EXPECT_LT(ch["range"].get<std::size_t>(), j["ranges"].size());
  }
  ASSERT_EQ(j["ranges"].size(), 4u);  // ±10 V, ?? ??, 0…4.096 V, 0/1 TTL
  EXPECT_EQ(j["dio"],
            Json({{"detected", true}, {"di_bits", 8}, {"do_bits", 8}, {"di", 165}, {"do", 0}}));
  // Scales print as the float reads, not as its binary expansion.
  EXPECT_NE(r.out.find("\"scale\": 1638.4,"), std::string::npos);
  EXPECT_NE(r.out.find("\"scale\": 62.499996}"), std::string::npos);
  EXPECT_EQ(r.out.find("1638.4000"), std::string::npos);
}

TEST(CliInfo, NoModuleExitsOneWithTheReason) {
  const std::string bench = BenchFile("cli-none.json", {{"modules", Json::array()}});
  const ChildResult json = Quillbox({"--bench", bench, "info", "--json"});
  EXPECT_EQ(json.exitCode, 1);
  EXPECT_EQ(json.err, "quillbox: No found E-270 on USB or COM ports!\n");
  const Json j = Json::parse(json.out);
  EXPECT_EQ(j["detected"], false);
  EXPECT_EQ(j["last_error"], "No found E-270 on USB or COM ports!");
  EXPECT_EQ(j["base_port"], 0);

  const ChildResult text = Quillbox({"--bench", bench, "info"});
  EXPECT_EQ(text.exitCode, 1);
  EXPECT_EQ(text.out, "");
  EXPECT_EQ(text.err, "quillbox: No found E-270 on USB or COM ports!\n");
}

TEST(CliInfo, ChecksumFailureIsReported) {
  const std::string bench =
      BenchFile("cli-crc.json", {{"modules", {{{"attach", "com3"}, {"crc_ok", false}}}}});
  const ChildResult r = Quillbox({"--bench", bench, "info"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.err, "quillbox: CRC error of module!\n");
}

TEST(CliInfo, PlainTextListsSlotsRangesAndChannels) {
  const ChildResult r = Quillbox({"info"}, {{"QUILLBOX_BENCH", ""}});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  for (const char* text : {"E-270 on USB", "Mezzanines", "Ranges", "Channels", "M1-Ch1_U10",
                           "AD-Ch8", "TTL-In8", "62.499996", "0x00A5 (165)"}) {
    EXPECT_NE(r.out.find(text), std::string::npos) << text;
  }
}

TEST(CliInfo, UsageErrorsExitTwo) {
  EXPECT_EQ(Quillbox({"info", "--no-such-flag"}).exitCode, 2);
  EXPECT_EQ(Quillbox({"info", "extra"}).exitCode, 2);
  EXPECT_EQ(Quillbox({"devices", "--no-such-flag"}).exitCode, 2);
}

TEST(CliDevices, ListsUsbModules) {
  const std::string bench =
      BenchFile("cli-two.json", {{"modules",
                                  {{{"attach", "usb4"}, {"serial", "SER00004"}},
                                   {{"attach", "usb1"}, {"serial", "SER00001"}},
                                   {{"attach", "com2"}, {"serial", "SER0COM2"}}}}});
  const ChildResult r = Quillbox({"--bench", bench, "devices", "--json"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(Json::parse(r.out),
            Json::parse(R"([{"device": 1, "port": "USB2", "board": "E-270", "serial": "SER00001"},
                            {"device": 4, "port": "USB5", "board": "E-270", "serial": "SER00004"}])"));

  const std::string none = BenchFile("cli-nousb.json", {{"modules", Json::array()}});
  const ChildResult empty = Quillbox({"--bench", none, "devices", "--json"});
  EXPECT_EQ(empty.exitCode, 0);
  EXPECT_EQ(Json::parse(empty.out), Json::array());
}

}  // namespace
