// The simulated module seen through the vendor calls and the USB device nodes: opening, the
// EEPROM descriptor, digital I/O, closed and unplugged modules, and the faults of a bench file.
#include <cstring>
#include <string>

#include "SimTestSupport.h"

namespace quillbox::sim::test {
namespace {

using platform::CloseDeviceNode;
using platform::DeviceNodeControl;
using platform::OpenDeviceNode;

const uint8_t kNameRequest[8] = {1, 0, 11, 0, 0, 0, 0, 0};

std::string Bytes(const uint8_t* p, size_t n) {
  return std::string(reinterpret_cast<const char*>(p), n);
}

TEST_F(SimTest, DefaultBenchOpensOnUsbZeroWithItsDescriptor) {
  EXPECT_EQ(Attachments(), std::vector<std::string>{"usb0"});
  int32_t config = -1;
  Device d = OpenUsb(0, &config);
  ASSERT_NE(HandleOf(d), -1);
  EXPECT_NE(d.Handle & 0xFFFF, 0);
  EXPECT_EQ(config, 0);
  const uint8_t expectedTypes[8] = {10, 10, 11, 22, 40, 31, 9, 21};
  EXPECT_EQ(0, std::memcmp(d.SlotPresent, expectedTypes, 8));

  ASSERT_EQ(E270ReadEEPROM(&d, 0), 0);
  const uint8_t* page = d.EepromImage[0];
  EXPECT_EQ(Bytes(page + 2, 9), std::string("27000123\0", 9));
  EXPECT_EQ(Bytes(page + 11, 7), std::string("E-270\0\0", 7));
  EXPECT_EQ(page[18], 1);
  EXPECT_EQ(Bytes(page + 19, 5), std::string("ADSP\0", 5));
  const uint8_t clock[4] = {0x00, 0x36, 0x6E, 0x01};  // 24,000,000 little-endian
  EXPECT_EQ(0, std::memcmp(page + 24, clock, 4));
  EXPECT_EQ(E270CRCCheck(&d, 0), 0);

  // Slot 0: U10, version 1.2, serial 5 A 1234.
  ASSERT_EQ(E270ReadEEPROM(&d, 1), 0);
  const uint8_t* slot0 = d.EepromImage[1];
  EXPECT_EQ(slot0[0], 1);
  EXPECT_EQ(slot0[1], 2);
  EXPECT_EQ(slot0[2], 10);
  EXPECT_EQ(slot0[6], 5);
  EXPECT_EQ(slot0[7], 'A');
  const uint8_t number[4] = {0xD2, 0x04, 0, 0};
  EXPECT_EQ(0, std::memcmp(slot0 + 8, number, 4));

  EXPECT_NE(E270ReadEEPROM(&d, 9), 0);
  EXPECT_NE(E270ReadEEPROM(&d, -1), 0);
  EXPECT_EQ(E270Close(&d), 0);
  EXPECT_FALSE(Status("usb0").connected);
}

TEST_F(SimTest, CheckSumCoversThePageAndCanBeMadeWrong) {
  Device d = OpenUsb(0);
  ASSERT_EQ(E270ReadEEPROM(&d, 0), 0);
  ASSERT_EQ(E270CRCCheck(&d, 0), 0);
  d.EepromImage[0][60] ^= 0x01;  // a byte of the unused tail is covered too
  EXPECT_NE(E270CRCCheck(&d, 0), 0);
  d.EepromImage[0][60] ^= 0x01;
  d.EepromImage[0][3] = '9';
  EXPECT_NE(E270CRCCheck(&d, 0), 0);
  E270Close(&d);

  LoadBench(R"({"modules": [{"attach": "usb0", "crc_ok": false}]})");
  d = OpenUsb(0);
  ASSERT_EQ(E270ReadEEPROM(&d, 0), 0);
  EXPECT_NE(E270CRCCheck(&d, 0), 0);
  E270Close(&d);
}

TEST_F(SimTest, RawPageOverridesKeepAValidCheckSum) {
  LoadBench(R"({"modules": [{"attach": "usb2", "serial": "ABCDEFGHI",
      "slots": [null, null, {"type": 14, "serial": [9, "Z", 1234567]}],
      "eeprom": {"0": "00 00 41 42 43 20 44 45 00", "4": "07 08 FF"}}]})");
  Device d = OpenUsb(2);
  ASSERT_NE(HandleOf(d), -1);
  EXPECT_EQ(d.SlotPresent[0], 255);
  EXPECT_EQ(d.SlotPresent[2], 14);
  ASSERT_EQ(E270ReadEEPROM(&d, 0), 0);
  EXPECT_EQ(Bytes(d.EepromImage[0] + 2, 9), std::string("ABC DE\0HI", 9));
  EXPECT_EQ(E270CRCCheck(&d, 0), 0);
  ASSERT_EQ(E270ReadEEPROM(&d, 3), 0);
  EXPECT_EQ(d.EepromImage[3][2], 14);
  EXPECT_EQ(d.EepromImage[3][7], 'Z');
  const uint8_t number[4] = {0x87, 0xD6, 0x12, 0x00};  // 1234567
  EXPECT_EQ(0, std::memcmp(d.EepromImage[3] + 8, number, 4));
  ASSERT_EQ(E270ReadEEPROM(&d, 4), 0);  // slot 3: empty page with its first bytes overridden
  EXPECT_EQ(d.EepromImage[4][0], 7);
  EXPECT_EQ(d.EepromImage[4][2], 0xFF);
  ASSERT_EQ(E270ReadEEPROM(&d, 1), 0);  // an empty slot's page reads as erased memory
  EXPECT_EQ(d.EepromImage[1][0], 0xFF);
  EXPECT_EQ(d.EepromImage[1][127], 0xFF);
  E270Close(&d);
}

