// Runs the built quillbox command on bench files and checks `info` and `devices`: the JSON
// contract, the exit codes and the error text, and which module --device (or QUILLBOX_DEVICE)
// opens, or the refusal that lists the attached modules instead.

#include "CliTestSupport.h"

namespace quillbox::test {
namespace {

TEST(CliInfo, JsonDescribesTheOpenedModule) {
  const std::string bench =
      BenchFile("cli-one.json",
                {{{"attach", "usb0"},
                  {"serial", "27000123"},
                  {"slots", {{{"type", 10}, {"version", {1, 2}}, {"serial", {5, "A", 1234}}}}},
                  {"dio", {{"inputs", 165}}}}});
  const ChildResult r = Quillbox({"--bench", bench, "info", "--json"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const Json j = Json::parse(r.out);
  const Json top = {{"detected", true}, {"last_error", ""}};
  EXPECT_EQ(Pick(j, top), top);
  EXPECT_NE(j["base_port"], 0);
  const Json board = {{"name", "E-270"},      {"revision", "A"},     {"port", "USB"},
                      {"serial", "27000123"}, {"processor", "ADSP"}, {"clock_hz", 24000000}};
  EXPECT_EQ(Pick(j["board"], board), board);
  ASSERT_EQ(j["slots"].size(), 8u);
  const Json slot = {{"slot", 1},
                     {"type", 10},
                     {"name", "U10"},
                     {"version", "1.2"},
                     {"serial", "5A001234"},
                     {"range",
                      "\xC2\xB1"
                      "10 V"},
                     {"unit", "V"},
                     {"offset", 16384}};
  EXPECT_EQ(Pick(j["slots"][0], slot), slot);
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

  const ChildResult text = Quillbox({"info"}, {{"QUILLBOX_BENCH", ""}});
  ASSERT_EQ(text.exitCode, 0) << text.err;
  for (const char* line : {"E-270 on USB", "Mezzanines", "Ranges", "Channels", "M1-Ch1_U10",
                           "AD-Ch8", "TTL-In8", "62.499996", "0x00A5 (165)"}) {
    EXPECT_NE(text.out.find(line), std::string::npos) << line;
  }
}

TEST(CliInfo, FailuresExitOneWithTheReasonAndUsageErrorsTwo) {
  const std::string none = BenchFile("cli-none.json", Json::array());
  const ChildResult json = Quillbox({"--bench", none, "info", "--json"});
  EXPECT_EQ(json.exitCode, 1);
  EXPECT_EQ(json.err, "quillbox: No found E-270 on USB or COM ports!\n");
  const Json j = Json::parse(json.out);
  EXPECT_EQ(Pick(j, {{"detected", false}, {"base_port", 0}}),
            Json({{"detected", false}, {"base_port", 0}}));
  EXPECT_EQ(j["last_error"], "No found E-270 on USB or COM ports!");

  const std::string crc = BenchFile("cli-crc.json", {{{"attach", "com3"}, {"crc_ok", false}}});
  for (const auto& [bench, said] :
       {std::pair{none, "No found E-270 on USB or COM ports!"}, {crc, "CRC error of module!"}}) {
    const ChildResult text = Quillbox({"--bench", bench, "info"});
    EXPECT_EQ(text.exitCode, 1);
    EXPECT_EQ(text.out, "");
    EXPECT_EQ(text.err, std::string("quillbox: ") + said + "\n");
  }
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"info", "--no-such-flag"}, {"info", "extra"}, {"devices", "--no-such-flag"}})
    EXPECT_EQ(Quillbox(args).exitCode, 2) << args[0] << " " << args[1];
}

TEST(CliDevices, ListsUsbModules) {
  const ChildResult r =
      Quillbox({"--bench",
                BenchFile("cli-two.json", {{{"attach", "usb4"}, {"serial", "SER00004"}},
                                           {{"attach", "usb1"}, {"serial", "SER00001"}},
                                           {{"attach", "com2"}, {"serial", "SER0COM2"}}}),
                "devices", "--json"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(Json::parse(r.out),
            Json::parse(R"([{"device": 1, "port": "USB2", "board": "E-270", "serial": "SER00001"},
                            {"device": 4, "port": "USB5", "board": "E-270", "serial": "SER00004"}])"));
  const ChildResult empty =
      Quillbox({"--bench", BenchFile("cli-nousb.json", Json::array()), "devices", "--json"});
  EXPECT_EQ(empty.exitCode, 0);
  EXPECT_EQ(Json::parse(empty.out), Json::array());
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
    std::vector<std::string> args = {"--bench", c.bench};
    if (!c.device.empty() && c.device[0] == "--device")
      args.insert(args.end(), c.device.begin(), c.device.end());
    else if (!c.device.empty())
      env[c.device[0]] = c.device[1];
    args.insert(args.end(), {"info", "--json"});
    const ChildResult r = Quillbox(args, env);
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
}  // namespace quillbox::test
