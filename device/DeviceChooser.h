#pragma once
// Choosing the E-270 module an open uses. The environment variable QUILLBOX_DEVICE may name it:
// "COMn" (any case, n 1..8) restricts the open to serial port n; any other value names a USB
// module by its port name ("USBn", any case, device number n - 1) or its serial text, and the
// open then uses that module or none, even when it is the only one listed. Without the variable,
// the installed chooser (the device selection dialog) decides among two or more modules.

#include <cstdint>
#include <functional>
#include <string>

#include "device/DeviceParts.h"

namespace quillbox {

// Returns the device number (DeviceIndex) of the chosen listed module, or -1 for no choice.
using DeviceChooser = std::function<int16_t(const DeviceListing&)>;

// Installs the chooser (an empty function removes it).
void SetDeviceChooser(DeviceChooser chooser);

// The value of QUILLBOX_DEVICE; "" when it is unset.
std::string RequestedDevice();

// The serial port 1..8 a "COMn" value names; 0 for any other value.
uint8_t ComPortOf(const std::string& value);

// The device number QUILLBOX_DEVICE names among the listed modules; -1 when the variable is
// unset or empty, names a serial port, or names no listed module or more than one.
int16_t DeviceFromEnvironment(const DeviceListing& listing);

// The module QUILLBOX_DEVICE names when it is set (-1 when it names none or several of the
// listed ones), else the installed chooser's answer; -1 when no chooser is installed.
int16_t ChooseDevice(const DeviceListing& listing);

}  // namespace quillbox
