// Listing the E-270 modules on the USB driver: the name pattern, the order, the serial text,
// nodes in use elsewhere, handles left behind, and listings beside other processes' opens.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "ChildProcess.h"
#include "OpenTestSupport.h"
#include "device/Connection.h"
#include "device/Enumeration.h"
#include "platform/DeviceNodes.h"

namespace quillbox::test {
namespace {

TEST(MatchesPattern, Wildcards) {
  const struct {
    const char* text;
    const char* pattern;
    bool match;
  } cases[] = {
      {"E-270", "e-270", false},
      {"E-270", "E-27", false},
      {"", "*", true},
      {"", "?", false},
      {"E-270", "E-2?0", true},
      {"E-20", "E-2?0", false},
      {"E-270", "*7*", true},
      {"aXbXc", "*X*c", true},
      {"aXbXd", "*X*c", false},
      {"E-270", "E-###", true},
      {"E-2A0", "E-###", false},
      {"F-270", "[!DE]-270", true},
      {"E-270", "[!DE]-270", false},
      {"b", "[a-c]", false},  // a list, not a range
      {"*", "[*]", true},
      {"E", "[]", false},
      {"E", "[!]", true},
      {"E-270", "E-[2", false},  // an unclosed list matches nothing
  };
  for (const auto& c : cases) {
    EXPECT_EQ(MatchesPattern(c.text, c.pattern), c.match)
        << '"' << c.text << "\" vs \"" << c.pattern << '"';
  }
}

class Enumeration : public OpenTest {};

TEST_F(Enumeration, ListsE270ModulesInDeviceOrderWithTheirSerials) {
  RawDescriptor d;  // serial "AB", byte 0x80, "CD"
  d.serial = {'A', 'B', 0x80, 'C', 'D', 0, 0, 0, 0};
  d.name = Ascii("E-270", 7, 0);
  Load({Module("usb7", {{"serial", "77777777"}}), Module("usb2", {{"serial", "12 456"}}),
        Module("usb0", {{"serial", "123456789"}}), Module("com1", {{"serial", "COMPORT1"}}),
        Module("usb5", {{"eeprom", {{"0", DescriptorHex(d)}}}})});
  S().Devices.push_back(DeviceEntry{"USB", "E-270", "stale", "USB1", 0});
  ASSERT_EQ(EnumerateDevices(S().Dev, S(), "E-270"), 4);
  ASSERT_EQ(S().DeviceCount, 4);
  // The 9th byte of the field is never used; a space counts, a NUL or any other non-printable
  // byte ends the serial.
  std::vector<std::string> listed;
  listed.reserve(S().Devices.size());
  for (const DeviceEntry& e : S().Devices) {
    listed.push_back(std::to_string(e.DeviceIndex) + " " + e.PortName + " " + e.SerialNumber + " " +
                     e.BoardName);
  }
  EXPECT_EQ(listed, (std::vector<std::string>{"0 USB1 12345678 E-270", "2 USB3 12 456 E-270",
                                              "5 USB6 AB E-270", "7 USB8 77777777 E-270"}));
  ExpectRecordReset();
  ExpectAllClosed();
  Load({});
  EXPECT_EQ(EnumerateDevices(S().Dev, S(), "E-270"), 0);
  EXPECT_TRUE(S().Devices.empty());
}

TEST_F(Enumeration, SkipsOtherModuleNamesAndUnreadableDescriptors) {
  Load({Module("usb0", {{"name", "E-270X"}}), Module("usb1", {{"name", "E-440"}}),
        Module("usb2", {{"name", "E-270"}, {"serial", "GOOD0002"}}),
        Module("usb3", {{"faults", {{"eeprom_unreadable_pages", {0}}}}}),
        Module("usb4", {{"name", "e-270"}})});
  EXPECT_EQ(EnumerateDevices(S().Dev, S(), "E-270"), 1);
  ASSERT_EQ(S().Devices.size(), 1u);
  EXPECT_EQ(S().Devices[0].SerialNumber, "GOOD0002");
  // A pattern that admits other names still lists only E-270 modules.
  EXPECT_EQ(EnumerateDevices(S().Dev, S(), "*"), 1);
  EXPECT_EQ(EnumerateDevices(S().Dev, S(), "E-4*"), 0);
  ExpectAllClosed();
}

TEST_F(Enumeration, NodeHeldOpenElsewhereIsSkippedAndNamed) {
  Load({Module("usb0", {{"serial", "HELD0000"}}), Module("usb1", {{"serial", "FREE0001"}})});
  int32_t held = OpenLDevUsb(0);
  ASSERT_NE(held, -1);
  EXPECT_EQ(OpenLDevUsb(0), -1);  // the open is exclusive
  EXPECT_EQ(ReadModuleName(held), "E-270");
  EXPECT_EQ(EnumerateDevices(S().Dev, S(), "E-270"), 1);
  EXPECT_EQ(S().BusyPorts, std::vector<std::string>{"USB1"});
  EXPECT_EQ(S().Devices[0].SerialNumber, "FREE0001");
  CloseLDevUsb(held);
  EXPECT_EQ(held, -1);
  EXPECT_EQ(ReadModuleName(held), "");
  EXPECT_EQ(EnumerateDevices(S().Dev, S(), "E-270"), 2);
  EXPECT_TRUE(S().BusyPorts.empty());
}

constexpr const char* kOpenChild = "QUILLBOX_TEST_OPEN_CHILD";  // "<port> <start, ns> <runtime>"
constexpr auto kLoopFor = std::chrono::milliseconds(800);

// Opens and closes the module on the port it is given, again and again from the given moment of
// the steady clock (shared by all processes) for kLoopFor and at least 20 times, on the runtime
// folder it is given. Runs only in the child processes of the test below.
TEST(ConcurrentOpenChild, OpensItsModuleAgainAndAgain) {
  const char* task = std::getenv(kOpenChild);
  if (task == nullptr) GTEST_SKIP() << "runs in a child process only";
  std::istringstream words(task);
  std::string port, runtime;
  int64_t start = 0;
  words >> port >> start;
  std::getline(words >> std::ws, runtime);
  setenv("QUILLBOX_RUNTIME_DIR", runtime.c_str(), 1);
  SetDeviceChoice(port, "--device");
  ModuleRecord m;
  m.Adc.ADCName = "E-270";
  E270Init(&m.Dev);
  const std::chrono::steady_clock::time_point from{std::chrono::nanoseconds(start)};
  std::this_thread::sleep_until(from);
  int opens = 0;
  std::vector<std::string> failures;
  // A child that starts late still opens its module a few times.
  for (; opens < 20 || std::chrono::steady_clock::now() < from + kLoopFor; ++opens) {
    if (DeviceOpen(m) == 0) failures.push_back(m.Adc.LastError);
    DeviceClose(m);
  }
  EXPECT_TRUE(failures.empty()) << failures.size() << " of " << opens
                                << " opens failed, first: " << failures.front();
}

// Four processes start opening four modules at the same moment, again and again: a listing never
// makes another process's open fail, and lists a module that another process only lists.
TEST(ConcurrentOpen, ListingInAnotherProcessNeverMakesAnOpenFail) {
  const std::string bench = ScratchPrefix() + "four.json";
  Json modules = Json::array();
  for (int n = 0; n < 4; ++n)
    modules.push_back(
        Module("usb" + std::to_string(n), {{"serial", "FOUR000" + std::to_string(n)}}));
  std::ofstream(bench) << Json{{"modules", modules}}.dump();
  using std::chrono::nanoseconds;
  const auto start = std::chrono::steady_clock::now() + std::chrono::milliseconds(400);
  const std::string from =
      std::to_string(std::chrono::duration_cast<nanoseconds>(start.time_since_epoch()).count());
  std::vector<std::unique_ptr<ChildProcess>> children;
  for (int n = 0; n < 4; ++n) {
    const std::string task =
        "USB" + std::to_string(n + 1) + " " + from + " " + std::getenv("QUILLBOX_RUNTIME_DIR");
    children.push_back(std::make_unique<ChildProcess>(
        std::vector<std::string>{SelfPath(), "--gtest_filter=ConcurrentOpenChild.*"},
        EnvChanges{{kOpenChild, task}, {"QUILLBOX_BENCH", bench}}));
  }
  for (auto& child : children) {
    const ChildResult r = child->Wait();
    EXPECT_EQ(r.exitCode, 0) << r.Output();
  }
  std::filesystem::remove(bench);
}

}  // namespace
}  // namespace quillbox::test
