#include <gtest/gtest.h>

#include "OpenTestSupport.h"
#include "device/Enumeration.h"
#include "platform/DeviceNodes.h"

namespace quillbox::test {
namespace {

TEST(MatchesPattern, Wildcards) {
  struct Case {
    const char* text;
    const char* pattern;
    bool match;
  } cases[] = {
      {"E-270", "E-270", true},
      {"E-270", "e-270", false},  // case-sensitive
      {"E-270", "E-27", false},
      {"E-27", "E-270", false},
      {"", "", true},
      {"", "*", true},
      {"", "?", false},
      {"E-270", "E-2?0", true},
      {"E-20", "E-2?0", false},
      {"E-270", "E-*", true},
      {"E-270", "*0", true},
      {"E-270", "*7*", true},
      {"E-270", "*8*", false},
      {"E-270", "E*2*7*0", true},
      {"E-270", "E**0", true},
      {"aXbXc", "*X*c", true},
      {"aXbXd", "*X*c", false},
      {"E-270", "E-###", true},
      {"E-2A0", "E-###", false},
      {"E-270", "E-#", false},
      {"E-270", "[DE]-270", true},
      {"F-270", "[DE]-270", false},
      {"F-270", "[!DE]-270", true},
      {"E-270", "[!DE]-270", false},
      {"-", "[a-c]", true},  // a list, not a range
      {"b", "[a-c]", false},
      {"*", "[*]", true},
      {"x", "[*]", false},
      {"?", "[?]", true},
      {"#", "[#]", true},
      {"5", "[#]", false},
      {"E", "[]", false},
      {"E", "[!]", true},
      {"E-270", "E-[2", false},  // an unclosed list matches nothing
      {"]", "]", true},
      {"!", "!", true},
      {"E-270", "E-270*", true},
      {"E-270X", "E-270", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(MatchesPattern(c.text, c.pattern), c.match)
        << '"' << c.text << "\" vs \"" << c.pattern << '"';
  }
}

class Enumeration : public OpenTest {};

TEST_F(Enumeration, NoModuleGivesAnEmptyList) {
  Load({});
  S().Devices.push_back(DeviceEntry{"USB", "E-270", "stale", "USB1", 0});
  S().DeviceCount = 1;
  EXPECT_EQ(EnumerateDevices(S().Dev, S(), "E-270"), 0);
  EXPECT_EQ(S().DeviceCount, 0);
  EXPECT_TRUE(S().Devices.empty());
  ExpectRecordReset();
}

TEST_F(Enumeration, ListsE270ModulesInDeviceOrderWithTheirSerials) {
  Load({Module("usb7", {{"serial", "77777777"}}), Module("usb2", {{"serial", "12 456"}}),
        Module("usb0", {{"serial", "123456789"}}), Module("com1", {{"serial", "COMPORT1"}})});
  ASSERT_EQ(EnumerateDevices(S().Dev, S(), "E-270"), 3);
  ASSERT_EQ(S().DeviceCount, 3);
  ASSERT_EQ(S().Devices.size(), 3u);
  const DeviceEntry& first = S().Devices[0];
  EXPECT_EQ(first.DeviceIndex, 0);
  EXPECT_EQ(first.PortName, "USB1");
  EXPECT_EQ(first.PortType, "USB");
  EXPECT_EQ(first.BoardName, "E-270");
  EXPECT_EQ(first.SerialNumber, "12345678");  // the 9th byte of the field is never used
  EXPECT_EQ(S().Devices[1].DeviceIndex, 2);
  EXPECT_EQ(S().Devices[1].PortName, "USB3");
  EXPECT_EQ(S().Devices[1].SerialNumber, "12 456");  // space counts, the NUL ends it
  EXPECT_EQ(S().Devices[2].DeviceIndex, 7);
  EXPECT_EQ(S().Devices[2].PortName, "USB8");
  ExpectRecordReset();
  ExpectAllClosed();
}

TEST_F(Enumeration, SkipsOtherModuleNamesAndUnreadableDescriptors) {
  Load({Module("usb0", {{"name", "E-270X"}}), Module("usb1", {{"name", "E-440"}}),
        Module("usb2", {{"name", "E-270"}, {"serial", "GOOD0002"}}),
        Module("usb3", {{"faults", {{"eeprom_unreadable_pages", {0}}}}}),
        Module("usb4", {{"name", "e-270"}})});
  EXPECT_EQ(EnumerateDevices(S().Dev, S(), "E-270"), 1);
  ASSERT_EQ(S().Devices.size(), 1u);
  EXPECT_EQ(S().Devices[0].DeviceIndex, 2);
  EXPECT_EQ(S().Devices[0].SerialNumber, "GOOD0002");
  // A pattern that admits other names still lists only E-270 modules.
  EXPECT_EQ(EnumerateDevices(S().Dev, S(), "*"), 1);
  EXPECT_EQ(EnumerateDevices(S().Dev, S(), "E-4*"), 0);
  ExpectAllClosed();
}

TEST_F(Enumeration, SerialStopsAtTheFirstNonPrintableByte) {
  // Serial field: "AB", then byte 0x80, then "CD".
  RawDescriptor d;
  d.serial = {'A', 'B', 0x80, 'C', 'D', 0, 0, 0, 0};
  d.name = Ascii("E-270", 7, 0);
  Load({Module("usb5", {{"eeprom", {{"0", DescriptorHex(d)}}}})});
  ASSERT_EQ(EnumerateDevices(S().Dev, S(), "E-270"), 1);
  EXPECT_EQ(S().Devices[0].SerialNumber, "AB");
}

TEST_F(Enumeration, NodeHeldOpenElsewhereIsSkipped) {
  Load({Module("usb0", {{"serial", "HELD0000"}}), Module("usb1", {{"serial", "FREE0001"}})});
  int32_t held = OpenLDevUsb(0);
  ASSERT_NE(held, -1);
  EXPECT_EQ(OpenLDevUsb(0), -1);  // the open is exclusive
  EXPECT_EQ(EnumerateDevices(S().Dev, S(), "E-270"), 1);
  EXPECT_EQ(S().BusyPorts, std::vector<std::string>{"USB1"});
  ASSERT_EQ(S().Devices.size(), 1u);
  EXPECT_EQ(S().Devices[0].SerialNumber, "FREE0001");
  CloseLDevUsb(held);
  EXPECT_EQ(held, -1);
  EXPECT_EQ(EnumerateDevices(S().Dev, S(), "E-270"), 2);
  EXPECT_TRUE(S().BusyPorts.empty());
}

TEST_F(Enumeration, SecondScanForgetsUnpluggedModules) {
  Load({Module("usb0", {{"serial", "AAAA0000"}}), Module("usb3", {{"serial", "BBBB0003"}})});
  EXPECT_EQ(EnumerateDevices(S().Dev, S(), "E-270"), 2);
  sim::Unplug("usb0");
  EXPECT_EQ(EnumerateDevices(S().Dev, S(), "E-270"), 1);
  ASSERT_EQ(S().Devices.size(), 1u);
  EXPECT_EQ(S().Devices[0].SerialNumber, "BBBB0003");
  EXPECT_EQ(S().DeviceCount, 1);
}

TEST_F(Enumeration, ModuleNameRequestAndHandles) {
  Load({Module("usb6", {{"name", "E-270"}})});
  int32_t handle = OpenLDevUsb(6);
  ASSERT_NE(handle, -1);
  EXPECT_NE(handle & 0xFFFF, 0);
  EXPECT_EQ(ReadModuleName(handle), "E-270");
  CloseLDevUsb(handle);
  EXPECT_EQ(handle, -1);
  EXPECT_EQ(ReadModuleName(handle), "");
  EXPECT_EQ(OpenLDevUsb(5), -1);
  EXPECT_EQ(OpenLDevUsb(8), -1);
  EXPECT_EQ(OpenLDevUsb(-1), -1);
  // A handle of a module that went away answers nothing.
  handle = OpenLDevUsb(6);
  sim::Unplug("usb6");
  EXPECT_EQ(ReadModuleName(handle), "");
  CloseLDevUsb(handle);
}

TEST_F(Enumeration, AddDeviceLeavesTheRecordReset) {
  Load({Module("usb1", {{"serial", "ADD00001"}})});
  S().Dev.ComPort = 5;
  EXPECT_FALSE(AddDevice(S().Dev, S(), 0));  // nothing at number 0
  ExpectRecordReset();
  EXPECT_TRUE(AddDevice(S().Dev, S(), 1));
  EXPECT_TRUE(AddDevice(S().Dev, S(), 1));  // no duplicate check: the caller scans each number once
  EXPECT_EQ(S().DeviceCount, 2);
  ExpectRecordReset();
  ExpectAllClosed();
}

class Chooser : public OpenTest {};

TEST_F(Chooser, EnvironmentNamesASerialOrAPort) {
  Load({Module("usb1", {{"serial", "SER00001"}}), Module("usb4", {{"serial", "SER00004"}}),
        Module("usb6", {{"serial", "SER00004"}})});
  ASSERT_EQ(EnumerateDevices(S().Dev, S(), "E-270"), 3);
  int chooserCalls = 0;
  SetDeviceChooser([&chooserCalls](const DeviceListing& s) {
    ++chooserCalls;
    return s.Devices.back().DeviceIndex;
  });

  // A set variable answers alone: its module, or none when it names no listed module, several
  // of them, or a serial port.
  const std::vector<std::pair<const char*, int16_t>> cases = {
      {"SER00001", 1}, {"usb7", 6},  {"USB2", 1},      {"SER00004", -1}, {"NOSUCH00", -1},
      {"usb1", -1},    {"usb9", -1}, {"ser00001", -1}, {"COM2", -1},     {"usb", -1}};
  for (const auto& [value, device] : cases) {
    setenv("QUILLBOX_DEVICE", value, 1);
    EXPECT_EQ(ChooseDevice(S()), device) << value;
  }
  EXPECT_EQ(chooserCalls, 0);

  unsetenv("QUILLBOX_DEVICE");
  EXPECT_EQ(ChooseDevice(S()), 6);
  SetDeviceChooser({});
  EXPECT_EQ(ChooseDevice(S()), -1);  // no chooser counts as cancelled
}

}  // namespace
}  // namespace quillbox::test
