// Runs the built quillbox command: record (CSV, description, interruption, refusals, a module
// that goes away), read and dio, on bench files at an accelerated clock.

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <csignal>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "ChildProcess.h"

namespace {

using Json = nlohmann::json;
using quillbox::test::ChildProcess;
using quillbox::test::ChildResult;
using quillbox::test::EnvChanges;
using quillbox::test::ReadFile;
using quillbox::test::ScratchPrefix;

std::vector<std::string> Command(std::vector<std::string> args) {
  args.insert(args.begin(), QUILLBOX_CLI);
  return args;
}

ChildResult Quillbox(const std::vector<std::string>& args, const EnvChanges& env = {}) {
  return quillbox::test::RunProcess(Command(args), env);
}
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
  Json module = {{"attach", "usb0"},
                 {"serial", "27000999"},
                 {"slots", {{{"type", 11}}}},
                 {"signals",
                  {{"m0", {{"kind", "counter"}}},
                   {"ad0", {{"kind", "counter"}}},
                   {"ttl2", {{"kind", "constant"}, {"value", 1}}}}},
                 {"dio", {{"inputs", 0x81}}},
                 {"faults", faults}};
  std::string path = ScratchPrefix() + name;
  std::ofstream(path) << Json{{"modules", {module}}}.dump();
  return path;
}

const EnvChanges kFast = {{"QUILLBOX_TIME_SCALE", "50"}};

// The CSV's code columns: frame numbers must step by one, direct input 0 must be their low byte.
void ExpectCountingRows(const std::vector<std::string>& rows, double rate) {
  for (std::size_t i = 1; i < rows.size(); ++i) {
    const auto cells = Cells(rows[i]);
    ASSERT_EQ(cells.size(), 4u) << rows[i];
    const long frame = std::stol(cells[0]);
    EXPECT_EQ(frame, static_cast<long>(i - 1));
    EXPECT_NEAR(std::stod(cells[1]), static_cast<double>(frame) / rate, 1e-6);
    const long counter = std::stol(cells[2]);
    EXPECT_EQ(std::stol(cells[3]), counter & 0xFF) << rows[i];
    if (i > 1) {
      EXPECT_EQ(counter, std::stol(Cells(rows[i - 1])[2]) + 1) << rows[i];
    }
  }
}

TEST(CliRecord, WritesEveryFrameAndDescribesTheRecording) {
  const std::string csv = ScratchPrefix() + "raw.csv";
  const ChildResult r = Quillbox({"--bench", Bench("b1.json"), "record", "-c", "0,16", "-r", "100",
                                  "-n", "300", "--raw", "-o", csv},
                                 kFast);
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("Recorded 300 frames of 2 channels at 100 Hz"), std::string::npos) << r.out;
  const Json j = Json::parse(ReadFile(csv + ".json"));
  EXPECT_TRUE(std::regex_match(j["start_utc"].get<std::string>(),
                               std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d(\.\d+)?Z)")));
  EXPECT_EQ(j["rate_requested"], 100.0);
  EXPECT_EQ(j["rate"], 100.0);
  EXPECT_EQ(j["channels"], Json({0, 16}));
  EXPECT_EQ(j["frames"], 300);
  EXPECT_EQ(j["serial"], "27000999");
  ASSERT_EQ(j["names"].size(), 2u);
  ASSERT_EQ(j["units"].size(), 2u);
  ASSERT_EQ(j["scales"].size(), 2u);
  const auto rows = Lines(ReadFile(csv));
  ASSERT_EQ(rows.size(), 301u);
  EXPECT_EQ(rows[0], "frame,time_s," + j["names"][0].get<std::string>() + " (" +
                         j["units"][0].get<std::string>() + ")," +
                         j["names"][1].get<std::string>() + " (" +
                         j["units"][1].get<std::string>() + ")");
  ExpectCountingRows(rows, 100.0);
}

TEST(CliRecord, ValuesInUnitsReadBackAsTheCodes) {
  const std::string csv = ScratchPrefix() + "units.csv";
  const ChildResult r = Quillbox(
      {"--bench", Bench("b2.json"), "record", "-c", "0,16,26", "-r", "7", "-d", "3", "-o", csv},
      {{"QUILLBOX_TIME_SCALE", "10"}});  // the 2 s of grace after -d must not shrink to nothing
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const Json j = Json::parse(ReadFile(csv + ".json"));
  const double rate = j["rate"];
  EXPECT_NEAR(rate, 7.0008, 5e-5);
  EXPECT_EQ(j["rate_requested"], 7.0);
  const auto rows = Lines(ReadFile(csv));
  ASSERT_EQ(rows.size(), 1u + 21u);  // round(3 s x 7.0008 Hz)
  long previous = -1;
  for (std::size_t i = 1; i < rows.size(); ++i) {
    const auto cells = Cells(rows[i]);
    ASSERT_EQ(cells.size(), 5u);
    const long code = std::lround(std::stod(cells[2]) * j["scales"][0].get<double>());
    if (previous >= 0) {
      EXPECT_EQ(code, previous + 1);
    }
    previous = code;
    EXPECT_EQ(std::lround(std::stod(cells[3]) * j["scales"][1].get<double>()), code & 0xFF);
    EXPECT_EQ(std::stod(cells[4]), 1.0);  // TTL high: 1000 codes / 1000 per TTL
  }
}

