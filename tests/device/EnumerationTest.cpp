// Listing the E-270 modules on the USB driver: the name pattern, the order, the serial text,
// nodes in use elsewhere, and handles left behind.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "OpenTestSupport.h"
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

}  // namespace
}  // namespace quillbox::test
