#pragma once
// The records the device layer fills when it opens a module: the connection, the modules found
// on USB, the converter's identity and channel tables, the board descriptor, what sits in the
// slots with the source of each logical channel, and the digital lines with their start and
// stop values. `ModuleRecord` puts them together for the open sequence, which fills them all;
// the other device functions take only the parts they use.

#include <cstdint>
#include <string>
#include <vector>

#include "channels/ChannelTypes.h"
#include "e270/E270API.h"

namespace quillbox {

// The vendor's device record of the connection, and the vendor call that failed in the last
// single read or digital-I/O call ("" if none). The interface members keep their specified
// results; hosts ask for the failure through the tools.
struct DeviceLink {
  Device Dev{};
  std::string LastFailedCall;
};

// One E-270 module found on the USB kernel driver.
struct DeviceEntry {
  std::string PortType;      // always "USB"
  std::string BoardName;     // always "E-270"
  std::string SerialNumber;  // serial text of the board descriptor, at most 8 characters
  std::string PortName;      // "USB1" .. "USB8"
  int16_t DeviceIndex = 0;   // N of "\\.\LDevUsbN", 0..7
};

using DeviceList = std::vector<DeviceEntry>;

// The modules the last enumeration listed, the USB ports whose node it found in use and the
// processes that have those nodes (where they can be told), and why the open refused to choose
// among them ("" when it did not).
struct DeviceListing {
  int32_t DeviceCount = 0;
  DeviceList Devices;
  std::vector<std::string> BusyPorts;
  std::vector<int> BusyProcesses;
  std::string ChoiceProblem;
};

struct AdcInfo {
  std::string DisplayName;
  std::string ADCName;
  uint8_t Resolution = 0;
  int16_t ChannelsCount = 0;
  ChannelTables Tables;  // Ranges, UnitNames, UnitScales, UnitOffsets, ChannelNames, ChannelRanges
  std::string LastError;
};

struct BoardInfo {
  std::string BoardName;
  std::string PortName;
  std::string BoardRevision;
  std::string SerialNumber;
  std::string ProcessorName;
  int32_t ClockFrequency = 0;
};

// The mezzanines in the slots, the direct and TTL inputs, and the source of each logical channel.
struct ChannelSetup {
  ModuleSlots Modules;
  SourceInfo DirectSource;
  SourceInfo TTLSource;
  ChannelSources Sources{};
};

struct DioInfo {
  bool DIODetected = false;
  uint8_t DIBits = 0;
  uint8_t DOBits = 0;
  int32_t DIValue = 0;
  int32_t DOValue = 0;
  bool DOStartEnabled = false;
  bool DOStopEnabled = false;
  int32_t DOStartValue = 0;
  int32_t DOStopValue = 0;
  // The three bytes of the last digital-I/O call: outputs, inputs, and the third byte the
  // library reports and expects back unchanged.
  uint8_t DIOOutByte = 0;
  uint8_t DIOInByte = 0;
  uint8_t DIOAuxByte = 0;
};

// Everything an open fills in.
struct ModuleRecord : DeviceLink, DeviceListing, ChannelSetup {
  AdcInfo Adc;
  BoardInfo Board;
  DioInfo Dio;
};

}  // namespace quillbox