TEST(CliRecord, InterruptionEndsLikeTheEndWithEveryFrameWritten) {
  const std::string csv = ScratchPrefix() + "int.csv";
  ChildProcess p(Command({"--bench", Bench("b3.json"), "record", "-c", "0,16", "-r", "100", "-d",
                          "100000", "--raw", "-o", csv}),
                 {{"QUILLBOX_TIME_SCALE", "10"}});
  const auto end = std::chrono::steady_clock::now() + 20s;
  while (Lines(ReadFile(csv)).size() < 50 && std::chrono::steady_clock::now() < end)
    std::this_thread::sleep_for(10ms);
  p.Signal(SIGINT);
  const ChildResult r = p.Wait();
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const auto rows = Lines(ReadFile(csv));
  ASSERT_GE(rows.size(), 50u);
  EXPECT_EQ(Json::parse(ReadFile(csv + ".json"))["frames"], rows.size() - 1);
  ExpectCountingRows(rows, 100.0);
}

TEST(CliRecord, ModuleThatGoesAwayEndsTheRecordingWithWhatCame) {
  const std::string csv = ScratchPrefix() + "gone.csv";
  const ChildResult r = Quillbox({"--bench", Bench("b4.json", {{"unplug_after_s", 2.0}}), "record",
                                  "-c", "0,16", "-r", "100", "-d", "6", "--raw", "-o", csv},
                                 {{"QUILLBOX_TIME_SCALE", "20"}});
  EXPECT_EQ(r.exitCode, 1);
  const auto rows = Lines(ReadFile(csv));
  EXPECT_GT(rows.size(), 100u);
  EXPECT_LT(rows.size(), 600u);
  EXPECT_NE(r.err.find("quillbox: the module delivered " + std::to_string(rows.size() - 1) +
                       " of 600 frames"),
            std::string::npos)
      << r.err;
  ExpectCountingRows(rows, 100.0);
}

TEST(CliRecord, RefusalsAndBadArguments) {
  const std::string none = ScratchPrefix() + "none.json";
  std::ofstream(none) << R"({"modules": []})";
  ChildResult r = Quillbox({"--bench", none, "record", "-o", ScratchPrefix() + "none.csv"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.err, "quillbox: No found E-270 on USB or COM ports!\n");
  for (const char* list : {"32", "3-1", "0,,1"}) {
    r = Quillbox({"--bench", none, "record", "-c", list});
    EXPECT_EQ(r.exitCode, 2) << list;
  }
  EXPECT_EQ(Quillbox({"record", "-d", "1", "-n", "5"}).exitCode, 2);
  EXPECT_EQ(Quillbox({"--bench", none, "record", "--do-start", "0x1FFFFFFFF"}).exitCode, 2);
}

TEST(CliRead, ChannelsAndTheScanList) {
  const std::string bench = Bench("b6.json");
  ChildResult r = Quillbox({"--bench", bench, "read", "26", "27", "--json"}, kFast);
  ASSERT_EQ(r.exitCode, 0) << r.err;
  Json j = Json::parse(r.out);
  ASSERT_EQ(j.size(), 2u);
  EXPECT_EQ(j[0]["channel"], 26);
  EXPECT_EQ(j[0]["code"], 1000);
  EXPECT_EQ(j[0]["value"], 1.0);
  EXPECT_EQ(j[0]["unit"], "TTL");
  EXPECT_EQ(j[1]["code"], 0);
  r = Quillbox({"--bench", bench, "read"}, kFast);
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("Name"), std::string::npos);
  EXPECT_EQ(Quillbox({"--bench", bench, "read", "40"}).exitCode, 2);
}

TEST(CliDio, WritesAndReadsTheLines) {
  const ChildResult r =
      Quillbox({"--bench", Bench("b7.json"), "dio", "--write", "0x1A5", "--start", "3", "--json"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const Json j = Json::parse(r.out);
  EXPECT_EQ(j["inputs"], 0x81);
  EXPECT_EQ(j["outputs"], 0x1A5);
  EXPECT_EQ(j["start_enabled"], true);
  EXPECT_EQ(j["start_value"], 3);
  const ChildResult text = Quillbox({"--bench", Bench("b7.json"), "dio"});
  EXPECT_NE(text.out.find("0x0081 (129)"), std::string::npos) << text.out;
  EXPECT_EQ(Quillbox({"--bench", Bench("b7.json"), "dio", "--write", "lots"}).exitCode, 2);
}

}  // namespace
