#pragma once
// Finding E-270 modules on the USB kernel driver: its device nodes "\\.\LDevUsb0".."7" are
// asked for their module names, and each E-270 found is listed with the serial text of its
// board descriptor in a DeviceListing.

#include <cstdint>
#include <string>
#include <string_view>

#include "device/DeviceParts.h"

namespace quillbox {

// Control code of the module-name request: device type 0x22, function 4, out-direct, any access.
constexpr uint32_t kModuleNameRequest = 0x220012;
constexpr int16_t kUsbDeviceNumbers = 8;

// Wildcard match, case-sensitive: "?" any one character, "*" any run of characters (also
// none), "#" one digit, "[list]" / "[!list]" one character in / not in the list; every other
// character matches itself. A pattern with an unclosed "[" matches nothing.
bool MatchesPattern(std::string_view text, std::string_view pattern);

// Rebuilds the device list from all eight device numbers; returns the number of E-270 modules
// listed. The port names of nodes that were in use elsewhere go to BusyPorts; ChoiceProblem is
// cleared. Leaves `dev` freshly initialised and every handle it opened closed.
int16_t EnumerateDevices(Device& dev, DeviceListing& listing, const std::string& namePattern);
// Reads the board descriptor of device number n through `dev` and lists the module; false when
// the node does not open (a node in use elsewhere is added to BusyPorts) or the descriptor
// cannot be read.
bool AddDevice(Device& dev, DeviceListing& listing, int16_t n);
// Opens "\\.\LDevUsb<n>" exclusively; -1 when it cannot be opened.
int32_t OpenLDevUsb(int16_t n);
// Opens "\\.\LDevUsb<n>" for the listing's questions only (module name, descriptor): this never
// makes another open of the node fail, and fails as busy while the node is open elsewhere.
int32_t QueryLDevUsb(int16_t n);
// The module name the node reports (bytes 0x21..0x7F up to the first other byte); "" when the
// handle is -1 or the request fails.
std::string ReadModuleName(int32_t& handle);
// Closes the handle and sets it to -1.
void CloseLDevUsb(int32_t& handle);

}  // namespace quillbox
