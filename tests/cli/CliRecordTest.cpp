// Runs the built quillbox command: record (the exact rows and description, signals, the safety of
// the files, standard output), read and dio, on bench files at an accelerated clock. How each
// front end ends a recording (a clean end, a stall, Ctrl-C, refused requests) is the scenario
// table of tests/python/test_scenarios.py.

#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <filesystem>
#include <memory>
#include <regex>
#include <sstream>
#include <thread>

#include "CliTestSupport.h"

namespace quillbox::test {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::vector<std::string> Cells(const std::string& line) {
  std::vector<std::string> cells;
  std::istringstream in(line);
  for (std::string cell; std::getline(in, cell, ',');) cells.push_back(cell);
  return cells;
}

// One module: slot 0 a "U20" (zero offset) whose first channel reads the frame number, direct
// input 0 the frame number's low byte, TTL line 2 high; `faults` as given.
std::string Bench(const std::string& name, Json faults = Json::object()) {
  return BenchFile(name, {{{"attach", "usb0"},
                           {"serial", "27000999"},
                           {"slots", {{{"type", 11}}}},
                           {"signals",
                            {{"m0", {{"kind", "counter"}}},
                             {"ad0", {{"kind", "counter"}}},
                             {"ttl2", {{"kind", "constant"}, {"value", 1}}}}},
                           {"dio", {{"inputs", 0x81}}},
                           {"faults", faults}}});
}

const EnvChanges kFast = {{"QUILLBOX_TIME_SCALE", "50"}};

// The CSV's rows after the header: frame numbers step by one with their times, the counter
// (column 2, `scales.first` codes per unit) steps by one and direct input 0 (column 3) is its
// low byte. Raw recordings hold codes (scales of one).
void ExpectCountingRows(const std::vector<std::string>& rows, double rate,
                        std::pair<double, double> scales = {1.0, 1.0}) {
  const std::size_t width = Cells(rows.at(0)).size();
  for (std::size_t i = 1; i < rows.size(); ++i) {
    const auto cells = Cells(rows[i]);
    ASSERT_EQ(cells.size(), width) << rows[i];
    const long frame = std::stol(cells[0]);
    EXPECT_EQ(frame, static_cast<long>(i - 1));
    EXPECT_NEAR(std::stod(cells[1]), static_cast<double>(frame) / rate, 1e-6);
    const long counter = std::lround(std::stod(cells[2]) * scales.first);
    EXPECT_EQ(std::lround(std::stod(cells[3]) * scales.second), counter & 0xFF) << rows[i];
    if (i > 1) {
      EXPECT_EQ(counter, std::lround(std::stod(Cells(rows[i - 1])[2]) * scales.first) + 1)
          << rows[i];
    }
  }
}

TEST(CliRecord, WritesEveryFrameInUnitsAndDescribesTheRecording) {
  const std::string csv = ScratchPrefix() + "units.csv";
  const ChildResult r = Quillbox(
      {"--bench", Bench("b1.json"), "record", "-c", "0,16,26", "-r", "7", "-d", "3000ms", "-o",
       csv},
      {{"QUILLBOX_TIME_SCALE", "10"}});  // the 2 s of grace after -d must not shrink to nothing
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("Recorded 21 frames of 3 channels at 7.0008"), std::string::npos) << r.out;
  const Json j = Description(csv);
  EXPECT_TRUE(std::regex_match(j["start_utc"].get<std::string>(),
                               std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d(\.\d+)?Z)")));
  const Json described = {
      {"rate_requested", 7.0}, {"channels", {0, 16, 26}}, {"frames", 21}, {"serial", "27000999"}};
  EXPECT_EQ(Pick(j, described), described);
  const double rate = j["rate"];
  EXPECT_NEAR(rate, 7.0008, 5e-5);
  const auto rows = Lines(ReadFile(csv));
  ASSERT_EQ(rows.size(), 1u + 21u);  // round(3 s x 7.0008 Hz)
  std::string header = "frame,time_s";
  for (std::size_t c = 0; c < 3; ++c)
    header += "," + j["names"].at(c).get<std::string>() + " (" +
              j["units"].at(c).get<std::string>() + ")";
  EXPECT_EQ(rows[0], header);
  ExpectCountingRows(rows, rate, {j["scales"][0], j["scales"][1]});
  for (std::size_t i = 1; i < rows.size(); ++i)
    EXPECT_EQ(std::stod(Cells(rows[i])[4]), 1.0);  // TTL high: 1000 codes / 1000 per TTL
  // The exact text: the time rounded to the microsecond (6 / 7.00084 Hz is 0.85703998... s),
  // values with seven significant digits (6 / 1638.4 V and 6 / 62.499996 V).
  EXPECT_EQ(rows[7], "6,0.857040,0.003662109,0.09600001,1");
}

// Starts a recording of channels 0 and 16 at 100 Hz (until stopped, unless `extra` gives its
// length), and waits until its CSV holds `rows` lines.
std::unique_ptr<ChildProcess> StartRecording(const std::string& csv, std::size_t rows,
                                             std::vector<std::string> extra = {},
                                             const std::string& scale = "10") {
  std::vector<std::string> args = {
      QUILLBOX_CLI, "--bench", Bench("long.json"), "record", "-c", "0,16", "-r", "100", "--raw",
      "-o",         csv};
  args.insert(args.end(), extra.begin(), extra.end());
  if (std::find(extra.begin(), extra.end(), "-n") == extra.end())
    args.insert(args.end(), {"-d", "100000"});
  auto p = std::make_unique<ChildProcess>(args, EnvChanges{{"QUILLBOX_TIME_SCALE", scale}});
  const auto end = std::chrono::steady_clock::now() + 20s;
  while (Lines(ReadFile(csv)).size() < rows && std::chrono::steady_clock::now() < end)
    std::this_thread::sleep_for(10ms);
  return p;
}

// Whether `sig` waits to be delivered to process `pid`.
bool Pending(pid_t pid, int sig) {
  std::istringstream status(ReadFile("/proc/" + std::to_string(pid) + "/status"));
  for (std::string line; std::getline(status, line);)
    if (line.starts_with("ShdPnd:"))
      return (std::stoull(line.substr(7), nullptr, 16) >> (sig - 1)) & 1;
  return false;
}

TEST(CliRecord, StopSignalsEndLikeTheEndWithEveryFrameWrittenAndASecondOneAtOnce) {
  // Ctrl-C is in the scenario table; the others end the same way, with the stop output set.
  for (const auto& [sig, name] : {std::pair{SIGTERM, "SIGTERM"}, std::pair{SIGHUP, "SIGHUP"}}) {
    const std::string csv = ScratchPrefix() + "sig" + std::to_string(sig) + ".csv";
    auto p = StartRecording(csv, 50, {"--do-stop", "0x03"});
    p->Signal(sig);
    const ChildResult r = p->Wait();
    ASSERT_EQ(r.exitCode, 0) << sig << r.err;
    const auto rows = Lines(ReadFile(csv));
    ASSERT_GE(rows.size(), 50u);
    const Json j = Description(csv);
    EXPECT_EQ(j["frames"], rows.size() - 1);
    EXPECT_EQ(j["complete"], true);
    EXPECT_EQ(j["stop_reason"], name);
    ExpectCountingRows(rows, 100.0);
    const Json dio = Json::parse(Quillbox({"--bench", Bench("long.json"), "dio", "--json"}).out);
    EXPECT_EQ(dio["outputs"], 0x03) << "the stop output of a recording ended by " << sig;
  }

  // The stop waits for the frames of the time the recording ran, which a module whose data calls
  // fail never delivers (2 s at the real clock): a second Ctrl-C meanwhile ends the process.
  const std::string csv = ScratchPrefix() + "twice.csv";
  ChildProcess p({QUILLBOX_CLI, "--bench", Bench("nodata.json", {{"data_calls_fail", true}}),
                  "record", "-c", "0", "-r", "100", "-d", "60", "-o", csv},
                 {{"QUILLBOX_TIME_SCALE", "1"}});
  // The description is written once the signals are caught.
  for (int i = 0; i < 2000 && !fs::exists(csv + ".json"); ++i) std::this_thread::sleep_for(10ms);
  std::this_thread::sleep_for(100ms);
  p.Signal(SIGINT);
  for (int i = 0; i < 2000 && Pending(p.Pid(), SIGINT); ++i) std::this_thread::sleep_for(1ms);
  p.Signal(SIGINT);
  const ChildResult r = p.Wait();
  EXPECT_EQ(r.signal, SIGINT) << r.exitCode << r.err;
}

// Stopped (Ctrl-Z) for 3 s of the module's clock at a time and continued, the recording takes
// the frames the module held meanwhile: the time it did not run is not the module's silence.
// Four stops: one shows a miscounted silence only when the first poll after it comes before the
// acquisition thread has fetched the backlog, which is up to the scheduler.
TEST(CliRecord, AProcessStoppedAndContinuedIsNoStalledModule) {
  const std::string csv = ScratchPrefix() + "stopped.csv";
  auto p = StartRecording(csv, 20, {"-n", "3000"}, "5");
  for (int i = 0; i < 4; ++i) {
    std::this_thread::sleep_for(600ms);
    p->Signal(SIGSTOP);
    std::this_thread::sleep_for(600ms);
    p->Signal(SIGCONT);
  }
  const ChildResult r = p->Wait();
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const Json j = Description(csv);
  const Json ended = {{"stop_reason", "end"}, {"frames", 3000}, {"frames_expected", 3000}};
  EXPECT_EQ(Pick(j, ended), ended);
  ExpectCountingRows(Lines(ReadFile(csv)), 100.0);
}

TEST(CliRecord, FilesAreNeitherClobberedNorSharedAndAKilledRunLeavesThemWellFormed) {
  const std::string csv = ScratchPrefix() + "kill.csv";
  auto p = StartRecording(csv, 60, {"--sync-every", "0"});
  ChildResult r = Quillbox({"record", "-n", "5", "-o", csv}, kFast);
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.err,
            "quillbox: " + csv + " exists; choose another name or use --force to replace it\n");
  r = Quillbox({"record", "-n", "5", "--force", "-o", csv}, kFast);
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.err, "quillbox: " + csv + " is being written by another recording\n");

  // The module is in use here: said first, the component's text after it.
  r = Quillbox({"--bench", Bench("long.json"), "read", "0"});
  EXPECT_TRUE(r.err.starts_with("quillbox: the module on USB1 is in use by process " +
                                std::to_string(p->Pid()) + " ("))
      << r.err;

  p->Signal(SIGKILL);
  EXPECT_EQ(p->Wait().signal, SIGKILL);
  const auto rows = Lines(ReadFile(csv));
  ASSERT_GE(rows.size(), 60u);
  ExpectCountingRows(rows, 100.0);  // no torn last line
  Json j = Description(csv);
  EXPECT_EQ(j["complete"], false);
  EXPECT_LE(j["frames"].get<std::size_t>(), rows.size() - 1);

  r = Quillbox(
      {"--bench", Bench("long.json"), "record", "-c", "0,16", "-n", "7", "--force", "-o", csv},
      kFast);
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(Lines(ReadFile(csv)).size(), 8u);
  j = Description(csv);
  EXPECT_EQ(j["frames"], 7);
  EXPECT_EQ(j["complete"], true);
}

