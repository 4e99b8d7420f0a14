// Runs the built quillbox command: record (CSV, description, interruption, refusals, a module
// that goes away), read and dio, on bench files at an accelerated clock.

#include <chrono>
#include <cmath>
#include <csignal>
#include <memory>
#include <regex>
#include <sstream>
#include <thread>

#include "CliTestSupport.h"

namespace quillbox::test {
namespace {

using namespace std::chrono_literals;

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
      {"--bench", Bench("b1.json"), "record", "-c", "0,16,26", "-r", "7", "-d", "3", "-o", csv},
      {{"QUILLBOX_TIME_SCALE", "10"}});  // the 2 s of grace after -d must not shrink to nothing
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("Recorded 21 frames of 3 channels at 7.0008"), std::string::npos) << r.out;
  const Json j = Json::parse(ReadFile(csv + ".json"));
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
}

// Starts a recording of channels 0 and 16 at 100 Hz that runs until stopped, and waits until
// its CSV holds `rows` rows.
std::unique_ptr<ChildProcess> StartRecording(const std::string& csv, std::size_t rows,
                                             std::vector<std::string> extra = {}) {
  std::vector<std::string> args = {
      "--bench", Bench("long.json"), "record", "-c", "0,16", "-r", "100",
      "-d",      "100000",           "--raw",  "-o", csv};
  args.insert(args.end(), extra.begin(), extra.end());
  args.insert(args.begin(), QUILLBOX_CLI);
  auto p = std::make_unique<ChildProcess>(args, EnvChanges{{"QUILLBOX_TIME_SCALE", "10"}});
  const auto end = std::chrono::steady_clock::now() + 20s;
  while (Lines(ReadFile(csv)).size() < rows && std::chrono::steady_clock::now() < end)
    std::this_thread::sleep_for(10ms);
  return p;
}

TEST(CliRecord, StopSignalsEndLikeTheEndWithEveryFrameWrittenAndTheStopOutputSet) {
  for (const auto& [sig, name] :
       {std::pair{SIGINT, "SIGINT"}, std::pair{SIGTERM, "SIGTERM"}, std::pair{SIGHUP, "SIGHUP"}}) {
    const std::string csv = ScratchPrefix() + "sig" + std::to_string(sig) + ".csv";
    auto p = StartRecording(csv, 50, {"--do-stop", "0x03"});
    p->Signal(sig);
    const ChildResult r = p->Wait();
    ASSERT_EQ(r.exitCode, 0) << sig << r.err;
    const auto rows = Lines(ReadFile(csv));
    ASSERT_GE(rows.size(), 50u);
    const Json j = Json::parse(ReadFile(csv + ".json"));
    EXPECT_EQ(j["frames"], rows.size() - 1);
    EXPECT_EQ(j["complete"], true);
    EXPECT_EQ(j["stop_reason"], name);
    ExpectCountingRows(rows, 100.0);
    const Json dio = Json::parse(Quillbox({"--bench", Bench("long.json"), "dio", "--json"}).out);
    EXPECT_EQ(dio["outputs"], 0x03) << "the stop output of a recording ended by " << sig;
  }
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

  p->Signal(SIGKILL);
  EXPECT_EQ(p->Wait().signal, SIGKILL);
  const auto rows = Lines(ReadFile(csv));
  ASSERT_GE(rows.size(), 60u);
  ExpectCountingRows(rows, 100.0);  // no torn last line
  Json j = Json::parse(ReadFile(csv + ".json"));
  EXPECT_EQ(j["complete"], false);
  EXPECT_LE(j["frames"].get<std::size_t>(), rows.size() - 1);

  r = Quillbox(
      {"--bench", Bench("long.json"), "record", "-c", "0,16", "-n", "7", "--force", "-o", csv},
      kFast);
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(Lines(ReadFile(csv)).size(), 8u);
  j = Json::parse(ReadFile(csv + ".json"));
  EXPECT_EQ(j["frames"], 7);
  EXPECT_EQ(j["complete"], true);
}

