#include "device/DeviceChooser.h"

#include <cstdlib>
#include <mutex>
#include <string>

#include "driver/DriverState.h"

namespace quillbox {
namespace {

std::mutex g_mutex;
DeviceChooser g_chooser;

// "usbN" with N a decimal device number 0..7; -1 for any other text.
int DeviceNumberOf(const std::string& text) {
  if (text.size() != 4 || text.compare(0, 3, "usb") != 0) return -1;
  const char d = text[3];
  return (d >= '0' && d <= '7') ? d - '0' : -1;
}

}  // namespace

void SetDeviceChooser(DeviceChooser chooser) {
  std::lock_guard lock(g_mutex);
  g_chooser = std::move(chooser);
}

int16_t DeviceFromEnvironment(const DriverState& s) {
  const char* value = std::getenv("QUILLBOX_DEVICE");
  if (value == nullptr || *value == '\0') return -1;
  const std::string wanted = value;
  const int number = DeviceNumberOf(wanted);
  int16_t chosen = -1;
  int matches = 0;
  for (const DeviceEntry& e : s.Devices) {
    if (e.SerialNumber == wanted || e.DeviceIndex == number) {
      chosen = e.DeviceIndex;
      ++matches;
    }
  }
  return matches == 1 ? chosen : -1;
}

int16_t ChooseDevice(DriverState& s) {
  const int16_t fromEnvironment = DeviceFromEnvironment(s);
  if (fromEnvironment >= 0) return fromEnvironment;
  DeviceChooser chooser;
  {
    std::lock_guard lock(g_mutex);
    chooser = g_chooser;
  }
  return chooser ? chooser(s) : int16_t(-1);
}

}  // namespace quillbox