TEST_F(SimTest, DeviceNodesAreExclusiveAndAnswerTheModuleName) {
  LoadBench(R"({"modules": [{"attach": "usb3", "name": "E-270"},
                            {"attach": "usb5", "name": "E14-440X"}]})");
  EXPECT_EQ(OpenDeviceNode(NodeName(0)), -1);  // nothing attached there
  const int32_t h = OpenDeviceNode(NodeName(3));
  ASSERT_NE(h, -1);
  EXPECT_NE(h & 0xFFFF, 0);
  EXPECT_TRUE(Status("usb3").usbNodeOpen);
  EXPECT_EQ(OpenDeviceNode(NodeName(3)), -1);  // exclusive while open

  uint8_t out[8];
  std::memset(out, 0xEE, sizeof out);
  uint32_t returned = 0;
  ASSERT_TRUE(DeviceNodeControl(h, 0x220012, kNameRequest, 8, out, 8, returned));
  EXPECT_EQ(returned, 8u);
  EXPECT_EQ(Bytes(out, 8), std::string("E-270\0\0\0", 8));

  EXPECT_FALSE(DeviceNodeControl(h, 0x220016, kNameRequest, 8, out, 8, returned));
  EXPECT_FALSE(DeviceNodeControl(h, 0x220012, kNameRequest, 4, out, 8, returned));
  EXPECT_FALSE(DeviceNodeControl(h, 0x220012, kNameRequest, 8, out, 4, returned));
  EXPECT_FALSE(DeviceNodeControl(h, 0x220012, nullptr, 8, out, 8, returned));
  const uint8_t otherWords[8] = {1, 0, 12, 0, 0, 0, 0, 0};
  EXPECT_FALSE(DeviceNodeControl(h, 0x220012, otherWords, 8, out, 8, returned));

  ASSERT_TRUE(CloseDeviceNode(h));
  EXPECT_FALSE(CloseDeviceNode(h));
  EXPECT_FALSE(DeviceNodeControl(h, 0x220012, kNameRequest, 8, out, 8, returned));
  EXPECT_FALSE(Status("usb3").usbNodeOpen);

  const int32_t again = OpenDeviceNode(NodeName(3));
  ASSERT_NE(again, -1);
  EXPECT_NE(again, h);
  CloseDeviceNode(again);

  const int32_t other = OpenDeviceNode(NodeName(5));
  ASSERT_TRUE(DeviceNodeControl(other, 0x220012, kNameRequest, 8, out, 8, returned));
  EXPECT_EQ(Bytes(out, 8), "E14-440X");
  CloseDeviceNode(other);

  for (const char* bad : {"\\\\.\\LDevUsb8", "\\\\.\\LDevUsb03", "LDevUsb3", "\\\\.\\LDevUsb"})
    EXPECT_EQ(OpenDeviceNode(bad), -1) << bad;
}