TEST(CliRecord, AWriteErrorEndsTheRecordingAtOnceWithWholeRows) {
  const std::string csv = ScratchPrefix() + "full.csv";
  // A file-size limit fails the writes like a full disk.
  const ChildResult r =
      RunProcess({"/usr/bin/prlimit", "--fsize=100000", QUILLBOX_CLI, "--bench", Bench("full.json"),
                  "record", "-c", "0,16", "-r", "100", "-d", "100000", "--raw", "-o", csv},
                 kFast);
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("quillbox: cannot write " + csv + ": File too large"), std::string::npos)
      << r.err;
  const std::string text = ReadFile(csv);
  ASSERT_FALSE(text.empty());
  EXPECT_EQ(text.back(), '\n');
  const auto rows = Lines(text);
  ExpectCountingRows(rows, 100.0);
  const Json j = Json::parse(ReadFile(csv + ".json"));
  EXPECT_EQ(j["stop_reason"], "write error");
  EXPECT_EQ(j["frames"], rows.size() - 1);
}

TEST(CliRecord, AModuleThatStopsDeliveringEndsTheRecordingWithWhatCame) {
  const std::string csv = ScratchPrefix() + "gone.csv";
  const ChildResult r = Quillbox({"--bench", Bench("b4.json", {{"unplug_after_s", 2.0}}), "record",
                                  "-c", "0,16", "-r", "100", "-n", "100000", "--raw", "-o", csv},
                                 {{"QUILLBOX_TIME_SCALE", "20"}});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("quillbox: the module stopped delivering data (E270GetDATA failed)"),
            std::string::npos)
      << r.err;
  const auto rows = Lines(ReadFile(csv));
  EXPECT_GT(rows.size(), 100u);
  ExpectCountingRows(rows, 100.0);
  const Json j = Json::parse(ReadFile(csv + ".json"));
  EXPECT_EQ(j["stop_reason"], "stalled");
  EXPECT_EQ(j["frames"], rows.size() - 1);
  EXPECT_GT(j["frames_expected"], j["frames"]);
}

TEST(CliRecord, RefusalsAndBadArguments) {
  const std::string none = ScratchPrefix() + "none.json";
  std::ofstream(none) << R"({"modules": []})";
  ChildResult r;
  std::string tooLong;
  for (int i = 0; i < 1025; ++i) tooLong += "0-31,";
  tooLong += "0";
  const std::vector<std::vector<std::string>> usage = {{"-c", "32"},
                                                       {"-c", "3-1"},
                                                       {"-c", tooLong},
                                                       {"-r", "nan"},
                                                       {"-r", "1e-300"},
                                                       {"-r", "-5"},
                                                       {"-d", "1e10"},
                                                       {"-d", "0"},
                                                       {"-n", "0"},
                                                       {"-n", "1e99"},
                                                       {"--ring", "0"},
                                                       {"--sync-every", "-1"},
                                                       {"-d", "1", "-n", "5"},
                                                       {"--do-start", "0x1FFFFFFFF"}};
  for (const auto& args : usage) {
    std::vector<std::string> command = {"--bench", none, "record", "-o", ScratchPrefix() + "u.csv"};
    command.insert(command.end(), args.begin(), args.end());
    r = Quillbox(command);
    EXPECT_EQ(r.exitCode, 2) << args[0] << " " << args[1].substr(0, 20) << ": " << r.err;
  }
}

TEST(CliRead, ChannelsAndTheScanList) {
  const std::string bench = Bench("b6.json");
  ChildResult r = Quillbox({"--bench", bench, "read", "26", "27", "--json"}, kFast);
  ASSERT_EQ(r.exitCode, 0) << r.err;
  Json j = Json::parse(r.out);
  ASSERT_EQ(j.size(), 2u);
  const Json ttl = {{"channel", 26}, {"code", 1000}, {"value", 1.0}, {"unit", "TTL"}};
  EXPECT_EQ(Pick(j[0], ttl), ttl);
  EXPECT_EQ(j[1]["code"], 0);
  // A value the module did not give is never printed.
  for (const char* channels : {"0", ""}) {
    std::vector<std::string> args = {"--bench", Bench("nodata.json", {{"data_calls_fail", true}}),
                                     "read"};
    if (*channels != 0) args.emplace_back(channels);
    r = Quillbox(args, kFast);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("E270GetDATA failed"), std::string::npos) << r.err;
  }
}

TEST(CliDio, WritesAndReadsTheLines) {
  const ChildResult r =
      Quillbox({"--bench", Bench("b7.json"), "dio", "--write", "0x1A5", "--start", "3", "--json"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const Json j = Json::parse(r.out);
  const Json lines = {
      {"inputs", 0x81}, {"outputs", 0x1A5}, {"start_enabled", true}, {"start_value", 3}};
  EXPECT_EQ(Pick(j, lines), lines);
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