TEST(CliRecord, AWriteErrorEndsTheRecordingAtOnceWithWholeRowsAndSaysSo) {
  // A file-size limit fails the writes like a full disk. It also lets the recording set aside
  // only 64 KiB for the last description, which for 1700 columns fits only without indentation,
  // as on a nearly full disk.
  std::string wide = "0,16";
  for (int i = 0; i < 100; ++i) wide += ",0,16-31";
  for (const std::string& channels : {std::string("0,16"), wide}) {
    const std::string csv = ScratchPrefix() + "full" + std::to_string(channels.size()) + ".csv";
    const ChildResult r = RunProcess(
        {"/usr/bin/prlimit", "--fsize=100000", QUILLBOX_CLI, "--bench", Bench("full.json"),
         "record", "-c", channels, "-r", "100", "-d", "100000", "--raw", "-o", csv},
        kFast);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("quillbox: cannot write " + csv + ": File too large"), std::string::npos)
        << r.err;
    const std::string text = ReadFile(csv);
    ASSERT_FALSE(text.empty());
    EXPECT_EQ(text.back(), '\n');
    const auto rows = Lines(text);
    ExpectCountingRows(rows, 100.0);
    const Json j = Description(csv);
    const Json ended = {
        {"stop_reason", "write error"}, {"complete", true}, {"frames", rows.size() - 1}};
    EXPECT_EQ(Pick(j, ended), ended);
    const std::string described = ReadFile(csv + ".json");
    EXPECT_EQ(std::count(described.begin(), described.end(), '\n') == 1, channels == wide);
  }
}

