#pragma once
// Choosing one of several E-270 modules found on USB. The open path asks ChooseDevice when two
// or more modules are listed: the environment variable QUILLBOX_DEVICE may name the module (its
// serial text, or "usbN" for device number N), else the installed chooser (the device
// selection dialog) decides.

#include <cstdint>
#include <functional>

namespace quillbox {

struct DriverState;

// Returns the device number (DeviceIndex) of the chosen module, or -1 for no choice.
using DeviceChooser = std::function<int16_t(DriverState&)>;

// Installs the chooser (an empty function removes it).
void SetDeviceChooser(DeviceChooser chooser);

// The device number QUILLBOX_DEVICE names among the listed modules; -1 when the variable is
// unset or empty, or when it names no listed module or more than one.
int16_t DeviceFromEnvironment(const DriverState& s);

// QUILLBOX_DEVICE when it names exactly one listed module, else the installed chooser; -1 when
// no chooser is installed.
int16_t ChooseDevice(DriverState& s);

}  // namespace quillbox
