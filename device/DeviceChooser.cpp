#include "device/DeviceChooser.h"

#include <algorithm>
#include <cstdlib>
#include <mutex>
#include <string>

namespace quillbox {
namespace {

constexpr const char* kModules = "E-270";

std::mutex g_mutex;
DeviceChooser g_chooser;
DeviceChoice g_choice;

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

char Upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool SameIgnoringCase(const std::string& a, const std::string& b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                    [](char x, char y) { return Upper(x) == Upper(y); });
}

// Two listed modules the dialog cannot tell apart: then it offers no choice at all.
bool HasTwins(const DeviceList& list) {
  for (std::size_t i = 0; i < list.size(); ++i) {
    for (std::size_t j = i + 1; j < list.size(); ++j) {
      if (list[i].SerialNumber == list[j].SerialNumber && list[i].BoardName == list[j].BoardName)
        return true;
    }
  }
  return false;
}

DeviceDecision Named(const DeviceListing& listing, const DeviceChoice& choice) {
  DeviceDecision decision;
  std::size_t matches = 0;
  for (const DeviceEntry& e : listing.Devices) {
    if (e.SerialNumber == choice.value || SameIgnoringCase(e.PortName, choice.value)) {
      decision.device = e.DeviceIndex;
      ++matches;
    }
  }
  if (matches == 1) return decision;
  decision.device = -1;
  const std::string named = choice.source + " \"" + choice.value + "\" names ";
  decision.problem = matches == 0
                         ? named + "no attached " + kModules + " module"
                         : named + std::to_string(matches) + " attached " + kModules + " modules";
  return decision;
}

}  // namespace

void SetDeviceChooser(DeviceChooser chooser) {
  std::lock_guard lock(g_mutex);
  g_chooser = std::move(chooser);
}

void SetDeviceChoice(const std::string& value, const std::string& source) {
  std::lock_guard lock(g_mutex);
  g_choice = {value, source};
}

DeviceChoice RequestedDevice() {
  {
    std::lock_guard lock(g_mutex);
    if (!g_choice.value.empty()) return g_choice;
  }
  const std::string value = Env("QUILLBOX_DEVICE");
  return value.empty() ? DeviceChoice{} : DeviceChoice{value, "QUILLBOX_DEVICE"};
}

uint8_t ComPortOf(const std::string& value) {
  if (value.size() != 4 || !SameIgnoringCase(value.substr(0, 3), "COM")) return 0;
  const char d = value[3];
  return (d >= '1' && d <= '8') ? static_cast<uint8_t>(d - '0') : 0;
}

bool DisplayAvailable() {
  const bool x11 = !Env("DISPLAY").empty();
  const bool wayland = !Env("WAYLAND_DISPLAY").empty();
  const std::string platforms = Env("QT_QPA_PLATFORM");
  if (platforms.empty()) return x11 || wayland;
  std::size_t start = 0;
  while (start <= platforms.size()) {
    const std::size_t end = std::min(platforms.find(';', start), platforms.size());
    std::string name = platforms.substr(start, end - start);
    name = name.substr(0, name.find(':'));
    start = end + 1;
    if (name == "xcb") {
      if (x11) return true;
    } else if (name.rfind("wayland", 0) == 0) {
      if (wayland) return true;
    } else if (!name.empty()) {
      return name != "offscreen" && name.rfind("minimal", 0) != 0;
    }
  }
  return false;
}

DeviceDecision ChooseDevice(const DeviceListing& listing, const DeviceChoice& choice) {
  if (!choice.value.empty()) return Named(listing, choice);
  const DeviceList& list = listing.Devices;
  if (list.size() < 2) return {list.empty() ? int16_t(-1) : list.front().DeviceIndex, ""};
  const std::string several =
      std::to_string(list.size()) + " " + kModules + " modules are attached on USB";
  if (!DisplayAvailable()) return {-1, several + " and there is no display to choose one on"};
  if (HasTwins(list)) return {-1, several + " and the device dialog cannot tell them apart"};
  DeviceChooser chooser;
  {
    std::lock_guard lock(g_mutex);
    chooser = g_chooser;
  }
  return {chooser ? chooser(listing) : int16_t(-1), ""};
}

}  // namespace quillbox