TEST_F(SimTest, SerialPortsOpenOncePerModule) {
  LoadBench(R"({"modules": [{"attach": "com3", "serial": "27000999"}]})");
  int32_t result = 0;
  Device missing = OpenSerial(2, &result);
  EXPECT_NE(result, 0);
  EXPECT_EQ(HandleOf(missing), -1);

  Device d = OpenSerial(3, &result);
  ASSERT_EQ(result, 0);
  EXPECT_NE(d.Handle & 0xFFFF, 0);
  EXPECT_EQ(d.SlotPresent[0], 255);
  EXPECT_TRUE(Status("com3").connected);
  EXPECT_FALSE(Status("com3").usbNodeOpen);
  OpenSerial(3, &result);
  EXPECT_NE(result, 0);  // the port is taken

  ASSERT_EQ(E270ReadEEPROM(&d, 0), 0);
  EXPECT_EQ(Bytes(d.EepromImage[0] + 2, 8), "27000999");
  EXPECT_EQ(E270GetConfig(&d), 0);
  EXPECT_EQ(E270Close(&d), 0);
  EXPECT_NE(E270Close(&d), 0);  // repeated close is harmless
  Device again = OpenSerial(3, &result);
  EXPECT_EQ(result, 0);
  EXPECT_NE(HandleOf(again), HandleOf(d));
  E270Close(&again);

  Device usb;
  E270Init(&usb);
  usb.Interface = kInterfaceUsb;
  usb.ComPort = 3;
  EXPECT_NE(E270Open(&usb), 0);
}

TEST_F(SimTest, EveryCallFailsOnAClosedOrUnpluggedModule) {
  auto expectAllFail = [](Device& d) {
    DeviceFrame block[kBlockBufferFrames];
    uint8_t out = 0, in = 0, aux = 0;
    EXPECT_NE(E270GetConfig(&d), 0);
    EXPECT_NE(Configure(d, 500), 0);
    EXPECT_NE(E270ReadEEPROM(&d, 0), 0);
    EXPECT_NE(E270CRCCheck(&d, 0), 0);
    EXPECT_NE(E270GetDATA(&d, block), 0);
    EXPECT_NE(E270GetDIO(&d, &out, &in, &aux), 0);
    EXPECT_NE(E270SetDIO(&d, 1, 2), 0);
  };
  Device never;
  E270Init(&never);
  EXPECT_EQ(HandleOf(never), -1);
  expectAllFail(never);
  EXPECT_NE(E270Close(&never), 0);

  Device closed = OpenUsb(0);
  ASSERT_EQ(E270Close(&closed), 0);
  expectAllFail(closed);

  Device d = OpenUsb(0);
  ASSERT_EQ(E270ReadEEPROM(&d, 0), 0);
  Unplug("usb0");
  EXPECT_FALSE(Status("usb0").plugged);
  EXPECT_FALSE(Status("usb0").connected);
  expectAllFail(d);
  EXPECT_EQ(OpenDeviceNode(NodeName(0)), -1);
  Replug("usb0");
  expectAllFail(d);  // the old handle stays dead
  Device fresh = OpenUsb(0);
  EXPECT_EQ(E270ReadEEPROM(&fresh, 0), 0);
  E270Close(&fresh);
  E270Close(&d);

  // A new bench takes the old modules away.
  Device old = OpenUsb(0);
  LoadDefaultBench();
  expectAllFail(old);
  E270Close(&old);
}

