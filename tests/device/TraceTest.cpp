// The trace (platform/Trace.h) and the traced vendor calls (device/VendorCalls.h): what an open,
// the digital lines, a single read and a recording write, lines of several threads, and
// QUILLBOX_TRACE as a fresh process reads it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <regex>
#include <sstream>
#include <thread>
#include <vector>

#include "device/DigitalIO.h"
#include "device/SingleRead.h"
#include "platform/Trace.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/RecordingSupport.h"

namespace quillbox::test {
namespace {

constexpr const char* kChild = "QUILLBOX_TEST_TRACE_CHILD";

struct Entry {
  std::string thread, text;  // text without the duration
  long long micros = -1;     // the duration, -1 for a line without one
};

// The lines of a trace file, each checked against the documented format.
std::vector<Entry> Entries(const std::string& path) {
  static const std::regex format(
      R"(quillbox-trace \d+\.\d{6} (main|t\d+) (.*?)(?: \[(\d+) us\])?)");
  std::vector<Entry> entries;
  std::istringstream in(ReadFile(path));
  for (std::string line; std::getline(in, line);) {
    std::smatch m;
    EXPECT_TRUE(std::regex_match(line, m, format)) << line;
    if (!m.empty()) entries.push_back({m[1], m[2], m[3].matched ? std::stoll(m[3]) : -1});
  }
  return entries;
}

// Whether `wanted` appear among the texts in this order (other lines may come between).
bool InOrder(const std::vector<Entry>& entries, const std::vector<std::string>& wanted) {
  auto at = entries.begin();
  for (const std::string& w : wanted) {
    at = std::find_if(at, entries.end(), [&w](const Entry& e) { return e.text == w; });
    if (at++ == entries.end()) return false;
  }
  return true;
}

class TraceTest : public RecordingTest {
 protected:
  void SetUp() override {
    RecordingTest::SetUp();
    std::filesystem::remove(path_);
    ASSERT_TRUE(platform::SetTraceTarget(path_));
  }
  void TearDown() override {
    RecordingTest::TearDown();
    platform::SetTraceTarget("");
    std::filesystem::remove(path_);
  }
  std::vector<Entry> Lines() const { return Entries(path_); }

