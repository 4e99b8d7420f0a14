#include "device/DeviceChooser.h"

#include <algorithm>
#include <cstdlib>
#include <mutex>
#include <string>

namespace quillbox {
namespace {

std::mutex g_mutex;
DeviceChooser g_chooser;

char Upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool SameIgnoringCase(const std::string& a, const std::string& b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                    [](char x, char y) { return Upper(x) == Upper(y); });
}

}  // namespace

void SetDeviceChooser(DeviceChooser chooser) {
  std::lock_guard lock(g_mutex);
  g_chooser = std::move(chooser);
}

std::string RequestedDevice() {
  const char* value = std::getenv("QUILLBOX_DEVICE");
  return value != nullptr ? value : "";
}

uint8_t ComPortOf(const std::string& value) {
  if (value.size() != 4 || !SameIgnoringCase(value.substr(0, 3), "COM")) return 0;
  const char d = value[3];
  return (d >= '1' && d <= '8') ? static_cast<uint8_t>(d - '0') : 0;
}

int16_t DeviceFromEnvironment(const DeviceListing& listing) {
  const std::string wanted = RequestedDevice();
  if (wanted.empty() || ComPortOf(wanted) != 0) return -1;
  int16_t chosen = -1;
  int matches = 0;
  for (const DeviceEntry& e : listing.Devices) {
    if (e.SerialNumber == wanted || SameIgnoringCase(e.PortName, wanted)) {
      chosen = e.DeviceIndex;
      ++matches;
    }
  }
  return matches == 1 ? chosen : -1;
}

int16_t ChooseDevice(const DeviceListing& listing) {
  if (!RequestedDevice().empty()) return DeviceFromEnvironment(listing);
  DeviceChooser chooser;
  {
    std::lock_guard lock(g_mutex);
    chooser = g_chooser;
  }
  return chooser ? chooser(listing) : int16_t(-1);
}

}  // namespace quillbox