// Outputs that cannot be written are refused before the module is opened (a bench without one
// would say so otherwise), and a description that cannot be replaced keeps the old rows: the new
// description, saying "complete": false, comes before the old rows go.
TEST(CliRecord, OutputsThatCannotBeWrittenLeaveEarlierFilesAsTheyWere) {
  const std::string none = BenchFile("none.json", Json::array());
  // A name of 244 bytes: NAME.json's temporary name would have 256.
  const std::string longCsv =
      ScratchPrefix() +
      std::string(240 - fs::path(ScratchPrefix()).filename().string().size(), 'n') + ".csv";
  const std::string file = ScratchPrefix() + "file";
  std::ofstream(file) << "a file\n";
  const std::string old = ScratchPrefix() + "old.csv";
  std::ofstream(old) << "old rows\n";
  fs::create_directory(old + ".json");
  const struct {
    std::string csv, bench, said;
    bool keeps;  // an earlier file that must stay as it was
  } cases[] = {
      {longCsv, none, longCsv + ".json: File name too long", false},
      {longCsv, none, longCsv + ".json: File name too long", true},
      {file + "/x.csv", none, file + "/x.csv: Not a directory", false},
      {old, Bench("old.json"), old + ".json: Is a directory", true},
  };
  for (const auto& c : cases) {
    if (c.keeps && c.csv != old) std::ofstream(c.csv) << "old rows\n";
    const ChildResult r = Quillbox(
        {"--bench", c.bench, "record", "-c", "0", "-r", "50", "-n", "5", "--force", "-o", c.csv},
        kFast);
    EXPECT_EQ(r.exitCode, 1) << c.csv;
    EXPECT_EQ(r.err, "quillbox: cannot write " + c.said + "\n");
    if (c.keeps) {
      EXPECT_EQ(ReadFile(c.csv), "old rows\n") << c.csv;
    } else {
      EXPECT_FALSE(fs::exists(c.csv)) << c.csv;
    }
    std::error_code ec;
    fs::remove(c.csv, ec);
  }
}