  const std::string path_ = ScratchPrefix() + "trace";
};

TEST_F(TraceTest, EveryVendorCallOfOpenDigitalLinesSingleReadsAndRecording) {
  // Slow enough that a wait for a block still shows on a loaded machine.
  platform::SetTimeScale(4.0);
  Open();
  const std::string usb = "USB handle=" + std::to_string(int32_t{S().Dev.Handle});
  WriteOutputs(S(), S().Dio, 0x0F);
  ReadChannelNow(S(), S().ReadCache, S().Acq, 0);
  S().Record.Rate = 10.0f;  // divider 2500, blocks of 2 frames
  ASSERT_TRUE(Start());
  const std::string block = "E270GetDATA(" + usb + ", frames=2) -> ";
  const auto recorded = [&](const std::string& result) {
    const std::vector<Entry> lines = Lines();
    return std::count_if(lines.begin(), lines.end(), [&](const Entry& e) {
      return e.thread != "main" && e.text == block + result;
    });
  };
  ASSERT_TRUE(Eventually([&] { return recorded("0") >= 3; }));
  sim::Unplug("usb0");  // the next data calls fail
  ASSERT_TRUE(Eventually([&] { return recorded("1") >= 1; }));
  Stop();

  const std::vector<Entry> lines = Lines();
  EXPECT_TRUE(InOrder(lines, {
                                 "E270GetConfig(" + usb + ") -> 0 slots=11,-,10,-,-,-,-,-",
                                 "E270ReadEEPROM(" + usb + ", page=0) -> 0",
                                 "E270CRCCheck(" + usb + ") -> 0",
                                 "E270ReadEEPROM(" + usb + ", page=1) -> 0",
                                 "E270ReadEEPROM(" + usb + ", page=3) -> 0",
                                 "E270SetConfig(" + usb + ", divider=250, control=0xC7) -> 0",
                                 "E270GetDIO(" + usb + ") -> 0 out=0x00 in=0xA5 aux=0x3C",
                                 "E270SetDIO(" + usb + ", out=0x0F, aux=0x3C) -> 0",
                                 "E270SetConfig(" + usb + ", divider=500, control=0xC7) -> 0",
                                 "E270GetDATA(" + usb + ", frames=10) -> 0",
                                 "E270SetConfig(" + usb + ", divider=2500, control=0xC7) -> 0",
                             }));
  // Page 0 is read twice: by the enumeration that lists the module, then by the open. Only the
  // recording's calls come from another thread, and a call that waits for its block (12 ms
  // real at this scale, the first one 25 ms) shows how long it waited.
  int pageZero = 0;
  long long longest = 0;
  for (const Entry& e : lines) {
    EXPECT_GE(e.micros, 0) << e.text;
    pageZero += e.text.find("page=0) -> 0") != std::string::npos;
    EXPECT_EQ(e.thread != "main", e.text.starts_with(block)) << e.text;
    if (e.text.starts_with(block)) longest = std::max(longest, e.micros);
  }
  EXPECT_EQ(pageZero, 2);
  EXPECT_GE(longest, 1000);
}

TEST_F(TraceTest, DecisionsAndLinesOfManyThreadsStayWhole) {
  platform::Trace("recording stalled\nno frame for 2 s");
  platform::TraceF("recording stopped: %s after %d frames", "signal", 1200);
  const std::string filler(300, 'x');
  std::vector<std::thread> threads;
  threads.reserve(4);
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t, &filler] {
      for (int i = 0; i < 200; ++i) platform::TraceF("writer %d line %d %s", t, i, filler.c_str());
    });
  }
  for (std::thread& t : threads) t.join();
  ASSERT_TRUE(platform::SetTraceTarget("0"));
  platform::Trace("not written");

  const std::vector<Entry> lines = Lines();
  ASSERT_EQ(lines.size(), 2u + 4 * 200);
  EXPECT_EQ(lines[0].text, "recording stalled no frame for 2 s");
  EXPECT_EQ(lines[1].text, "recording stopped: signal after 1200 frames");
  const std::regex whole("writer [0-3] line \\d+ " + filler);
  for (std::size_t i = 2; i < lines.size(); ++i) {
    EXPECT_TRUE(std::regex_match(lines[i].text, whole)) << lines[i].text;
    EXPECT_NE(lines[i].thread, "main");
  }
}

// Runs in a child process only: opens the module with the trace QUILLBOX_TRACE chose.
using TraceChild = RecordingTest;
TEST_F(TraceChild, OpensTheModule) {
  if (std::getenv(kChild) == nullptr) GTEST_SKIP() << "runs in a child process only";
  Open();
}

TEST(TraceEnvironment, ChoosesTheTargetOnceAtStart) {
  const std::string file = ScratchPrefix() + "env.trace";
  std::filesystem::remove(file);
  const auto run = [](const std::optional<std::string>& value) {
    return RunProcess({SelfPath(), "--gtest_filter=TraceChild.*"},
                      {{kChild, "1"}, {"QUILLBOX_TRACE", value}});
  };
  // Lines of the open's check sum test in `text`.
  const auto checks = [](const std::string& text) {
    std::size_t n = 0;
    for (std::size_t at = 0; (at = text.find(" main E270CRCCheck(USB", at)) != std::string::npos;
         ++at)
      ++n;
    return n;
  };
  for (std::size_t round = 1; round <= 2; ++round) {  // appended to, never replaced
    const ChildResult r = run(file);
    EXPECT_EQ(checks(ReadFile(file)), round) << r.Output();
    EXPECT_EQ(r.err.find("quillbox-trace"), std::string::npos) << r.err;
  }
  std::filesystem::remove(file);
  EXPECT_EQ(checks(run("1").err), 1u);
  for (const std::optional<std::string>& off : {std::optional<std::string>(), {""}, {"0"}}) {
    const ChildResult r = run(off);
    EXPECT_EQ(r.Output().find("quillbox-trace"), std::string::npos) << r.Output();
  }
  // A file that cannot be opened is said, and the trace stays off.
  const ChildResult unopenable = run(file + ".d/missing");
  EXPECT_TRUE(unopenable.err.starts_with("quillbox-trace: cannot open " + file + ".d/missing: "))
      << unopenable.err;
  EXPECT_EQ(checks(unopenable.err), 0u);
}

}  // namespace
}  // namespace quillbox::test
