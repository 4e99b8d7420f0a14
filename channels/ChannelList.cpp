#include "channels/ChannelList.h"

#include <algorithm>

namespace quillbox {

ChannelSources DefaultChannelSources() {
  ChannelSources sources{};
  for (uint8_t i = 0; i < kMezzanineChannels; ++i) sources[i] = {SourceMezzanine, i};
  for (uint8_t i = 0; i < 8; ++i) sources[kMezzanineChannels + i] = {SourceADC, i};
  for (uint8_t i = 0; i < 8; ++i) sources[kMezzanineChannels + 8 + i] = {SourceTTL, i};
  return sources;
}

std::string GetSourceName(ChannelSource& source, const ModuleSlots& modules) {
  switch (source.Source) {
    case SourceADC:
      source.Index = static_cast<uint8_t>(source.Index % 8);
      return "AD-Ch" + std::to_string(source.Index + 1);
    case SourceTTL:
      source.Index = static_cast<uint8_t>(source.Index % 8);
      return "TTL-In" + std::to_string(source.Index + 1);
    default: {
      source.Index = static_cast<uint8_t>(source.Index % kMezzanineChannels);
      const int slot = source.Index / 2;
      return "M" + std::to_string(slot + 1) + "-Ch" + std::to_string(source.Index + 1) + "_" +
             modules[static_cast<std::size_t>(slot)].ModuleName;
    }
  }
}

void BuildChannelList(ChannelSources& sources, const ModuleSlots& modules, const SourceInfo& direct,
                      const SourceInfo& ttl, ChannelTables& tables) {
  tables.Ranges.clear();
  tables.UnitNames.clear();
  tables.UnitScales.clear();
  tables.UnitOffsets.clear();

  for (std::size_t ch = 0; ch < sources.size(); ++ch) {
    ChannelSource& source = sources[ch];
    const std::string* range;
    const std::string* unit;
    float scale;
    if (source.Source == SourceADC) {
      range = &direct.RangeText;
      unit = &direct.UnitName;
      scale = direct.Scale;
    } else if (source.Source == SourceTTL) {
      range = &ttl.RangeText;
      unit = &ttl.UnitName;
      scale = ttl.Scale;
    } else {
      const ModuleSlot& slot = modules[static_cast<std::size_t>((source.Index % 16) / 2)];
      range = &slot.RangeText;
      unit = &slot.UnitName;
      scale = slot.Scale;
    }

    // Only the range text decides whether two channels share a row.
    auto found = std::find(tables.Ranges.begin(), tables.Ranges.end(), *range);
    const auto row = static_cast<int16_t>(found - tables.Ranges.begin());
    if (found == tables.Ranges.end()) {
      tables.Ranges.push_back(*range);
      tables.UnitNames.push_back(*unit);
      tables.UnitScales.push_back(scale);
      tables.UnitOffsets.push_back(0.0f);
    }

    tables.ChannelNames[ch] = GetSourceName(source, modules);
    tables.ChannelRanges[ch] = row;
  }
}

}  // namespace quillbox