// `-o -` and `-o /dev/stdout` (a pipe here; it exists, hence --force): the rows on standard
// output, every message (a rate note, the summary) on standard error, and no description.
TEST(CliRecord, StandardOutputGetsTheRowsAndNoDescription) {
  for (const auto& [output, named] :
       {std::pair{"-", "standard output"}, std::pair{"/dev/stdout --force", "/dev/stdout"}}) {
    const ChildResult r =
        RunProcess({"/bin/sh", "-c",
                    std::string("{ \"$0\" --bench \"$1\" record -c 0,16 -r 1k -n 5 --raw -o ") +
                        output + "; echo \"exit $?\" >&2; } | cat",
                    QUILLBOX_CLI, Bench("stdout.json")},
                   kFast);
    EXPECT_EQ(Lines(r.out).size(), 6u);
    ExpectCountingRows(Lines(r.out), 100.0);
    EXPECT_NE(r.err.find("recording at 100 Hz\nRecorded 5 frames"), std::string::npos) << r.err;
    EXPECT_TRUE(r.err.ends_with(std::string(" to ") + named + "\nexit 0\n")) << r.err;
  }
  std::error_code ec;  // removed if made, so as not to stay behind
  EXPECT_EQ(fs::remove("-", ec) + fs::remove("-.json", ec) + fs::remove("/dev/stdout.json", ec), 0);
}

TEST(CliRecord, RefusalsAndBadArguments) {
  const std::string none = ScratchPrefix() + "none.json";
  std::ofstream(none) << R"({"modules": []})";
  ChildResult r;
  // NaN, a rate below the lowest and a scan list too long are in the scenario table.
  const std::vector<std::vector<std::string>> usage = {{"-c", "32"},
                                                       {"-c", "3-1"},
                                                       {"-r", "-5"},
                                                       {"-d", "1e10"},
                                                       {"-d", "0"},
                                                       {"-n", "0"},
                                                       {"-n", "1e99"},
                                                       {"--ring", "0"},
                                                       {"--sync-every", "-1"},
                                                       {"-d", "1", "-n", "5"},
                                                       {"--do-start", "0x1FFFFFFFF"},
                                                       {"-r", "1x"},
                                                       {"-d", "2 weeks"},
                                                       {"-n", "1.5k7"},
                                                       {"--rotate", "5XB"},
                                                       {"--trigger", "up"}};
  for (const auto& args : usage) {
    std::vector<std::string> command = {"--bench", none, "record", "-o", ScratchPrefix() + "u.csv"};
    command.insert(command.end(), args.begin(), args.end());
    r = Quillbox(command);
    EXPECT_EQ(r.exitCode, 2) << args[0] << " " << args[1].substr(0, 20) << ": " << r.err;
    EXPECT_TRUE(r.err.starts_with("quillbox: ")) << r.err;
  }
}

