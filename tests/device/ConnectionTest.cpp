// The open sequence against the simulated bench: the order in which modules are tried, the
// module choice and the chooser, descriptor decoding, and every failure with its text.
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "OpenTestSupport.h"
#include "device/Connection.h"
#include "device/Enumeration.h"
#include "platform/UiHost.h"

namespace quillbox::test {
namespace {

const std::string kNotFound = "No found E-270 on USB or COM ports!";
const std::string kCrc = "CRC error of module!";
const std::string kUnreadable = "Unable to read information from module!";
const std::string kNul(1, '\0');
const std::string kY = "\xC3\xBF";  // ÿ, byte 255

class Open : public OpenTest {};

TEST_F(Open, FillsTheRecordFromTheModule) {
  Load({Module("usb2", {{"serial", "27000999"},
                        {"revision", 2},
                        {"slots", {{{"type", 10}}, {{"type", 21}}}},
                        {"dio", {{"inputs", 0xA5}}}})});
  S().Dio.DIValue = 0x12345600;
  S().Dio.DOValue = 0x7FFFFFFF;
  const int16_t port = DeviceOpen(S());
  ASSERT_NE(port, 0) << S().Adc.LastError;
  EXPECT_EQ(port, static_cast<int16_t>(S().Dev.Handle & 0xFFFF));
  EXPECT_EQ(S().Adc.LastError, "");
  EXPECT_EQ(S().Board.PortName, "USB");
  EXPECT_EQ(S().Board.SerialNumber, "27000999");
  EXPECT_EQ(S().Board.BoardRevision, "B");
  EXPECT_EQ(S().Board.ClockFrequency, 24000000);
  EXPECT_EQ(S().Modules[1].ModuleName, "I10");
  EXPECT_EQ(S().Modules[7].ModuleName, "Empty");
  EXPECT_EQ(S().Adc.Tables.ChannelNames[7], "M4-Ch8_Empty");

  // Idle configuration, and only the lowest byte of the digital values replaced.
  const sim::ModuleStatus st = sim::Status("usb2");
  EXPECT_EQ(st.setConfigCalls, 1);
  EXPECT_EQ(st.lastRateDivider, 250);
  EXPECT_EQ(st.lastControlByte, 0xC7);
  EXPECT_TRUE(S().Dio.DIODetected);
  EXPECT_EQ(S().Dio.DIValue, 0x123456A5);
  EXPECT_EQ(S().Dio.DOValue, 0x7FFFFF00);
}

TEST_F(Open, UsbFirstThenTheFirstAnsweringSerialPort) {
  const struct {
    std::vector<Json> bench;
    std::string port, serial;
  } cases[] = {
      {{Module("com2", {{"serial", "COM00002"}})}, "COM2", "COM00002"},
      {{Module("com1", {{"serial", "SERIAL01"}}), Module("usb5", {{"serial", "USB00005"}})},
       "USB",
       "USB00005"},
      {{Module("com7", {{"serial", "SERIAL07"}}), Module("com4", {{"serial", "SERIAL04"}})},
       "COM4",
       "SERIAL04"},
  };
  for (const auto& c : cases) {
    Load(c.bench);
    ASSERT_NE(DeviceOpen(S()), 0) << c.serial << ": " << S().Adc.LastError;
    EXPECT_EQ(S().Board.PortName, c.port);
    EXPECT_EQ(S().Board.SerialNumber, c.serial);
    ExpectAllClosed(c.port == "USB" ? "usb5" : "com" + c.port.substr(3));
    DeviceClose(S());
  }
}

// A host's choice, else QUILLBOX_DEVICE's, names the module: that one or none, never another,
// and the chooser is not asked. A refusal keeps the open's list of modules for the host to show.
TEST_F(Open, ChoiceOpensTheNamedModuleOrRefuses) {
  Load({Module("usb1", {{"serial", "FIRST001"}}), Module("usb3", {{"serial", "SECOND03"}}),
        Module("usb6", {{"serial", "SECOND03"}}), Module("com5", {{"serial", "SERIAL05"}})});
  int calls = 0;
  SetDeviceChooser([&calls](const DeviceListing&) {
    ++calls;
    return int16_t(3);
  });
  const struct {
    const char *host, *environment;
    std::string result;  // the opened module's serial, else LastError
    bool refused;        // the choice was refused (ChoiceProblem)
  } cases[] = {
      {"", "FIRST001", "FIRST001", false},
      {"usb4", "FIRST001", "SECOND03", false},  // the host's choice comes first
      {"com5", "", "SERIAL05", false},
      {"", "SECOND03", "QUILLBOX_DEVICE \"SECOND03\" names 2 attached E-270 modules", true},
      {"first001", "", "--device \"first001\" names no attached E-270 module", true},
      {"usb3", "", "--device \"usb3\" names no attached E-270 module", true},
      {"COM2", "", "No found E-270 on COM2!", false},
  };
  for (const auto& c : cases) {
    const ScopedEnv env{{"QUILLBOX_DEVICE", *c.environment != '\0' ? c.environment : nullptr}};
    SetDeviceChoice(c.host, "--device");
    S().Adc.LastError.clear();
    if (DeviceOpen(S()) != 0) {
      EXPECT_EQ(S().Board.SerialNumber, c.result);
      DeviceClose(S());
      continue;
    }
    EXPECT_EQ(S().Adc.LastError, c.result);
    EXPECT_EQ(S().ChoiceProblem, c.refused ? c.result : "");
    ExpectAllClosed();
    // The open's own list stays for the host to show; "COMn" lists nothing on USB.
    EXPECT_EQ(S().Devices.size(), c.refused ? 3u : 0u) << c.result;
  }
  EXPECT_EQ(calls, 0);
}

// Without a choice, the chooser decides among several modules when a display can show it and it
// can tell them apart; otherwise the open is refused. A cancelled choice tries the serial ports.
TEST_F(Open, SeveralModulesWithoutAChoice) {
  const std::vector<Json> two = {Module("usb1", {{"serial", "FIRST001"}}),
                                 Module("usb3", {{"serial", "SECOND03"}}),
                                 Module("com3", {{"serial", "SERIAL03"}})};
  std::vector<Json> twins = two;
  twins[1]["serial"] = "FIRST001";
  const std::string none =
      "2 E-270 modules are attached on USB and there is no display to "
      "choose one on";
  const struct {
    std::vector<Json> bench;
    const char *x11, *wayland, *platform;
    int16_t answer;      // the chooser's
    std::string opened;  // serial, or the refusal
  } cases[] = {
      {two, ":0", nullptr, nullptr, 3, "SECOND03"},
      {two, nullptr, "wayland-0", "xcb;wayland-egl", -1, "SERIAL03"},
      {two, ":0", nullptr, "minimal:x;xcb", 3, none},
      {two, ":0", nullptr, "offscreen", 3, none},
      {two, nullptr, "wayland-0", "xcb", 3, none},
      {twins, ":0", nullptr, nullptr, 3,
       "2 E-270 modules are attached on USB and the device dialog cannot tell them apart"},
  };
  for (const auto& c : cases) {
    Load(c.bench);
    const ScopedEnv env{
        {"DISPLAY", c.x11}, {"WAYLAND_DISPLAY", c.wayland}, {"QT_QPA_PLATFORM", c.platform}};
    std::vector<std::string> listed;
    SetDeviceChooser([&listed, &c](const DeviceListing& s) {
      for (const DeviceEntry& e : s.Devices) listed.push_back(e.SerialNumber);
      return c.answer;
    });
    S().Adc.LastError.clear();
    if (DeviceOpen(S()) != 0) {
      EXPECT_EQ(S().Board.SerialNumber, c.opened);
      EXPECT_EQ(listed, (std::vector<std::string>{"FIRST001", "SECOND03"}));
      ExpectAllClosed(c.answer < 0 ? "com3" : "usb3");
      DeviceClose(S());
    } else {
      EXPECT_EQ(S().Adc.LastError, c.opened);
      EXPECT_EQ(S().ChoiceProblem, c.opened);
      EXPECT_TRUE(listed.empty());
      ExpectAllClosed();
    }
  }
}

// Each failure leaves the record reset, nothing open, and its text (a not-found text does not
// replace an older one).
TEST_F(Open, FailuresSayWhyAndLeaveNothingOpen) {
  const struct {
    std::vector<Json> bench;
    std::string before, after;
    bool unplugWhileChoosing = false;
  } cases[] = {
      {{}, "", kNotFound},
      {{}, kCrc, kCrc},
      {{Module("usb0", {{"crc_ok", false}})}, "older", kCrc},
      // Enumeration skips a module whose page 0 does not read: it is reached on COM1.
      {{Module("com1", {{"faults", {{"eeprom_unreadable_pages", {0}}}}})}, "older", kUnreadable},
      {{Module("usb0", {{"serial", "GONE0000"}}), Module("usb1", {{"serial", "GONE0001"}})},
       "",
       kNotFound,
       true},
  };
  for (const auto& c : cases) {
    Load(c.bench);
    const ScopedEnv display{{"DISPLAY", c.unplugWhileChoosing ? ":0" : nullptr}};
    if (c.unplugWhileChoosing) {
      SetDeviceChooser([](const DeviceListing&) {
        sim::Unplug("usb1");
        return int16_t(1);
      });
    }
    S().Adc.LastError = c.before;
    EXPECT_EQ(DeviceOpen(S()), 0) << c.after;
    EXPECT_EQ(S().Adc.LastError, c.after);
    ExpectRecordReset();
    ExpectAllClosed();
    SetDeviceChooser({});
  }
  // ADCName is part of the text.
  Load({});
  S().Adc.LastError.clear();
  S().Adc.ADCName = "X-1";
  EXPECT_EQ(DeviceOpen(S()), 0);
  EXPECT_EQ(S().Adc.LastError, "No found X-1 on USB or COM ports!");
}

TEST_F(Open, MezzaninePagesAreReadForPresentSlotsOnly) {
  // Page 3 fails: the slot loop stops there, keeping what it decoded before.
  Load({Module("usb0", {{"serial", "PARTIAL0"},
                        {"slots", {{{"type", 10}}, {{"type", 11}}, {{"type", 20}}, {{"type", 31}}}},
                        {"faults", {{"eeprom_unreadable_pages", {3}}}}})});
  for (ModuleSlot& m : S().Modules) m.ModuleType = 99;
  EXPECT_EQ(DeviceOpen(S()), 0);
  EXPECT_EQ(S().Adc.LastError, kUnreadable);
  EXPECT_EQ(S().Board.SerialNumber, "PARTIAL0");
  EXPECT_EQ(S().Modules[1].ModuleName, "U20");
  EXPECT_EQ(S().Modules[2].ModuleType, 99);
  EXPECT_TRUE(S().Adc.Tables.Ranges.empty());
  ExpectAllClosed();

  // Pages 4..8 cannot be read, but slots 3..7 are empty, so they are never asked for.
  Load({Module("usb0", {{"slots", {{{"type", 10}}, {{"type", 12}}, {{"type", 13}}}},
                        {"faults", {{"eeprom_unreadable_pages", {4, 5, 6, 7, 8}}}}})});
  S().Modules[4].ModuleSerial = "kept";
  ASSERT_NE(DeviceOpen(S()), 0) << S().Adc.LastError;
  EXPECT_EQ(S().Modules[2].ModuleName, "U300");
  EXPECT_EQ(S().Modules[4].ModuleType, 255);
  EXPECT_EQ(S().Modules[4].ModuleSerial, "kept");  // identity of an empty slot is left alone
}

TEST_F(Open, CraftedDescriptorPages) {
  RawDescriptor plain;
  plain.serial = Ascii("123456789", 9, 0);         // no terminator: the first 8 count
  plain.name = {' ', 'E', '-', '2', '7', '0', 0};  // spaces trimmed, then cut at the NUL
  plain.processor = {'D', 'S', 'P', 255, 255};     // cut at the first 255
  plain.revision = 191;                            // the letter of byte 255
  RawDescriptor odd;
  odd.serial = {0, 'S', 'N', 0, 0, 0, 0, 0, 0};
  odd.name = {0, 'E', '-', '2', '7', '0', 0};
  odd.revision = 200;  // no letter exists for it
  // Windows-1252: 0x80 is the euro sign, undefined 0x81 the control character of that value.
  odd.processor = {255, 0x80, 0x81, 255, ' '};
  odd.clock = {0xFF, 0xFF, 0xFF, 0xFF};
  const struct {
    RawDescriptor page;
    BoardInfo board;
  } cases[] = {
      {plain, {"E-270", "USB", kY, "12345678", "DSP", 24000000}},
      // Texts that start with a terminator are kept whole; the trailing space is trimmed.
      {odd,
       {kNul + "E-270" + kNul, "USB", "?", kNul + "SN" + kNul + kNul + kNul + kNul + kNul,
        kY + "\xE2\x82\xAC\xC2\x81" + kY, -1}},
  };
  for (const auto& c : cases) {
    Load({Module("usb0", {{"eeprom", {{"0", DescriptorHex(c.page)}}}})});
    ASSERT_NE(DeviceOpen(S()), 0) << S().Adc.LastError;
    const auto fields = [](const BoardInfo& b) {
      return std::make_tuple(b.BoardName, b.BoardRevision, b.SerialNumber, b.ProcessorName,
                             b.ClockFrequency);
    };
    EXPECT_EQ(fields(S().Board), fields(c.board));
  }

  // Mezzanine page: version 3.4, type 32, serial prefix 12, letter 133 (…), number 0x0012D687;
  // and a type the catalogue does not know, whose serial number is too long for six digits.
  Load({Module("usb0", {{"slots", {{{"type", 32}}, {{"type", 10}}}},
                        {"eeprom",
                         {{"1", PageHex({3, 4, 32, 0, 0, 0, 12, 133, 0x87, 0xD6, 0x12, 0x00})},
                          {"2", PageHex({1, 0, 41, 0, 0, 0, 1, 'B', 0xFF, 0xFF, 0xFF, 0xFF})}}}})});
  ASSERT_NE(DeviceOpen(S()), 0) << S().Adc.LastError;
  EXPECT_EQ(S().Modules[0].VersionMajor * 10 + S().Modules[0].VersionMinor, 34);
  EXPECT_EQ(S().Modules[0].ModuleName, "R250");
  EXPECT_EQ(S().Modules[0].ModuleSerial,
            "12\xE2\x80\xA6"
            "185991");
  EXPECT_EQ(S().Modules[1].ModuleName, "Unknown");
  EXPECT_EQ(S().Modules[1].ModuleSerial, "1B1048575");
  EXPECT_EQ(S().Adc.Tables.ChannelNames[3], "M2-Ch4_Unknown");
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
  ExpectAllClosed("usb0");
  DeviceClose(S());
  ExpectRecordReset();
  ExpectAllClosed();
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
