#pragma once
// E-270 modules found on the USB kernel driver.

#include <cstdint>
#include <string>
#include <vector>

namespace quillbox {

struct DeviceEntry {
  std::string PortType;      // always "USB"
  std::string BoardName;     // always "E-270"
  std::string SerialNumber;  // serial text of the board descriptor, at most 8 characters
  std::string PortName;      // "USB1" .. "USB8"
  int16_t DeviceIndex = 0;   // N of "\\.\LDevUsbN", 0..7
};

using DeviceList = std::vector<DeviceEntry>;

}  // namespace quillbox
