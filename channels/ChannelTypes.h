#pragma once
// Records of the channel model: what each mezzanine slot holds, the fixed sources, where each
// logical channel's signal comes from, and the host-visible range and channel lists.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace quillbox {

constexpr int kChannelsCount = 32;
constexpr int kMezzanineChannels = 16;
constexpr int kModuleSlots = 8;

enum SourceKind : uint8_t { SourceMezzanine = 0, SourceADC = 1, SourceTTL = 2 };

struct ModuleSlot {
  uint8_t ModuleType = 0;  // 255 = empty slot
  uint8_t VersionMajor = 0;
  uint8_t VersionMinor = 0;
  std::string ModuleName;
  std::string ModuleSerial;
  std::string RangeText;
  std::string UnitName;
  float Scale = 0.0f;
  int32_t Offset = 0;
};

struct SourceInfo {
  std::string RangeText;
  std::string UnitName;
  float Scale = 0.0f;
};

struct ChannelSource {
  uint8_t Source = SourceMezzanine;
  uint8_t Index = 0;
  bool operator==(const ChannelSource&) const = default;
};

using ChannelSources = std::array<ChannelSource, kChannelsCount>;
using ModuleSlots = std::array<ModuleSlot, kModuleSlots>;

// The host-visible lists: one row per distinct range text, and per channel its name and row.
struct ChannelTables {
  std::vector<std::string> Ranges;
  std::vector<std::string> UnitNames;
  std::vector<float> UnitScales;
  std::vector<float> UnitOffsets;
  std::array<std::string, kChannelsCount> ChannelNames;
  std::array<int16_t, kChannelsCount> ChannelRanges{};
};

}  // namespace quillbox
