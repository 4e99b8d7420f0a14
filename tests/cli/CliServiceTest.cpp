// Runs `quillbox record` as the recording service runs it: the notify protocol on a datagram
// socket of the test's own named in NOTIFY_SOCKET (READY once the files exist, STATUS, WATCHDOG
// by the rules of sd_watchdog_enabled, STOPPING), priorities for the journal, status lines, the
// progress line on a terminal, --config files and the unit itself.

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <sstream>

#include "CliTestSupport.h"

namespace quillbox::test {
namespace {

using namespace std::chrono_literals;
using SteadyClock = std::chrono::steady_clock;
namespace fs = std::filesystem;

// The service manager's end of NOTIFY_SOCKET.
struct NotifySocket {
  std::string path = ScratchPrefix() + "notify";
  int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);

  NotifySocket() {
    sockaddr_un address{.sun_family = AF_UNIX, .sun_path = {}};
    path.copy(address.sun_path, sizeof address.sun_path - 1);
    unlink(path.c_str());
    EXPECT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  }
  ~NotifySocket() {
    close(fd);
    unlink(path.c_str());
  }
  // The next message; "" when none came within `limit`.
  std::string Next(std::chrono::milliseconds limit = 0ms) const {
    pollfd p{fd, POLLIN, 0};
    char buffer[4096];
    const ssize_t n =
        poll(&p, 1, static_cast<int>(limit.count())) == 1 ? recv(fd, buffer, sizeof buffer, 0) : 0;
    return std::string(buffer, static_cast<std::size_t>(std::max<ssize_t>(n, 0)));
  }
  std::vector<std::string> Rest() const {
    std::vector<std::string> all;
    for (std::string m; !(m = Next()).empty();) all.push_back(m);
    return all;
  }
};

std::string Bench(Json faults = Json::object()) {
  return BenchFile(faults.empty() ? "service.json" : "faults.json", {{{"attach", "usb0"},
                                                                      {"serial", "27000999"},
                                                                      {"slots", {{{"type", 11}}}},
                                                                      {"faults", faults}}});
}

// `quillbox --bench BENCH record ARGS` started by a shell that runs `setup` first.
std::vector<std::string> InShell(const std::string& setup, const std::string& bench,
                                 const std::vector<std::string>& args) {
  std::vector<std::string> argv = {
      "/bin/sh", "-c", setup + "; exec \"$@\"", "sh", QUILLBOX_CLI, "--bench", bench, "record"};
  argv.insert(argv.end(), args.begin(), args.end());
  return argv;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

TEST(CliService, ReadyOnceTheFilesExistThenStatusAndTheWatchdogUntilStopping) {
  const NotifySocket manager;
  const std::string csv = ScratchPrefix() + "service.csv";
  ChildProcess p({QUILLBOX_CLI, "--bench", Bench(), "record", "-c", "0", "-r", "100", "-d",
                  "100000", "--status-every", "1", "-o", csv},
                 {{"QUILLBOX_TIME_SCALE", "10"},
                  {"NOTIFY_SOCKET", manager.path},
                  {"WATCHDOG_USEC", "1000000"},
                  {"WATCHDOG_PID", std::nullopt}});
  std::vector<std::string> got;
  std::vector<SteadyClock::time_point> pings;
  for (const auto end = SteadyClock::now() + 20s; pings.size() < 5 && SteadyClock::now() < end;) {
    const std::string m = manager.Next(1s);
    if (m.starts_with("READY=1")) {  // the datagram left after the files were made
      EXPECT_TRUE(fs::exists(csv) && fs::exists(csv + ".json")) << "READY before the files";
    }
    if (m == "WATCHDOG=1") pings.push_back(SteadyClock::now());
    if (!m.empty()) got.push_back(m);
  }
  p.Signal(SIGTERM);
  const ChildResult r = p.Wait();
  ASSERT_EQ(r.exitCode, 0) << r.err;
  for (const std::string& m : manager.Rest()) got.push_back(m);

  ASSERT_EQ(pings.size(), 5u);
  // Every half interval: well within the second that would end the process, not at every poll.
  for (std::size_t i = 1; i < pings.size(); ++i) {
    EXPECT_GT(pings[i] - pings[i - 1], 400ms);
    EXPECT_LT(pings[i] - pings[i - 1], 1s);
  }
  // Ready as the recording starts (how long after depends on the machine's load).
  EXPECT_TRUE(got.front().starts_with("READY=1\nSTATUS=recording " + csv + ": 0 frames, 0.") &&
              got.front().ends_with(" s of 100000.0 s"))
      << got.front();
  EXPECT_TRUE(got.back().starts_with("STOPPING=1\nSTATUS=stopping on SIGTERM")) << got.back();
  EXPECT_EQ(std::count_if(got.begin(), got.end(), [](auto& m) { return m.starts_with("STOP"); }),
            1);
  // A status line a second of recording on stderr, each also the service's status.
  const std::regex status("quillbox: recording " + csv + ": (\\d+) frames, (\\d+\\.\\d) s of " +
                          "100000\\.0 s");
  const auto lines = Lines(r.err);
  EXPECT_GE(lines.size(), 10u);
  int second = 0;
  for (const std::string& line : lines) {
    std::smatch m;
    ASSERT_TRUE(std::regex_match(line, m, status)) << line;
    const double elapsed = std::stod(m[2]);
    EXPECT_GT(static_cast<int>(elapsed), second) << line;
    second = static_cast<int>(elapsed);
    EXPECT_NEAR(std::stod(m[1]), elapsed * 100, 100) << line;
    EXPECT_NE(std::find(got.begin(), got.end(), "STATUS=" + line.substr(10)), got.end()) << line;
  }
}

TEST(CliService, TheWatchdogIsFedWhenItNamesTheRecorderAndARefusedRecordingIsNeverReady) {
  for (const std::string& pid : {std::string("$$"), std::to_string(getpid())}) {
    NotifySocket manager;
    const std::string csv = ScratchPrefix() + "pid" + std::to_string(pid.size()) + ".csv";
    const ChildResult r = RunProcess(InShell("export WATCHDOG_PID=" + pid, Bench(),
                                             {"-c", "0", "-r", "100", "-d", "2", "-o", csv}),
                                     {{"QUILLBOX_TIME_SCALE", "10"},
                                      {"NOTIFY_SOCKET", manager.path},
                                      {"WATCHDOG_USEC", "1000000"}});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const auto got = manager.Rest();
    ASSERT_FALSE(got.empty());
    EXPECT_TRUE(got.front().starts_with("READY=1")) << got.front();
    EXPECT_TRUE(got.back().starts_with("STOPPING=1\nSTATUS=recorded 200 frames (end)"));
    EXPECT_EQ(std::count(got.begin(), got.end(), "WATCHDOG=1") > 0, pid == "$$") << pid;
  }
  // Channel 2 lies in an empty slot: refused after the module opened, before any start.
  NotifySocket manager;
  const ChildResult r =
      Quillbox({"--bench", Bench(), "record", "-c", "2", "-o", ScratchPrefix() + "refused.csv"},
               {{"NOTIFY_SOCKET", manager.path}});
  EXPECT_EQ(r.exitCode, 1) << r.err;
  EXPECT_EQ(manager.Rest(), std::vector<std::string>{});
}

TEST(CliService, OnTheJournalEveryLineCarriesItsPriority) {
  // A rate above the highest (a warning), status lines (info), then a stall (an error).
  for (const std::string file : {"/proc/self/fd/2", "/"}) {
    const std::string csv = ScratchPrefix() + "journal" + std::to_string(file.size()) + ".csv";
    const ChildResult r =
        RunProcess(InShell("export JOURNAL_STREAM=$(stat -L -c %d:%i " + file + ")",
                           Bench({{"data_calls_fail", true}}),
                           {"-c", "0", "-r", "1000", "--status-every", "1", "-o", csv}),
                   {{"QUILLBOX_TIME_SCALE", "10"}});
    EXPECT_EQ(r.exitCode, 1) << r.err;
    // Only a stream that is stderr itself is the journal's.
    const bool journal = file != "/";
    const auto priority = [&](const char* p) { return std::string(journal ? p : ""); };
    const auto lines = Lines(r.err);
    ASSERT_GE(lines.size(), 3u) << r.err;
    EXPECT_EQ(lines[0], priority("<4>") +
                            "quillbox: rate: 1000 Hz is above the highest rate, "
                            "100 Hz; recording at 100 Hz");
    EXPECT_EQ(lines[1].rfind(priority("<6>") + "quillbox: recording ", 0), 0u) << lines[1];
    EXPECT_EQ(lines.back(), priority("<3>") +
                                "quillbox: the module stopped delivering data "
                                "(E270GetDATA failed)");
  }
}

TEST(CliService, ATerminalGetsAProgressLineUnlessQuietAndNoStatusLines) {
  if (!fs::exists("/usr/bin/script")) GTEST_SKIP() << "no script(1) to give record a terminal";
  const std::string csv = ScratchPrefix() + "terminal.csv";
  const std::string command = std::string(QUILLBOX_CLI) + " --bench " + Bench() +
                              " record --force -c 0 -d 10 --status-every 1 -o " + csv;
  for (const std::string quiet : {"", " -q"}) {
    const ChildResult r = RunProcess({"/usr/bin/script", "-qec", command + quiet, "/dev/null"},
                                     {{"QUILLBOX_TIME_SCALE", "5"}});
    ASSERT_EQ(r.exitCode, 0) << r.Output();
    EXPECT_EQ(r.out.find("quillbox: recording"), std::string::npos) << r.out;
    // Whole seconds recorded and left that add up to the length.
    const std::regex progress(
        "\r\x1b\\[K0:00:(\\d\\d) of 0:00:10, 0:00:(\\d\\d) left  \\d+ frames  " + csv);
    std::smatch m;
    ASSERT_EQ(std::regex_search(r.out, m, progress), quiet.empty()) << r.out;
    if (quiet.empty()) {
      EXPECT_EQ(std::stoi(m[1]) + std::stoi(m[2]), 10) << m[0];
    }
  }
}

TEST(CliService, ConfigFilesHoldAnOptionALineAndSayWhatTheyCannotRead) {
  const std::string folder = ScratchPrefix() + "conf dir/";
  fs::create_directories(folder);
  const std::string conf = folder + "lab.conf", csv = folder + "run 1.csv";
  std::ofstream(conf) << "# lab\n\n--channels 0\r\n  --rate 50\n-n 20\n--output " << csv
                      << "  \n--device 27000999\n--raw\n";
  ChildResult r = Quillbox({"--bench", Bench(), "record", "--config", conf}, {});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const Json j = Description(csv);
  const Json expected = {{"channels", {0}},
                         {"rate_requested", 50},
                         {"frames", 20},
                         {"raw", true},
                         {"serial", "27000999"}};
  EXPECT_EQ(Pick(j, expected), expected);

  // A line that is no option, an option the file and the command line both give, no file.
  std::ofstream(conf) << "--channels 0\nrate 50\n";
  r = Quillbox({"record", "--config", conf});
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_NE(r.err.find(conf + ":2: \"rate 50\" is no option"), std::string::npos) << r.err;
  std::ofstream(conf) << "--rate 50\n";
  EXPECT_EQ(Quillbox({"record", "--config", conf, "-r", "10"}).exitCode, 2);
  r = Quillbox({"record", "--config", folder + "none.conf"});
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_EQ(r.err, "quillbox: --config " + folder + "none.conf: No such file or directory\n");
}

// The unit as systemd reads it, with the command where the test finds it.
TEST(CliService, TheUnitPassesSystemdAnalyzeVerify) {
  const char* source = std::getenv("QUILLBOX_TEST_SOURCE_DIR");
  if (source == nullptr || !fs::exists("/usr/bin/systemd-analyze"))
    GTEST_SKIP() << "systemd-analyze or the source folder is missing";
  std::string unit = ReadFile(std::string(source) + "/packaging/quillbox-record@.service");
  const std::string command = "ExecStart=quillbox ";
  ASSERT_NE(unit.find(command), std::string::npos);
  unit.replace(unit.find(command), command.size(), "ExecStart=" + std::string(QUILLBOX_CLI) + " ");
  const std::string copy = ScratchPrefix() + "quillbox-record@lab.service";
  std::ofstream(copy) << unit;
  const ChildResult r = RunProcess({"/usr/bin/systemd-analyze", "verify", "--man=no", copy});
  EXPECT_EQ(r.exitCode, 0) << r.Output();
  // Its own findings; the machine's other units may have theirs.
  EXPECT_EQ(r.Output().find("quillbox-record"), std::string::npos) << r.Output();
  fs::remove(copy);
}

}  // namespace
}  // namespace quillbox::test
