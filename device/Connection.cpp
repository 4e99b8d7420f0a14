#include "device/Connection.h"

#include "channels/Catalogue.h"
#include "channels/ChannelList.h"
#include "device/Descriptor.h"
#include "device/DeviceChooser.h"
#include "device/Enumeration.h"
#include "device/VendorCalls.h"
#include "platform/DeviceNodes.h"
#include "platform/UiHost.h"

namespace quillbox {
namespace {

constexpr const char* kUsbName = "E-270";
constexpr uint8_t kFirstComPort = 1;
constexpr uint8_t kLastComPort = 8;
constexpr uint16_t kIdleRateDivider = 250;
constexpr uint8_t kIdleControlByte = 0xC0 + 7;

// A handle the library or the device node handed out (never 0 or -1); the zeroed record of a
// freshly loaded component holds 0.
bool HoldsConnection(const Device& dev) {
  return dev.Handle != platform::kInvalidHandle && dev.Handle != 0;
}

int16_t LowHalf(int32_t handle) {
  return static_cast<int16_t>(static_cast<uint16_t>(static_cast<uint32_t>(handle) & 0xFFFFu));
}

}  // namespace

void DeviceClose(DeviceLink& link) {
  E270Close(&link.Dev);
  E270Init(&link.Dev);
}

void PortName(const Device& device, std::string& portName) {
  if (device.Interface == kInterfaceUsb) {
    portName = "USB";
  } else if (device.Interface == kInterfaceSerial) {
    portName = "COM" + std::to_string(device.ComPort);
  }
}

bool DeviceConnectUSB(ModuleRecord& m, const std::string& name) {
  EnumerateDevices(m.Dev, m, name);
  const DeviceChoice choice = RequestedDevice();
  const DeviceDecision decision = ChooseDevice(m, choice);
  m.ChoiceProblem = decision.problem;
  // The selection dialog may have been shown.
  if (choice.value.empty() && m.Devices.size() > 1 && decision.problem.empty())
    platform::DoEvents();
  const int16_t number = decision.device;
  if (number < 0) return false;

  Device& dev = m.Dev;
  E270Init(&dev);
  dev.Handle = OpenLDevUsb(number);
  if (dev.Handle == platform::kInvalidHandle) return false;
  dev.OpenFlags = 0;
  dev.Interface = kInterfaceUsb;
  dev.Reserved6 = 0;
  dev.Reserved10 = 0;
  if (E270GetConfig(&dev) == 0) return true;
  int32_t handle = dev.Handle;
  CloseLDevUsb(handle);
  dev.Handle = handle;
  return false;
}

bool DeviceConnect(ModuleRecord& m) {
  Device& dev = m.Dev;
  E270Init(&dev);
  dev.OpenFlags = 0;
  // A module choice narrows the search: "COMn" to that serial port (nothing is listed on USB),
  // any other value to the USB module it names. A module it does not name is never opened in
  // its place, and modules that cannot be chosen among leave the serial ports alone too.
  const DeviceChoice choice = RequestedDevice();
  const uint8_t onlyPort = ComPortOf(choice.value);
  if (onlyPort != 0) {
    static_cast<DeviceListing&>(m) = DeviceListing{};
  } else if (DeviceConnectUSB(m, kUsbName)) {
    return true;
  } else if (!choice.value.empty() || !m.ChoiceProblem.empty()) {
    // When the named module was found but would not open, the usual text says so.
    if (!m.ChoiceProblem.empty()) m.Adc.LastError = m.ChoiceProblem;
    E270Init(&dev);
    return false;
  }
  const uint8_t first = onlyPort != 0 ? onlyPort : kFirstComPort;
  const uint8_t last = onlyPort != 0 ? onlyPort : kLastComPort;
  for (uint8_t port = first; port <= last; ++port) {
    E270Init(&dev);
    dev.OpenFlags = 0;
    dev.Interface = kInterfaceSerial;
    dev.ComPort = port;
    if (E270Open(&dev) == 0) return true;
  }
  E270Init(&dev);
  if (onlyPort != 0) {
    m.Adc.LastError = "No found " + m.Adc.ADCName + " on COM" + std::to_string(onlyPort) + "!";
  }
  return false;
}

bool ReadModuleInfo(ModuleRecord& m) {
  Device& dev = m.Dev;
  if (dev.Handle == platform::kInvalidHandle) return false;
  m.Adc.LastError.clear();

  const auto fail = [&m] {
    if (m.Adc.LastError.empty()) m.Adc.LastError = "Unable to read information from module!";
    return false;
  };

  if (E270ReadEEPROM(&dev, 0) != 0) return fail();
  if (E270CRCCheck(&dev, 0) != 0) {
    m.Adc.LastError = "CRC error of module!";
    return fail();
  }
  PortName(dev, m.Board.PortName);
  DecodeBoardDescriptor(dev.EepromImage[0], m.Board);

  for (int slot = 0; slot < kSlots; ++slot) {
    ModuleSlot& module = m.Modules[static_cast<std::size_t>(slot)];
    if (dev.SlotPresent[slot] == kSlotEmpty) {
      module.ModuleType = kSlotEmpty;
    } else {
      if (E270ReadEEPROM(&dev, static_cast<int16_t>(slot + 1)) != 0) return fail();
      DecodeMezzaninePage(dev.EepromImage[slot + 1], module);
    }
    DescribeSlot(module);
  }

  m.DirectSource = DirectSourceInfo();
  m.TTLSource = TTLSourceInfo();
  return true;
}

int16_t DeviceOpen(ModuleRecord& m) {
  // A connection an earlier open left behind would hold the port or the exclusive USB node.
  if (HoldsConnection(m.Dev)) DeviceClose(m);

  m.Board.BoardName.clear();
  platform::SetWaitCursor(true);

  const auto failure = [&m] {
    DeviceClose(m);
    platform::SetWaitCursor(false);
    return int16_t(0);
  };

  if (!DeviceConnect(m)) {
    if (m.Adc.LastError.empty()) {
      m.Adc.LastError = "No found " + m.Adc.ADCName + " on USB or COM ports!";
    }
    return failure();
  }
  // The selection dialog may have reset the pointer.
  platform::SetWaitCursor(true);
  if (!ReadModuleInfo(m)) return failure();

  BuildChannelList(m.Sources, m.Modules, m.DirectSource, m.TTLSource, m.Adc.Tables);

  m.Dev.RateDivider = kIdleRateDivider;
  m.Dev.ControlByte = kIdleControlByte;
  [[maybe_unused]] const int32_t configured = E270SetConfig(&m.Dev, 0);

  m.Dio.DIODetected = true;
  m.Dio.DIBits = 8;
  m.Dio.DOBits = 8;
  if (E270GetDIO(&m.Dev, &m.Dio.DIOOutByte, &m.Dio.DIOInByte, &m.Dio.DIOAuxByte) == 0) {
    m.Dio.DIValue =
        static_cast<int32_t>((static_cast<uint32_t>(m.Dio.DIValue) & ~0xFFu) | m.Dio.DIOInByte);
    m.Dio.DOValue =
        static_cast<int32_t>((static_cast<uint32_t>(m.Dio.DOValue) & ~0xFFu) | m.Dio.DIOOutByte);
  }

  m.Adc.LastError.clear();
  const int16_t port = LowHalf(m.Dev.Handle);
  platform::SetWaitCursor(false);
  return port;
}

}  // namespace quillbox