// Numbers with units and SI prefixes, channels by name and the start trigger under each of its
// names; a rate left to the stored setting is said.
TEST(CliRecord, UnitsNamesAndTheStoredRate) {
  const struct {
    std::vector<std::string> args;
    Json described;
    bool saysStoredRate;
  } cases[] = {
      {{"-c", "AD-Ch1,ttl-in3", "-r", "0.02k", "-d", "500ms", "--trigger", "off"},
       {{"channels", {16, 26}}, {"rate_requested", 20.0}, {"frames", 10}},
       false},
      {{"-c", "0,16-17", "-r", "20Hz", "-n", "0.012k", "--sync", "off"},
       {{"channels", {0, 16, 17}}, {"frames", 12}},
       false},
      {{"-c", "0", "-d", "0.01min", "--start-on", "off"},
       {{"rate_requested", 20.0}, {"frames", 12}},
       true},
  };
  for (const auto& c : cases) {
    const std::string csv = ScratchPrefix() + "units.csv";
    std::vector<std::string> args = {"--bench", Bench("units.json"), "record", "--force", "-o",
                                     csv};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const ChildResult r = Quillbox(args, kFast);
    ASSERT_EQ(r.exitCode, 0) << c.args[1] << r.err;
    EXPECT_EQ(Pick(Description(csv), c.described), c.described) << c.args[1];
    EXPECT_EQ(r.err.find("quillbox: rate 20 Hz (stored setting; -r to choose)\n") == 0,
              c.saysStoredRate)
        << r.err;
  }
}

TEST(CliRead, ChannelsAndTheScanList) {
  const std::string bench = Bench("b6.json");
  ChildResult r = Quillbox({"--bench", bench, "read", "TTL-In3", "27", "--json"}, kFast);
  ASSERT_EQ(r.exitCode, 0) << r.err;
  Json j = Json::parse(r.out);
  ASSERT_EQ(j.size(), 2u);
  const Json ttl = {{"channel", 26}, {"code", 1000}, {"value", 1.0}, {"unit", "TTL"}};
  EXPECT_EQ(Pick(j[0], ttl), ttl);
  EXPECT_EQ(j[1]["code"], 0);
  // Without channels every channel with a value: the mezzanine's and the direct inputs, each
  // value in its shortest text.
  r = Quillbox({"--bench", bench, "read", "--json"}, kFast);
  j = Json::parse(r.out);
  EXPECT_EQ(j.size(), 2u + 16u);
  EXPECT_EQ(j.back()["channel"], 31);
  EXPECT_EQ(Quillbox({"--bench", bench, "read", "0", "NoSuchName"}, kFast).exitCode, 2);
  EXPECT_FALSE(std::regex_search(r.out, std::regex(R"(\d\.\d{10})"))) << r.out;
  // A value the module did not give is never printed (named channels are read the same way).
  r = Quillbox({"--bench", Bench("nodata.json", {{"data_calls_fail", true}}), "read"}, kFast);
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find("E270GetDATA failed"), std::string::npos) << r.err;
}

TEST(CliDio, WritesAndReadsTheLines) {
  const ChildResult r =
      Quillbox({"--bench", Bench("b7.json"), "dio", "--write", "0x1A5", "--json"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const Json lines = {{"inputs", 0x81}, {"outputs", 0x1A5}};
  EXPECT_EQ(Pick(Json::parse(r.out), lines), lines);
  // Start and stop values would not outlive this process: refused, pointing to record's options.
  const ChildResult start = Quillbox({"--bench", Bench("b7.json"), "dio", "--start", "3"});
  EXPECT_EQ(start.exitCode, 2);
  EXPECT_NE(start.err.find("--do-start"), std::string::npos) << start.err;
  const std::string failing = Bench("nodio.json", {{"dio_calls_fail", true}});
  for (const std::vector<std::string>& args :
       std::vector<std::vector<std::string>>{{"dio"}, {"dio", "--write", "3"}}) {
    std::vector<std::string> command = {"--bench", failing};
    command.insert(command.end(), args.begin(), args.end());
    const ChildResult f = Quillbox(command);
    EXPECT_EQ(f.exitCode, 1) << args.size();
    EXPECT_EQ(f.out, "");
    EXPECT_NE(f.err.find("E270GetDIO failed"), std::string::npos) << f.err;
  }
  const ChildResult rec = Quillbox({"--bench", failing, "record", "-c", "0", "-n", "3",
                                    "--do-start", "1", "-o", ScratchPrefix() + "nodio.csv"},
                                   kFast);
  EXPECT_EQ(rec.exitCode, 0);
  EXPECT_NE(rec.err.find("the digital outputs were not set at start: E270GetDIO failed"),
            std::string::npos)
      << rec.err;
}

}  // namespace
}  // namespace quillbox::test
