#include "device/Connection.h"

#include "channels/Catalogue.h"
#include "channels/ChannelList.h"
#include "device/Descriptor.h"
#include "device/DeviceChooser.h"
#include "device/E270API.h"
#include "device/Enumeration.h"
#include "driver/DriverState.h"
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

void DeviceClose(DriverState& s) {
  E270Close(&s.Dev);
  E270Init(&s.Dev);
}

void PortName(const Device& device, std::string& portName) {
  if (device.Interface == kInterfaceUsb) {
    portName = "USB";
  } else if (device.Interface == kInterfaceSerial) {
    portName = "COM" + std::to_string(device.ComPort);
  }
}

bool DeviceConnectUSB(DriverState& s, const std::string& name) {
  const int16_t found = EnumerateDevices(s, name);
  if (found <= 0 || s.Devices.empty()) return false;
  int16_t number = s.Devices.front().DeviceIndex;
  if (!RequestedDevice().empty()) {
    // The module QUILLBOX_DEVICE names, even when it is the only one listed, or none.
    number = DeviceFromEnvironment(s);
  } else if (found > 1) {
    number = ChooseDevice(s);
    platform::DoEvents();
  }
  if (number < 0) return false;

  Device& dev = s.Dev;
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

bool DeviceConnect(DriverState& s) {
  Device& dev = s.Dev;
  E270Init(&dev);
  dev.OpenFlags = 0;
  // QUILLBOX_DEVICE narrows the search: "COMn" to that serial port, any other value to the USB
  // module it names. A module it does not name is never opened in its place.
  const std::string wanted = RequestedDevice();
  const uint8_t onlyPort = ComPortOf(wanted);
  if (onlyPort == 0 && DeviceConnectUSB(s, kUsbName)) return true;
  if (!wanted.empty() && onlyPort == 0) {
    // When the named module was found but would not open, the usual text says so.
    if (DeviceFromEnvironment(s) < 0) {
      s.Adc.LastError = "QUILLBOX_DEVICE \"" + wanted + "\" names none or several of the " +
                        s.Adc.ADCName + " modules on USB!";
    }
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
    s.Adc.LastError = "No found " + s.Adc.ADCName + " on COM" + std::to_string(onlyPort) + "!";
  }
  return false;
}

bool ReadModuleInfo(DriverState& s) {
  Device& dev = s.Dev;
  if (dev.Handle == platform::kInvalidHandle) return false;
  s.Adc.LastError.clear();

  const auto fail = [&s] {
    if (s.Adc.LastError.empty()) s.Adc.LastError = "Unable to read information from module!";
    return false;
  };

  if (E270ReadEEPROM(&dev, 0) != 0) return fail();
  if (E270CRCCheck(&dev, 0) != 0) {
    s.Adc.LastError = "CRC error of module!";
    return fail();
  }
  PortName(dev, s.Board.PortName);
  DecodeBoardDescriptor(dev.EepromImage[0], s.Board);

  for (int slot = 0; slot < kSlots; ++slot) {
    ModuleSlot& module = s.Modules[static_cast<std::size_t>(slot)];
    if (dev.SlotPresent[slot] == kSlotEmpty) {
      module.ModuleType = kSlotEmpty;
    } else {
      if (E270ReadEEPROM(&dev, static_cast<int16_t>(slot + 1)) != 0) return fail();
      DecodeMezzaninePage(dev.EepromImage[slot + 1], module);
    }
    module.ModuleName = GetModuleName(module.ModuleType);
    module.RangeText = GetModuleRange(module.ModuleType);
    module.UnitName = GetModuleUnit(module.ModuleType);
    module.Scale = GetModuleScale(module.ModuleType);
    module.Offset = GetModuleOffset(module.ModuleType);
  }

  s.DirectSource = DirectSourceInfo();
  s.TTLSource = TTLSourceInfo();
  return true;
}

int16_t DeviceOpen(DriverState& s) {
  // A connection an earlier open left behind would hold the port or the exclusive USB node.
  if (HoldsConnection(s.Dev)) DeviceClose(s);

  s.Detected = false;
  s.Board.BoardName.clear();
  platform::SetWaitCursor(true);

  const auto failure = [&s] {
    DeviceClose(s);
    platform::SetWaitCursor(false);
    return int16_t(0);
  };

  if (!DeviceConnect(s)) {
    if (s.Adc.LastError.empty()) {
      s.Adc.LastError = "No found " + s.Adc.ADCName + " on USB or COM ports!";
    }
    return failure();
  }
  // The selection dialog may have reset the pointer.
  platform::SetWaitCursor(true);
  if (!ReadModuleInfo(s)) return failure();

  BuildChannelList(s.Sources, s.Modules, s.DirectSource, s.TTLSource, s.Adc.Tables);

  s.Dev.RateDivider = kIdleRateDivider;
  s.Dev.ControlByte = kIdleControlByte;
  [[maybe_unused]] const int32_t configured = E270SetConfig(&s.Dev, 0);

  s.Dio.DIODetected = true;
  s.Dio.DIBits = 8;
  s.Dio.DOBits = 8;
  if (E270GetDIO(&s.Dev, &s.Dio.DIOOutByte, &s.Dio.DIOInByte, &s.Dio.DIOAuxByte) == 0) {
    s.Dio.DIValue =
        static_cast<int32_t>((static_cast<uint32_t>(s.Dio.DIValue) & ~0xFFu) | s.Dio.DIOInByte);
    s.Dio.DOValue =
        static_cast<int32_t>((static_cast<uint32_t>(s.Dio.DOValue) & ~0xFFu) | s.Dio.DIOOutByte);
  }

  s.Adc.LastError.clear();
  const int16_t port = LowHalf(s.Dev.Handle);
  platform::SetWaitCursor(false);
  return port;
}

}  // namespace quillbox
