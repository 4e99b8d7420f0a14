#pragma once
// Helpers shared by the simulator tests: opening a module the way the driver does.

#include <gtest/gtest.h>

#include <string>

#include "e270/E270API.h"
#include "platform/DeviceNodes.h"
#include "sim/Bench.h"

namespace quillbox::sim::test {

inline std::string NodeName(int number) { return "\\\\.\\LDevUsb" + std::to_string(number); }

// A record opened on USB number `number` as the driver's open path does it; Handle is -1 when
// the node does not open.
inline Device OpenUsb(int number) {
  Device d;
  E270Init(&d);
  d.Handle = platform::OpenDeviceNode(NodeName(number));
  d.Interface = kInterfaceUsb;
  d.Reserved6 = 0;
  d.Reserved10 = 0;
  d.OpenFlags = 0;
  if (d.Handle != -1) E270GetConfig(&d);
  return d;
}

inline int32_t Configure(Device& d, uint16_t divider, uint8_t control = 0xC7) {
  d.ControlByte = control;
  d.RateDivider = divider;
  return E270SetConfig(&d, 0);
}

inline uint32_t FrameNumber(const DeviceFrame& f) {
  return static_cast<uint32_t>(f.Bytes[0] | f.Bytes[1] << 8 | f.Bytes[2] << 16 |
                               static_cast<uint32_t>(f.Bytes[3]) << 24);
}
inline uint16_t Word(const DeviceFrame& f, int channel) {
  return static_cast<uint16_t>(f.Bytes[4 + 2 * channel] | f.Bytes[5 + 2 * channel] << 8);
}

// Every test starts from the built-in bench and leaves it behind.
class SimTest : public ::testing::Test {
 protected:
  void SetUp() override { LoadDefaultBench(); }
  void TearDown() override { LoadDefaultBench(); }
};

}  // namespace quillbox::sim::test
