#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "OpenTestSupport.h"
#include "device/Connection.h"
#include "device/Descriptor.h"
#include "device/Enumeration.h"
#include "platform/UiHost.h"

namespace quillbox::test {
namespace {

const std::string kNotFound = "No found E-270 on USB or COM ports!";
const std::string kCrc = "CRC error of module!";
const std::string kUnreadable = "Unable to read information from module!";

TEST(Descriptor, Windows1252Decoding) {
  EXPECT_EQ(Windows1252Char('A'), "A");
  EXPECT_EQ(Windows1252Char(0), std::string(1, '\0'));
  EXPECT_EQ(Windows1252Char(133), "\xE2\x80\xA6");   // …
  EXPECT_EQ(Windows1252Char(177), "\xC2\xB1");       // ±
  EXPECT_EQ(Windows1252Char(255), "\xC3\xBF");       // ÿ
  EXPECT_EQ(Windows1252Char(0x80), "\xE2\x82\xAC");  // €
  EXPECT_EQ(Windows1252Char(0x8A), "\xC5\xA0");      // Š
  EXPECT_EQ(Windows1252Char(0x9F), "\xC5\xB8");      // Ÿ
  EXPECT_EQ(Windows1252Char(0x81), "\xC2\x81");      // undefined: the C1 control of that value
  EXPECT_EQ(Windows1252Char(0xA0), "\xC2\xA0");
  const uint8_t bytes[] = {'0', 133, '5', ' ', 'm', 'A'};
  EXPECT_EQ(Windows1252ToUtf8(bytes, sizeof bytes),
            "0\xE2\x80\xA6"
            "5 mA");
}

TEST(Descriptor, TrimAtTerminator) {
  const std::string nul(1, '\0');
  const std::string y = "\xC3\xBF";
  struct Case {
    std::string in, out;
  } cases[] = {
      {"E-270" + nul + nul, "E-270"},
      {nul + "E-270" + nul, nul + "E-270" + nul},  // a terminator first cuts nothing
      {"ADSP" + y + y, "ADSP"},
      {y + "ADSP", y + "ADSP"},
      {"AB" + nul + "C" + y, "AB"},
      {nul + "AB" + y + "C", nul + "AB"},  // the NUL cut does nothing, the 255 cut still applies
      {"AB" + y + "C" + nul, "AB"},
      {"", ""},
      {nul, nul},
      {"plain", "plain"},
  };
  for (const Case& c : cases) {
    std::string text = c.in;
    TrimAtTerminator(text);
    EXPECT_EQ(text, c.out);
  }
}

TEST(Descriptor, RevisionAndMezzanineSerial) {
  EXPECT_EQ(RevisionText(1), "A");
  EXPECT_EQ(RevisionText(2), "B");
  EXPECT_EQ(RevisionText(0), "@");
  EXPECT_EQ(RevisionText(69), "\xE2\x80\xA6");  // 133
  EXPECT_EQ(RevisionText(191), "\xC3\xBF");     // 255
  EXPECT_EQ(RevisionText(192), "?");
  EXPECT_EQ(RevisionText(255), "?");
  EXPECT_EQ(MezzanineSerial(5, 'A', 1234), "5A001234");
  EXPECT_EQ(MezzanineSerial(0, 'Z', 0), "0Z000000");
  EXPECT_EQ(MezzanineSerial(255, 177, 0x0012D687),
            "255\xC2\xB1"
            "185991");
  EXPECT_EQ(MezzanineSerial(1, 'B', 0xFFFFFFFF), "1B1048575");  // longer numbers stay whole
}

TEST(Descriptor, PortName) {
  Device d{};
  std::string name = "before";
  d.Interface = 2;
  PortName(d, name);
  EXPECT_EQ(name, "USB");
  d.Interface = 0;
  d.ComPort = 3;
  PortName(d, name);
  EXPECT_EQ(name, "COM3");
  d.Interface = 1;
  PortName(d, name);
  EXPECT_EQ(name, "COM3");
}

class Open : public OpenTest {};

TEST_F(Open, ModuleOnUsbOnly) {
  Load({Module(
      "usb2",
      {{"serial", "27000999"},
       {"revision", 2},
       {"slots", {{{"type", 10}, {"version", {1, 2}}, {"serial", {5, "A", 1234}}}, {{"type", 21}}}},
       {"dio", {{"inputs", 0xA5}}}})});
  S().Dio.DIValue = 0x12345600;
  S().Dio.DOValue = 0x7FFFFFFF;
  const int16_t port = DeviceOpen(S());
  ASSERT_NE(port, 0) << S().Adc.LastError;
  EXPECT_EQ(port, static_cast<int16_t>(S().Dev.Handle & 0xFFFF));
  EXPECT_EQ(S().Adc.LastError, "");
  EXPECT_EQ(S().Board.PortName, "USB");
  EXPECT_EQ(S().Board.BoardName, "E-270");
  EXPECT_EQ(S().Board.SerialNumber, "27000999");
  EXPECT_EQ(S().Board.BoardRevision, "B");
  EXPECT_EQ(S().Board.ProcessorName, "ADSP");
  EXPECT_EQ(S().Board.ClockFrequency, 24000000);

  const ModuleSlot& m0 = S().Modules[0];
  EXPECT_EQ(m0.ModuleType, 10);
  EXPECT_EQ(m0.VersionMajor, 1);
  EXPECT_EQ(m0.VersionMinor, 2);
  EXPECT_EQ(m0.ModuleSerial, "5A001234");
  EXPECT_EQ(m0.ModuleName, "U10");
  EXPECT_EQ(m0.RangeText,
            "\xC2\xB1"
            "10 V");
  EXPECT_EQ(m0.Scale, 1638.4f);
  EXPECT_EQ(m0.Offset, 16384);
  EXPECT_EQ(S().Modules[1].ModuleName, "I10");
  for (int slot = 2; slot < 8; ++slot) {
    EXPECT_EQ(S().Modules[slot].ModuleType, 255);
    EXPECT_EQ(S().Modules[slot].ModuleName, "Empty");
    EXPECT_EQ(S().Modules[slot].RangeText, "?? ??");
  }
  EXPECT_EQ(S().DirectSource.RangeText,
            "0\xE2\x80\xA6"
            "4.096 V");
  EXPECT_EQ(S().DirectSource.Scale, 62.499996185302734f);
  EXPECT_EQ(S().TTLSource.RangeText, "0/1 TTL");

  const ChannelTables& t = S().Adc.Tables;
  EXPECT_EQ(t.Ranges.size(), 5u);  // ±10 V, ±10 mA, ?? ??, 0…4.096 V, 0/1 TTL
  EXPECT_EQ(t.ChannelNames[0], "M1-Ch1_U10");
  EXPECT_EQ(t.ChannelNames[7], "M4-Ch8_Empty");
  EXPECT_EQ(t.ChannelNames[31], "TTL-In8");

  // Idle configuration and the digital lines.
  const sim::ModuleStatus st = sim::Status("usb2");
  EXPECT_TRUE(st.connected);
  EXPECT_EQ(st.setConfigCalls, 1);
  EXPECT_EQ(st.lastRateDivider, 250);
  EXPECT_EQ(st.lastControlByte, 0xC7);
  EXPECT_TRUE(S().Dio.DIODetected);
  EXPECT_EQ(S().Dio.DIBits, 8);
  EXPECT_EQ(S().Dio.DOBits, 8);
  EXPECT_EQ(S().Dio.DIValue, 0x123456A5);  // only the lowest byte is replaced
  EXPECT_EQ(S().Dio.DOValue, 0x7FFFFF00);
}

TEST_F(Open, ModuleOnSerialPortOnly) {
  Load({Module("com2", {{"serial", "COM00002"}})});
  const int16_t port = DeviceOpen(S());
  ASSERT_NE(port, 0) << S().Adc.LastError;
  EXPECT_EQ(S().Dev.Interface, 0);
  EXPECT_EQ(S().Dev.ComPort, 2);
  EXPECT_EQ(port, static_cast<int16_t>(S().Dev.Handle & 0xFFFF));
  EXPECT_EQ(S().Board.PortName, "COM2");
  EXPECT_EQ(S().Board.SerialNumber, "COM00002");
  EXPECT_TRUE(S().Devices.empty());
}

TEST_F(Open, UsbComesBeforeSerialPorts) {
  Load({Module("com1", {{"serial", "SERIAL01"}}), Module("usb5", {{"serial", "USB00005"}})});
  ASSERT_NE(DeviceOpen(S()), 0);
  EXPECT_EQ(S().Board.PortName, "USB");
  EXPECT_EQ(S().Board.SerialNumber, "USB00005");
  EXPECT_FALSE(sim::Status("com1").connected);
}

TEST_F(Open, FirstAnsweringSerialPortWins) {
  Load({Module("com7", {{"serial", "SERIAL07"}}), Module("com4", {{"serial", "SERIAL04"}})});
  ASSERT_NE(DeviceOpen(S()), 0);
  EXPECT_EQ(S().Board.PortName, "COM4");
  EXPECT_FALSE(sim::Status("com7").connected);
}

TEST_F(Open, TwoModulesAskTheChooser) {
  Load({Module("usb1", {{"serial", "FIRST001"}}), Module("usb3", {{"serial", "SECOND03"}})});
  std::vector<std::string> listed;
  SetDeviceChooser([&listed](const DeviceListing& s) {
    for (const DeviceEntry& e : s.Devices) listed.push_back(e.SerialNumber);
    return int16_t(3);
  });
  ASSERT_NE(DeviceOpen(S()), 0);
  EXPECT_EQ(listed, (std::vector<std::string>{"FIRST001", "SECOND03"}));
  EXPECT_EQ(S().Board.SerialNumber, "SECOND03");
  EXPECT_TRUE(sim::Status("usb3").connected);
  EXPECT_FALSE(sim::Status("usb1").usbNodeOpen);
}

TEST_F(Open, EnvironmentOpensTheNamedModuleOrNone) {
  const std::vector<Json> one = {Module("usb0", {{"serial", "FIRST000"}}),
                                 Module("com5", {{"serial", "SERIAL05"}})};
  const std::vector<Json> two = {Module("usb1", {{"serial", "FIRST001"}}),
                                 Module("usb3", {{"serial", "SECOND03"}}),
                                 Module("com5", {{"serial", "SERIAL05"}})};
  int calls = 0;
  SetDeviceChooser([&calls](const DeviceListing&) {
    ++calls;
    return int16_t(3);
  });
  struct Case {
    const std::vector<Json>& bench;
    const char* value;
    std::string serial;  // of the opened module; "" when the open must fail
  };
  const std::vector<Case> cases = {
      {two, "FIRST001", "FIRST001"}, {two, "usb4", "SECOND03"},
      {two, "com5", "SERIAL05"},     {one, "usb2", ""},
      {one, "NOSUCH00", ""},         {two, "COM2", ""},
  };
  for (const Case& c : cases) {
    Load(c.bench);
    setenv("QUILLBOX_DEVICE", c.value, 1);
    const int16_t port = DeviceOpen(S());
    EXPECT_EQ(port != 0 ? S().Board.SerialNumber : "", c.serial) << c.value;
    if (port != 0) continue;
    // Nothing else was opened in its place, and the reason names the value.
    ExpectAllClosed();
    EXPECT_NE(S().Adc.LastError.find(c.value), std::string::npos) << S().Adc.LastError;
  }
  EXPECT_EQ(calls, 0);
}

TEST_F(Open, CancelledChoiceFallsBackToSerialPorts) {
  Load({Module("usb0", {{"serial", "SAME0000"}}), Module("usb1", {{"serial", "SAME0000"}}),
        Module("com3", {{"serial", "SERIAL03"}})});
  int calls = 0;
  SetDeviceChooser([&calls](const DeviceListing&) {
    ++calls;
    return int16_t(-1);
  });
  ASSERT_NE(DeviceOpen(S()), 0);
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(S().Board.PortName, "COM3");
  ExpectAllClosedBut("com3");
}

TEST_F(Open, NoChooserInstalledCountsAsCancelled) {
  Load({Module("usb0", {{"serial", "A0000000"}}), Module("usb1", {{"serial", "B0000001"}})});
  S().Adc.LastError.clear();
  EXPECT_EQ(DeviceOpen(S()), 0);
  EXPECT_EQ(S().Adc.LastError, kNotFound);
  ExpectAllClosed();
}

TEST_F(Open, NoModuleAndTheOlderTextRule) {
  Load({});
  S().Adc.LastError.clear();
  EXPECT_EQ(DeviceOpen(S()), 0);
  EXPECT_EQ(S().Adc.LastError, kNotFound);
  ExpectRecordReset();
  // An older text is not replaced by the not-found text.
  S().Adc.LastError = kCrc;
  EXPECT_EQ(DeviceOpen(S()), 0);
  EXPECT_EQ(S().Adc.LastError, kCrc);
  // ADCName is part of the text.
  S().Adc.LastError.clear();
  S().Adc.ADCName = "X-1";
  EXPECT_EQ(DeviceOpen(S()), 0);
  EXPECT_EQ(S().Adc.LastError, "No found X-1 on USB or COM ports!");
}

TEST_F(Open, ChecksumFailure) {
  Load({Module("usb0", {{"crc_ok", false}})});
  S().Adc.LastError = "older";
  EXPECT_EQ(DeviceOpen(S()), 0);
  EXPECT_EQ(S().Adc.LastError, kCrc);
  ExpectRecordReset();
  ExpectAllClosed();
  // The next attempt without any module keeps the CRC text.
  Load({});
  EXPECT_EQ(DeviceOpen(S()), 0);
  EXPECT_EQ(S().Adc.LastError, kCrc);
}

TEST_F(Open, UnreadableDescriptorPage) {
  // Enumeration skips a module whose page 0 does not read, so this one is reached on COM1.
  Load({Module("com1", {{"faults", {{"eeprom_unreadable_pages", {0}}}}})});
  S().Adc.LastError = "older";
  EXPECT_EQ(DeviceOpen(S()), 0);
  EXPECT_EQ(S().Adc.LastError, kUnreadable);
  ExpectAllClosed();
}

TEST_F(Open, UnreadableMezzaninePageStopsTheSlotLoop) {
  Load({Module("usb0", {{"serial", "PARTIAL0"},
                        {"slots", {{{"type", 10}}, {{"type", 11}}, {{"type", 20}}, {{"type", 31}}}},
                        {"faults", {{"eeprom_unreadable_pages", {3}}}}})});
  for (ModuleSlot& m : S().Modules) m.ModuleType = 99;
  EXPECT_EQ(DeviceOpen(S()), 0);
  EXPECT_EQ(S().Adc.LastError, kUnreadable);
  // What was written before the failure stays.
  EXPECT_EQ(S().Board.PortName, "USB");
  EXPECT_EQ(S().Board.BoardName, "E-270");
  EXPECT_EQ(S().Board.SerialNumber, "PARTIAL0");
  EXPECT_EQ(S().Modules[0].ModuleName, "U10");
  EXPECT_EQ(S().Modules[1].ModuleName, "U20");
  EXPECT_EQ(S().Modules[2].ModuleType, 99);  // page 3 failed: not decoded
  EXPECT_EQ(S().Modules[7].ModuleType, 99);
  EXPECT_TRUE(S().Adc.Tables.Ranges.empty());
  ExpectAllClosed();
}

TEST_F(Open, EmptySlotsAreNotRead) {
  // Pages 4..8 cannot be read, but slots 3..7 are empty, so they are never asked for.
  Load({Module("usb0", {{"slots", {{{"type", 10}}, {{"type", 12}}, {{"type", 13}}}},
                        {"faults", {{"eeprom_unreadable_pages", {4, 5, 6, 7, 8}}}}})});
  S().Modules[4].ModuleSerial = "kept";
  ASSERT_NE(DeviceOpen(S()), 0) << S().Adc.LastError;
  EXPECT_EQ(S().Modules[2].ModuleName, "U300");
  for (int slot = 3; slot < 8; ++slot) EXPECT_EQ(S().Modules[slot].ModuleType, 255);
  EXPECT_EQ(S().Modules[4].ModuleSerial, "kept");  // identity of an empty slot is left alone
  EXPECT_EQ(S().Modules[4].Scale, 327.68f);
}

TEST_F(Open, CraftedDescriptorTexts) {
  RawDescriptor d;
  d.serial = Ascii("123456789", 9, 0);         // 9 characters, no terminator: the first 8 count
  d.name = {' ', 'E', '-', '2', '7', '0', 0};  // spaces trimmed, then cut at the NUL
  d.revision = 2;
  d.processor = {'D', 'S', 'P', 255, 255};  // cut at the first 255
  d.clock = {0x00, 0x36, 0x6E, 0x01};
  Load({Module("usb0", {{"eeprom", {{"0", DescriptorHex(d)}}}})});
  ASSERT_NE(DeviceOpen(S()), 0) << S().Adc.LastError;
  EXPECT_EQ(S().Board.SerialNumber, "12345678");
  EXPECT_EQ(S().Board.BoardName, "E-270");
  EXPECT_EQ(S().Board.BoardRevision, "B");
  EXPECT_EQ(S().Board.ProcessorName, "DSP");
  EXPECT_EQ(S().Board.ClockFrequency, 24000000);
}

TEST_F(Open, DescriptorTextsStartingWithATerminatorAreKept) {
  const std::string nul(1, '\0');
  RawDescriptor d;
  d.serial = {0, 'S', 'N', 0, 0, 0, 0, 0, 0};
  d.name = {0, 'E', '-', '2', '7', '0', 0};
  d.revision = 200;  // no letter exists for it
  d.processor = {255, 'A', 177, 255, ' '};
  d.clock = {0xFF, 0xFF, 0xFF, 0xFF};
  Load({Module("usb0", {{"eeprom", {{"0", DescriptorHex(d)}}}})});
  ASSERT_NE(DeviceOpen(S()), 0) << S().Adc.LastError;
  EXPECT_EQ(S().Board.SerialNumber, nul + "SN" + nul + nul + nul + nul + nul);
  EXPECT_EQ(S().Board.BoardName, nul + "E-270" + nul);
  EXPECT_EQ(S().Board.BoardRevision, "?");
  // Trailing space trimmed; only the first 255 is looked at, and it stands first.
  EXPECT_EQ(S().Board.ProcessorName,
            "\xC3\xBF"
            "A\xC2\xB1\xC3\xBF");
  EXPECT_EQ(S().Board.ClockFrequency, -1);
  // The device list shows the serial only up to its first non-printable byte.
  ASSERT_EQ(S().Devices.size(), 1u);
  EXPECT_EQ(S().Devices[0].SerialNumber, "");
}

TEST_F(Open, CraftedMezzaninePage) {
  // Version 3.4, type 32, serial prefix 12, letter 133 (…), number 0x0012D687.
  const std::string page = PageHex({3, 4, 32, 0, 0, 0, 12, 133, 0x87, 0xD6, 0x12, 0x00});
  Load({Module("usb0", {{"slots", {{{"type", 32}}}}, {"eeprom", {{"1", page}}}})});
  ASSERT_NE(DeviceOpen(S()), 0) << S().Adc.LastError;
  const ModuleSlot& m = S().Modules[0];
  EXPECT_EQ(m.VersionMajor, 3);
  EXPECT_EQ(m.VersionMinor, 4);
  EXPECT_EQ(m.ModuleType, 32);
  EXPECT_EQ(m.ModuleSerial,
            "12\xE2\x80\xA6"
            "185991");
  EXPECT_EQ(m.ModuleName, "R250");
  EXPECT_EQ(m.Scale, 131.072f);
}

TEST_F(Open, UnknownTypeOnAMezzaninePage) {
  const std::string page = PageHex({1, 0, 41, 0, 0, 0, 1, 'A', 1, 0, 0, 0});
  Load({Module("usb0", {{"slots", {{{"type", 10}}, {{"type", 10}}}}, {"eeprom", {{"2", page}}}})});
  ASSERT_NE(DeviceOpen(S()), 0);
  EXPECT_EQ(S().Modules[1].ModuleType, 41);
  EXPECT_EQ(S().Modules[1].ModuleName, "Unknown");
  EXPECT_EQ(S().Modules[1].ModuleSerial, "1A000001");
  EXPECT_EQ(S().Adc.Tables.ChannelNames[3], "M2-Ch4_Unknown");
}

TEST_F(Open, NodeHeldOpenByAnotherHandle) {
  Load({Module("usb0", {{"serial", "HELD0000"}}), Module("com8", {{"serial", "SERIAL08"}})});
  int32_t held = OpenLDevUsb(0);
  ASSERT_NE(held, -1);
  ASSERT_NE(DeviceOpen(S()), 0);
  EXPECT_EQ(S().Board.PortName, "COM8");
  CloseLDevUsb(held);
}

TEST_F(Open, ModuleUnpluggedBetweenEnumerationAndOpen) {
  Load({Module("usb0", {{"serial", "GONE0000"}}), Module("usb1", {{"serial", "GONE0001"}})});
  SetDeviceChooser([](const DeviceListing&) {
    sim::Unplug("usb1");
    return int16_t(1);
  });
  S().Adc.LastError.clear();
  EXPECT_EQ(DeviceOpen(S()), 0);
  EXPECT_EQ(S().Adc.LastError, kNotFound);
  ExpectAllClosed();
}

TEST_F(Open, ReopenClosesTheEarlierConnection) {
  Load({Module("usb0"), Module("com2")});
  ASSERT_NE(DeviceOpen(S()), 0);
  const int32_t first = S().Dev.Handle;
  // Without closing first, the exclusive USB node would still be held and the module could
  // only be reached on its other port.
  ASSERT_NE(DeviceOpen(S()), 0);
  EXPECT_EQ(S().Board.PortName, "USB");
  EXPECT_NE(int32_t{S().Dev.Handle}, first);
  EXPECT_FALSE(sim::Status("com2").connected);
  DeviceClose(S());
  ExpectRecordReset();
  ExpectAllClosed();
}

TEST_F(Open, DigitalReadFailureKeepsTheValues) {
  Load({Module("usb0", {{"faults", {{"dio_calls_fail", true}}}})});
  S().Dio.DIValue = 0x1FF;
  S().Dio.DOValue = 0x2AA;
  ASSERT_NE(DeviceOpen(S()), 0);
  EXPECT_TRUE(S().Dio.DIODetected);
  EXPECT_EQ(S().Dio.DIBits, 8);
  EXPECT_EQ(S().Dio.DIValue, 0x1FF);
  EXPECT_EQ(S().Dio.DOValue, 0x2AA);
}

TEST_F(Open, WaitCursorIsShownAndRestored) {
  std::vector<bool> cursor;
  platform::UiHooks hooks;
  hooks.waitCursor = [&cursor](bool wait) { cursor.push_back(wait); };
  platform::SetUiHooks(hooks);
  struct Restore {
    ~Restore() { platform::SetUiHooks({}); }
  } restore;
  Load({Module("usb0")});
  ASSERT_NE(DeviceOpen(S()), 0);
  EXPECT_EQ(cursor, (std::vector<bool>{true, true, false}));
  cursor.clear();
  Load({});
  EXPECT_EQ(DeviceOpen(S()), 0);
  EXPECT_EQ(cursor, (std::vector<bool>{true, false}));
}

}  // namespace
}  // namespace quillbox::test
