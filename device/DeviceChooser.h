#pragma once
// Choosing the E-270 module an open uses, for every host in one place. A host gives the choice
// through the tools (the quillbox command's --device, Python's device=); without one the
// environment variable QUILLBOX_DEVICE may give it. "COMn" (any case, n 1..8) restricts the open
// to serial port n; any other value names a USB module by its port name ("USBn", any case,
// device number n - 1) or its serial text, and the open then uses that module or none, even when
// it is the only one listed. Without a choice the only listed module is used, and among several
// the installed chooser (the device selection dialog) decides, unless nobody could answer it
// (no display) or it could not tell the modules apart (the same serial and board).

#include <cstdint>
#include <functional>
#include <string>

#include "device/DeviceParts.h"

namespace quillbox {

// Returns the device number (DeviceIndex) of the chosen listed module, or -1 for no choice.
using DeviceChooser = std::function<int16_t(const DeviceListing&)>;

// Installs the chooser (an empty function removes it).
void SetDeviceChooser(DeviceChooser chooser);

struct DeviceChoice {
  std::string value;   // "" when no module is named
  std::string source;  // how messages name the choice: "--device", "device", "QUILLBOX_DEVICE"
};

// The choice of the opens from now on, as a host gives it; an empty value leaves the choice to
// QUILLBOX_DEVICE.
void SetDeviceChoice(const std::string& value, const std::string& source);

// The host's choice, else the value of QUILLBOX_DEVICE (source "QUILLBOX_DEVICE"), else none.
DeviceChoice RequestedDevice();

// The serial port 1..8 a "COMn" value names; 0 for any other value.
uint8_t ComPortOf(const std::string& value);

// Whether a window can be shown. Qt takes the first platform of QT_QPA_PLATFORM that loads
// (without it: Wayland, X11, else offscreen); on the screenless ones (offscreen, minimal) nobody
// could see or answer a window. Decided from the environment alone, without loading Qt.
bool DisplayAvailable();

struct DeviceDecision {
  int16_t device = -1;  // the listed module's device number; -1 for none
  std::string problem;  // why the open must not go on, "" when it may
};

// Which listed module an open uses for `choice` (a value that is not "COMn"): the one module it
// names, else none with the problem that it names none or several. Without a choice: none when
// nothing is listed, the only one listed, else the chooser's answer (-1, also without a chooser,
// is a cancelled choice) unless the modules cannot be chosen among, which is the problem.
DeviceDecision ChooseDevice(const DeviceListing& listing, const DeviceChoice& choice);

}  // namespace quillbox
