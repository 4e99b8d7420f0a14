#pragma once
// The records the device layer fills when it opens a module: the converter's identity and
// channel tables, the board descriptor, and the digital lines with their start and stop values.

#include <cstdint>
#include <string>

#include "channels/ChannelTypes.h"

namespace quillbox {

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

}  // namespace quillbox
