// Runs the built quillbox command on bench files and checks `info` and `devices`: the JSON
// contract, the exit codes and the error text, and which module --device opens, or the refusal that
// lists the attached modules instead; and what a partial installation says.

#include <filesystem>
#include <regex>
#include <set>

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
  const Json board = {{"name", "E-270"}, {"port", "USB"}, {"serial", "27000123"}};
  EXPECT_EQ(Pick(j["board"], board), board);
  ASSERT_EQ(j["slots"].size(), 8u);
  const Json slot = {
      {"slot", 1}, {"name", "U10"}, {"version", "1.2"}, {"serial", "5A001234"}, {"offset", 16384}};
  EXPECT_EQ(Pick(j["slots"][0], slot), slot);
  EXPECT_EQ(j["slots"][1]["name"], "Empty");
  ASSERT_EQ(j["channels"].size(), 32u);
  EXPECT_EQ(j["channels"][0]["name"], "M1-Ch1_U10");
  EXPECT_EQ(j["channels"][31]["name"], "TTL-In8");
  EXPECT_EQ(j["dio"],
            Json({{"detected", true}, {"di_bits", 8}, {"do_bits", 8}, {"di", 165}, {"do", 0}}));
  // Scales print as the float reads, not as its binary expansion.
  EXPECT_NE(r.out.find("\"scale\": 1638.4,"), std::string::npos);
  EXPECT_NE(r.out.find("\"scale\": 62.499996}"), std::string::npos);
  EXPECT_EQ(r.out.find("1638.4000"), std::string::npos);

  const ChildResult text = Quillbox({"info"}, {{"QUILLBOX_BENCH", ""}});
  ASSERT_EQ(text.exitCode, 0) << text.err;
  for (const char* line : {"E-270 on USB", "M1-Ch1_U10", "TTL-In8", "62.499996", "0x00A5 (165)"}) {
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

  const ChildResult text = Quillbox({"--bench", none, "info"});
  EXPECT_EQ(text.exitCode, 1);
  EXPECT_EQ(text.out, "");
  EXPECT_EQ(text.err, json.err);
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"info", "--no-such-flag"}, {"info", "extra"}, {"devices", "--no-such-flag"}}) {
    const ChildResult usage = Quillbox(args);
    EXPECT_EQ(usage.exitCode, 2) << args[0] << " " << args[1];
    EXPECT_TRUE(usage.err.starts_with("quillbox: ")) << usage.err;
    EXPECT_TRUE(usage.err.ends_with("Run 'quillbox " + args[0] + " --help' for its options.\n"))
        << usage.err;
  }
  // A time scale the clock cannot run at is refused, never taken for real time.
  for (const char* scale : {"1e6", "0", "-5", "fast", "20x", "nan"}) {
    const ChildResult r = Quillbox({"info"}, {{"QUILLBOX_TIME_SCALE", scale}});
    EXPECT_EQ(r.exitCode, 1) << scale;
    EXPECT_TRUE(r.err.starts_with("quillbox: QUILLBOX_TIME_SCALE=" + std::string(scale) +
                                  ": the clock runs from 0.001 to 999999"))
        << r.err;
  }
}

// The help names each option's value as a user would (FILE, SECONDS, csv|hdf5), never the
// parser's types and checks; a bare `quillbox` lists the commands.
// What a command loads: the settings store's SQLite and the component only for commands that use
// them, libsystemd only under a service manager.
TEST(CliStartup, CommandsLoadOnlyWhatTheyUse) {
  const std::regex lazy(R"(libsqlite3|libquillbox_registry|Quillbox\.adc|libsystemd)");
  const std::string recording = ScratchPrefix() + "loads.csv";
  ASSERT_EQ(Quillbox({"record", "-c", "0", "-n", "5", "-o", recording}).exitCode, 0);
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      // libsystemd comes with Qt's D-Bus library here, not from the command.
      {{"plot", recording, "-o", recording + ".png"}, "libsystemd"},
      {{"--help"}, ""},
      {{"--version"}, ""},
      {{"generate", "man"}, ""},
      {{"record", "--help"}, ""},
      {{"info"}, "Quillbox.adc libquillbox_registry libsqlite3"},
      {{"record", "-c", "0", "-n", "1", "-o", "-"}, "Quillbox.adc libquillbox_registry libsqlite3"},
  };
  for (const auto& [args, expected] : cases) {
    const ChildResult r = Quillbox(args, {{"LD_DEBUG", "libs"}, {"NOTIFY_SOCKET", std::nullopt}});
    EXPECT_EQ(r.exitCode, 0) << args[0];
    std::set<std::string> loaded;
    for (std::sregex_iterator it(r.err.begin(), r.err.end(), lazy), end; it != end; ++it)
      loaded.insert(it->str());
    std::string names;
    for (const std::string& name : loaded) names += (names.empty() ? "" : " ") + name;
    EXPECT_EQ(names, expected) << args[0] << " " << (args.size() > 1 ? args[1] : "");
  }
}

