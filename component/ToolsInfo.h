#pragma once
// JSON descriptions for the tools interface: the modules on USB and what the driver knows about
// the module it opened last.

#include <string>

namespace quillbox {

// [{"device":0,"port":"USB1","board":"E-270","serial":"..."}, ...]. Scans the USB device
// nodes, except while a connection is open or a recording runs: the scan would reset the
// device record in use, so the list of the last scan is reported then.
std::string DevicesJsonText();
// The same list of the modules the last scan found (an open's or DevicesJsonText's), without
// scanning again.
std::string ListedDevicesJsonText();

// {"detected", "last_error", "base_port", "board", "slots", "ranges", "channels", "dio"}.
std::string InfoJsonText();

}  // namespace quillbox
