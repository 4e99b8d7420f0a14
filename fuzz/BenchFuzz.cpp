// Bench file text of any content through the loader; an accepted bench is then used the way the
// driver uses a module: vendor calls on every attach point, the open sequence and a single read.

#include <memory>
#include <string>
#include <vector>

#include "channels/ChannelList.h"
#include "device/Connection.h"
#include "device/DeviceChooser.h"
#include "device/Enumeration.h"
#include "device/SingleRead.h"
#include "driver/DriverState.h"
#include "e270/E270API.h"
#include "fuzz/FuzzInput.h"
#include "fuzz/FuzzTargets.h"
#include "platform/DeviceNodes.h"
#include "sim/Bench.h"

namespace quillbox::fuzz {
namespace {

// Opens the module at `attach` through the library and works every vendor call once.
void UseModule(const std::string& attach) {
  Device dev{};
  E270Init(&dev);
  const bool usb = attach.rfind("usb", 0) == 0;
  const int number = attach.size() == 4 ? attach[3] - '0' : -1;
  if (usb) {
    dev.Handle = OpenLDevUsb(static_cast<int16_t>(number));
    if (dev.Handle == platform::kInvalidHandle) return;  // unplugged already
    dev.Interface = kInterfaceUsb;
    int32_t probe = dev.Handle;
    (void)ReadModuleName(probe);
    if (E270GetConfig(&dev) != 0) {
      int32_t handle = dev.Handle;  // the packed field cannot be bound to a reference
      CloseLDevUsb(handle);
      return;
    }
  } else {
    dev.Interface = kInterfaceSerial;
    dev.ComPort = static_cast<uint8_t>(number);
    if (E270Open(&dev) != 0) return;
  }
  for (int16_t page = 0; page < kEepromPages; ++page) (void)E270ReadEEPROM(&dev, page);
  (void)E270CRCCheck(&dev, 0);
  dev.RateDivider = 250;
  dev.ControlByte = 0xC7;
  if (E270SetConfig(&dev, 0) == 0) {
    std::vector<DeviceFrame> block(kBlockBufferFrames);
    (void)E270GetDATA(&dev, block.data());
  }
  uint8_t out = 0, in = 0, aux = 0;
  if (E270GetDIO(&dev, &out, &in, &aux) == 0) (void)E270SetDIO(&dev, 0x5A, aux);
  (void)sim::Status(attach);
  if (usb) {
    int32_t handle = dev.Handle;
    CloseLDevUsb(handle);
  }
  E270Close(&dev);
}

}  // namespace

int FuzzBench(const uint8_t* data, std::size_t size) {
  PrepareProcess();
  // Several modules on USB: take the first one listed, as a user would.
  SetDeviceChooser([](const DeviceListing& s) {
    return s.Devices.empty() ? int16_t(-1) : s.Devices.front().DeviceIndex;
  });
  const std::string text(reinterpret_cast<const char*>(data), size);
  bool loaded = true;
  try {
    sim::LoadBench(text);
  } catch (const sim::BenchError& e) {
    loaded = false;
    FUZZ_CHECK(std::string(e.what()).rfind("bench text", 0) == 0);
    FUZZ_CHECK(sim::LastBenchError() == e.what());
    FUZZ_CHECK(sim::Attachments().empty());
  }
  if (loaded) {
    FUZZ_CHECK(sim::LastBenchError().empty());
    const std::vector<std::string> attachments = sim::Attachments();
    for (const std::string& attach : attachments) UseModule(attach);

    auto state = std::make_unique<DriverState>();
    DriverState& s = *state;
    s.Adc.ADCName = "E-270";
    s.Adc.ChannelsCount = kChannelsCount;
    s.Sources = DefaultChannelSources();
    E270Init(&s.Dev);
    if (DeviceOpen(s) != 0) {
      FUZZ_CHECK(s.Adc.LastError.empty());
      for (int ch = 0; ch < kChannelsCount; ch += 5)
        (void)ReadChannelNow(s, s.ReadCache, s.Acq, ch);
    } else {
      FUZZ_CHECK(!s.Adc.LastError.empty());
    }
    DeviceClose(s);
  }
  SetDeviceChooser({});
  return 0;
}

}  // namespace quillbox::fuzz
