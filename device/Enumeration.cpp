#include "device/Enumeration.h"

#include <algorithm>

#include "device/VendorCalls.h"
#include "platform/DeviceNodes.h"

namespace quillbox {
namespace {

// Matches one list of "[list]" against `c`; `p` points after "[" and is moved past "]".
// Returns false with p = npos when the list is not closed.
bool MatchList(std::string_view pattern, std::size_t& p, char c, bool& matched) {
  bool negate = false;
  if (p < pattern.size() && pattern[p] == '!') {
    negate = true;
    ++p;
  }
  const auto close = pattern.find(']', p);
  if (close == std::string_view::npos) return false;
  const bool inList = pattern.substr(p, close - p).find(c) != std::string_view::npos;
  matched = inList != negate;
  p = close + 1;
  return true;
}

// Whether the pattern token at p matches character c; advances p past the token.
// Returns false when the pattern is malformed.
bool MatchToken(std::string_view pattern, std::size_t& p, char c, bool& matched) {
  const char t = pattern[p++];
  switch (t) {
    case '?':
      matched = true;
      return true;
    case '#':
      matched = c >= '0' && c <= '9';
      return true;
    case '[':
      return MatchList(pattern, p, c, matched);
    default:
      matched = t == c;
      return true;
  }
}

std::string UsbPortName(int16_t n) { return "USB" + std::to_string(n + 1); }

std::string NodeName(int16_t n) { return "\\\\.\\LDevUsb" + std::to_string(n); }

// Lists the port, and who has it, when the node just failed to open because it is in use
// elsewhere.
void NoteIfBusy(DeviceListing& listing, int16_t n) {
  if (platform::LastNodeOpenError() != platform::NodeOpenError::Busy) return;
  listing.BusyPorts.push_back(UsbPortName(n));
  for (int pid : platform::DeviceNodeHolders(NodeName(n)))
    if (std::find(listing.BusyProcesses.begin(), listing.BusyProcesses.end(), pid) ==
        listing.BusyProcesses.end())
      listing.BusyProcesses.push_back(pid);
}

}  // namespace

bool MatchesPattern(std::string_view text, std::string_view pattern) {
  // Greedy match with backtracking to the last "*": every other token takes exactly one
  // character, so retrying from the last star is enough.
  std::size_t t = 0, p = 0;
  std::size_t starP = std::string_view::npos, starT = 0;
  while (t < text.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      starP = ++p;
      starT = t;
      continue;
    }
    if (p < pattern.size()) {
      std::size_t next = p;
      bool matched = false;
      if (!MatchToken(pattern, next, text[t], matched)) return false;
      if (matched) {
        p = next;
        ++t;
        continue;
      }
    }
    if (starP == std::string_view::npos) return false;
    p = starP;
    t = ++starT;
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

int32_t OpenLDevUsb(int16_t n) {
  return platform::OpenDeviceNode(NodeName(n), platform::NodeAccess::Exclusive);
}

int32_t QueryLDevUsb(int16_t n) {
  return platform::OpenDeviceNode(NodeName(n), platform::NodeAccess::Query);
}

std::string ReadModuleName(int32_t& handle) {
  if (handle == platform::kInvalidHandle) return {};
  // Four little-endian words 1, 11, 0, 0.
  const uint8_t request[8] = {1, 0, 11, 0, 0, 0, 0, 0};
  uint8_t reply[8] = {};
  uint32_t returned = 0;
  if (!platform::DeviceNodeControl(handle, kModuleNameRequest, request, sizeof request, reply,
                                   sizeof reply, returned)) {
    return {};
  }
  std::string name;
  for (uint8_t b : reply) {
    if (b < 0x21 || b > 0x7F) break;
    name += static_cast<char>(b);
  }
  return name;
}

void CloseLDevUsb(int32_t& handle) {
  platform::CloseDeviceNode(handle);
  handle = platform::kInvalidHandle;
}

bool AddDevice(Device& dev, DeviceListing& listing, int16_t n) {
  E270Init(&dev);
  dev.Handle = QueryLDevUsb(n);
  if (dev.Handle == platform::kInvalidHandle) {
    NoteIfBusy(listing, n);
    return false;
  }
  dev.OpenFlags = 0;
  dev.Interface = kInterfaceUsb;
  dev.Reserved6 = 0;
  dev.Reserved10 = 0;

  bool added = false;
  if (E270ReadEEPROM(&dev, 0) == 0) {
    const uint8_t* page = dev.EepromImage[0];
    DeviceEntry entry;
    entry.PortType = "USB";
    entry.DeviceIndex = n;
    entry.PortName = UsbPortName(n);
    entry.BoardName = "E-270";
    // The serial field's first 8 bytes, as long as they are printable ASCII (space included).
    for (int i = 2; i < 10 && page[i] >= 0x20 && page[i] <= 0x7F; ++i) {
      entry.SerialNumber += static_cast<char>(page[i]);
    }
    listing.Devices.push_back(std::move(entry));
    listing.DeviceCount = static_cast<int32_t>(listing.Devices.size());
    added = true;
  }

  int32_t handle = dev.Handle;
  CloseLDevUsb(handle);
  dev.Handle = handle;
  E270Close(&dev);
  E270Init(&dev);
  return added;
}

int16_t EnumerateDevices(Device& dev, DeviceListing& listing, const std::string& namePattern) {
  listing.DeviceCount = 0;
  listing.Devices.clear();
  listing.BusyPorts.clear();
  listing.BusyProcesses.clear();
  listing.ChoiceProblem.clear();
  int16_t found = 0;
  for (int16_t n = 0; n < kUsbDeviceNumbers; ++n) {
    int32_t handle = QueryLDevUsb(n);
    if (handle == platform::kInvalidHandle) {
      NoteIfBusy(listing, n);
      continue;
    }
    const std::string name = ReadModuleName(handle);
    CloseLDevUsb(handle);
    if (MatchesPattern(name, namePattern) && name == "E-270" && AddDevice(dev, listing, n)) ++found;
  }
  return found;
}

}  // namespace quillbox