TEST(CliHelp, ShowsValueNamesAndNoParserInternals) {
  const ChildResult bare = Quillbox({});
  EXPECT_EQ(bare.exitCode, 0);
  const std::regex internals(
      R"([A-Z]:[A-Z{]| in \[|Excludes|Needs|Subcommand|\b(TEXT|FLOAT|U?INT)\b)");
  for (const char* command : {"about", "devices", "info", "settings", "register", "record", "read",
                              "dio", "setup", "scope", "plot", "upload"}) {
    EXPECT_NE(bare.out.find("\n  " + std::string(command) + " "), std::string::npos) << command;
    const ChildResult help = Quillbox({command, "--help"});
    EXPECT_EQ(help.exitCode, 0) << command;
    EXPECT_FALSE(std::regex_search(help.out, internals)) << help.out;
  }
}

TEST(CliDevices, ListsUsbModules) {
  const std::string bench =
      BenchFile("cli-two.json", {{{"attach", "usb4"}, {"serial", "SER00004"}},
                                 {{"attach", "usb1"}, {"serial", "SER00001"}},
                                 {{"attach", "com2"}, {"serial", "SER0COM2"}}});
  const ChildResult r = Quillbox({"--bench", bench, "devices", "--json"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(Json::parse(r.out),
            Json::parse(R"([{"device": 1, "port": "USB2", "board": "E-270", "serial": "SER00001"},
                            {"device": 4, "port": "USB5", "board": "E-270", "serial": "SER00004"}])"));
  // The table on standard output, the hint on standard error.
  const ChildResult text = Quillbox({"--bench", bench, "devices"});
  EXPECT_EQ(text.out.find("Choose one"), std::string::npos) << text.out;
  EXPECT_TRUE(text.err.starts_with("Choose one with --device")) << text.err;
}

// `about` names the component loaded and how it was found; `register --remove` undoes a
// registration.
TEST(CliRegister, AboutNamesTheComponentAndRemoveUndoesTheRegistration) {
  const std::string beside =
      (std::filesystem::path(QUILLBOX_CLI).parent_path() / "Quillbox.adc").string();
  const std::pair<std::vector<std::string>, const char*> steps[] = {
      {{}, "beside the program"},
      {{"register"}, "registered"},
      {{"register", "--remove"}, "beside the program"}};
  for (const auto& [command, found] : steps) {
    if (!command.empty()) {
      ASSERT_EQ(Quillbox(command).exitCode, 0) << command.back();
    }
    const Json component = Json::parse(Quillbox({"about", "--json"}).out)["component"];
    EXPECT_EQ(component, Json({{"path", beside}, {"found", found}}));
  }
}

// Which value names which module is tried on the device layer; here that --device and
// QUILLBOX_DEVICE reach the component, that a refusal is followed by every module the open
// listed, and that a dialog that gave no choice is said when a serial port was opened instead.
TEST(CliDevice, OpensTheNamedModuleOrRefusesWithTheList) {
  const std::string three =
      BenchFile("dev-three.json", {{{"attach", "usb0"}, {"serial", "TWO00000"}},
                                   {{"attach", "usb3"}, {"serial", "TWO00003"}},
                                   {{"attach", "usb5"}, {"serial", "TWO00003"}},
                                   {{"attach", "com2"}, {"serial", "SERCOM02"}}});
  const EnvChanges headless = {{"DISPLAY", std::nullopt},
                               {"WAYLAND_DISPLAY", std::nullopt},
                               {"QT_QPA_PLATFORM", "offscreen"},
                               {"QUILLBOX_DEVICE", std::nullopt}};
  const std::string list =
      "  Device  Port  Board  Serial\n"
      "       0  USB1  E-270  TWO00000\n"
      "       3  USB4  E-270  TWO00003\n"
      "       5  USB6  E-270  TWO00003\n"
      "Choose one with --device and its serial or its port as listed, or COM1..COM8 for a module "
      "on a serial port.\n";
  const struct {
    std::vector<std::string> device;
    EnvChanges env;
    std::string refusal;  // "" when USB4 opens
  } cases[] = {
      {{"--device", "usb4"}, {{"QUILLBOX_DEVICE", "NOSUCH00"}}, ""},
      {{"--device", "NOSUCH00"}, {}, "--device \"NOSUCH00\" names no attached E-270 module"},
      {{"--device", "TWO00003"}, {}, "--device \"TWO00003\" names 2 attached E-270 modules"},
      {{},
       {{"QUILLBOX_DEVICE", "usb9"}},
       "QUILLBOX_DEVICE \"usb9\" names no attached E-270 module"},
      {{}, {}, "3 E-270 modules are attached on USB and there is no display to choose one on"},
      {{},
       {{"DISPLAY", ":987"}, {"QT_QPA_PLATFORM", "xcb"}},
       "3 E-270 modules are attached on USB and the device dialog cannot tell them apart"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = {"--bench", three};
    args.insert(args.end(), c.device.begin(), c.device.end());
    args.insert(args.end(), {"info", "--json"});
    EnvChanges env = headless;
    for (const auto& [name, value] : c.env) env[name] = value;
    const ChildResult r = Quillbox(args, env);
    if (c.refusal.empty()) {
      ASSERT_EQ(r.exitCode, 0) << r.err;
      EXPECT_EQ(Json::parse(r.out)["board"]["port"], "USB");
      EXPECT_EQ(Json::parse(r.out)["board"]["serial"], "TWO00003");
    } else {
      EXPECT_EQ(r.exitCode, 1);
      EXPECT_EQ(r.err, "quillbox: " + c.refusal + ":\n" + list);
    }
  }

  // A display that does not answer: the dialog gives no choice, and the serial port opens.
  const std::string two = BenchFile("dev-two.json", {{{"attach", "usb0"}, {"serial", "TWO00000"}},
                                                     {{"attach", "usb3"}, {"serial", "TWO00003"}},
                                                     {{"attach", "com2"}, {"serial", "SERCOM02"}}});
  EnvChanges unanswered = headless;
  unanswered["DISPLAY"] = ":987";
  unanswered["QT_QPA_PLATFORM"] = std::nullopt;
  const ChildResult r = Quillbox({"--bench", two, "info", "--json"}, unanswered);
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(Json::parse(r.out)["board"]["serial"], "SERCOM02");
  EXPECT_NE(r.err.find("no USB module was chosen in the device dialog; opened the module on COM2"),
            std::string::npos)
      << r.err;
  // Without a module on a serial port the open fails: the missing choice is said first.
  const std::string usb = BenchFile("dev-usb.json", {{{"attach", "usb0"}, {"serial", "TWO00000"}},
                                                     {{"attach", "usb3"}, {"serial", "TWO00003"}}});
  const ChildResult none = Quillbox({"--bench", usb, "info"}, unanswered);
  EXPECT_NE(none.err.find("\nquillbox: no module was chosen in the device dialog (No "),
            std::string::npos)
      << none.err;
}

// A partial or mixed installation: the dialogs plug-in missing, foreign or damaged is said with
// its path, and the commands without a window go on working.
TEST(CliPlugins, AMissingOrForeignDialogsPluginIsSaidAndInfoStillWorks) {
  namespace fs = std::filesystem;
  const fs::path built = fs::path(QUILLBOX_CLI).parent_path();
  const fs::path dir = ScratchPrefix() + "partial";
  fs::create_directories(dir);
  for (const char* file : {"quillbox", "Quillbox.adc", "libE270API.so", "libquillbox_host.so",
                           "libquillbox_platform.so"})
    fs::copy_file(built / file, dir / file, fs::copy_options::overwrite_existing);
  const std::string quillbox = (dir / "quillbox").string();
  const fs::path plugin = dir / "QuillboxUi.so";
  const EnvChanges env = {{"QT_QPA_PLATFORM", "offscreen"}, {"QUILLBOX_BENCH", std::nullopt}};
  // Without the registry's store library nothing is kept, which is said once; the command works.
  const ChildResult noStore = RunProcess({quillbox, "info", "--json"}, env);
  EXPECT_EQ(noStore.exitCode, 0);
  EXPECT_NE(
      noStore.err.find("quillbox: settings store " + (dir / "libquillbox_registry.so").string() +
                       ": cannot open shared object file"),
      std::string::npos)
      << noStore.err;
  fs::copy_file(built / "libquillbox_registry.so", dir / "libquillbox_registry.so",
                fs::copy_options::overwrite_existing);
  const std::pair<const char*, std::string> cases[] = {
      {nullptr, plugin.string() + " is missing"},
      {"libE270API.so", plugin.string() + " does not belong to this component"},
      {"", "cannot be loaded: " + plugin.string()},
  };
  for (const auto& [copy, said] : cases) {
    if (copy != nullptr && *copy != 0)
      fs::copy_file(built / copy, plugin, fs::copy_options::overwrite_existing);
    else if (copy != nullptr)
      std::ofstream(plugin) << "not a library";
    const ChildResult r =
        RunProcess({quillbox, "setup", "--screenshot", (dir / "shot").string()}, env);
    EXPECT_EQ(r.exitCode, 1) << said;
    EXPECT_NE(r.err.find(said), std::string::npos) << r.err;
    EXPECT_EQ(RunProcess({quillbox, "info", "--json"}, env).exitCode, 0) << said;
  }
}

}  // namespace
}  // namespace quillbox::test