TEST_F(SimTest, DigitalLinesKeepWhatWasWrittenAndReportTheInputs) {
  Device d = OpenUsb(0);
  uint8_t out = 0xEE, in = 0, aux = 0;
  ASSERT_EQ(E270GetDIO(&d, &out, &in, &aux), 0);
  EXPECT_EQ(out, 0);
  EXPECT_EQ(in, 165);
  EXPECT_EQ(aux, 60);
  EXPECT_NE(E270GetDIO(&d, nullptr, &in, &aux), 0);

  ASSERT_EQ(E270SetDIO(&d, 0xA5, 0x11), 0);
  SetDigitalInputs("usb0", 0x81);
  ASSERT_EQ(E270GetDIO(&d, &out, &in, &aux), 0);
  EXPECT_EQ(out, 0xA5);
  EXPECT_EQ(in, 0x81);
  EXPECT_EQ(aux, 0x11);
  const ModuleStatus s = Status("usb0");
  EXPECT_EQ(s.outputs, 0xA5);
  EXPECT_EQ(s.aux, 0x11);
  EXPECT_EQ(s.inputs, 0x81);

  // A power cycle resets the outputs and the aux byte, not the input lines.
  E270Close(&d);
  Unplug("usb0");
  Replug("usb0");
  d = OpenUsb(0);
  ASSERT_EQ(E270GetDIO(&d, &out, &in, &aux), 0);
  EXPECT_EQ(out, 0);
  EXPECT_EQ(aux, 60);
  EXPECT_EQ(in, 0x81);
  E270Close(&d);

  LoadBench(R"({"modules": [{"attach": "usb1",
      "dio": {"inputs": 3, "aux": 7, "outputs_to_inputs": true}}]})");
  d = OpenUsb(1);
  ASSERT_EQ(E270SetDIO(&d, 0x42, 7), 0);
  ASSERT_EQ(E270GetDIO(&d, &out, &in, &aux), 0);
  EXPECT_EQ(in, 0x42);
  EXPECT_EQ(aux, 7);
  E270Close(&d);
}

TEST_F(SimTest, BenchFaultsFailTheirCalls) {
  LoadBench(R"({"modules": [
      {"attach": "usb0", "slots": [{"type": 10}, {"type": 11}, {"type": 22}],
       "faults": {"eeprom_unreadable_pages": [3], "dio_calls_fail": true}},
      {"attach": "usb1", "faults": {"data_calls_fail": true}}]})");
  Device d = OpenUsb(0);
  EXPECT_EQ(E270ReadEEPROM(&d, 0), 0);
  EXPECT_EQ(E270ReadEEPROM(&d, 2), 0);
  EXPECT_NE(E270ReadEEPROM(&d, 3), 0);
  uint8_t out = 0, in = 0, aux = 0;
  EXPECT_NE(E270GetDIO(&d, &out, &in, &aux), 0);
  EXPECT_NE(E270SetDIO(&d, 1, 1), 0);
  EXPECT_EQ(Status("usb0").outputs, 0);
  EXPECT_EQ(Configure(d, 250), 0);
  DeviceFrame block[kBlockBufferFrames];
  EXPECT_EQ(E270GetDATA(&d, block), 0);  // data still flows
  E270Close(&d);

  Device e = OpenUsb(1);
  ASSERT_EQ(Configure(e, 250), 0);
  EXPECT_NE(E270GetDATA(&e, block), 0);
  EXPECT_NE(E270GetDATA(&e, block), 0);
  EXPECT_EQ(Status("usb1").getDataCalls, 2);
  EXPECT_EQ(Status("usb1").frameCounter, 0u);
  EXPECT_EQ(E270GetDIO(&e, &out, &in, &aux), 0);
  E270Close(&e);
}

TEST_F(SimTest, ConfigurationCallsAreCounted) {
  Device d = OpenUsb(0);
  EXPECT_EQ(Status("usb0").setConfigCalls, 0);
  ASSERT_EQ(Configure(d, 250, 0xC7), 0);
  ASSERT_EQ(Configure(d, 2500, 0xF7), 0);
  EXPECT_NE(Configure(d, 0, 0xE7), 0);  // divider 0 is refused and changes nothing
  const ModuleStatus s = Status("usb0");
  EXPECT_EQ(s.setConfigCalls, 2);
  EXPECT_EQ(s.lastControlByte, 0xF7);
  EXPECT_EQ(s.lastRateDivider, 2500);
  E270Close(&d);
}

TEST_F(SimTest, TwoModulesMayShareASerial) {
  LoadBench(R"({"modules": [{"attach": "usb0", "serial": "27000123"},
                            {"attach": "usb4", "serial": "27000123"}]})");
  Device a = OpenUsb(0);
  Device b = OpenUsb(4);
  ASSERT_EQ(E270ReadEEPROM(&a, 0), 0);
  ASSERT_EQ(E270ReadEEPROM(&b, 0), 0);
  EXPECT_EQ(0, std::memcmp(a.EepromImage[0], b.EepromImage[0], 128));
  ASSERT_EQ(E270SetDIO(&a, 9, 0), 0);
  EXPECT_EQ(Status("usb4").outputs, 0);  // separate modules all the same
  E270Close(&a);
  E270Close(&b);
  EXPECT_THROW(Status("usb1"), BenchError);
}

}  // namespace
}  // namespace quillbox::sim::test
