#pragma once
// Channel naming and the host-visible range and channel lists.

#include <string>

#include "channels/ChannelTypes.h"

namespace quillbox {

// Name of a logical channel's source: "AD-Ch1".."AD-Ch8", "TTL-In1".."TTL-In8" or
// "M<slot>-Ch<n>_<module name>" over the sixteen mezzanine channels. Reduces the record's Index
// into its valid range (mod 8 for direct and TTL inputs, mod 16 for mezzanine channels) and
// writes it back.
std::string GetSourceName(ChannelSource& source, const ModuleSlots& modules);

// The sources a new driver starts with: channels 0-15 the sixteen mezzanine channels, 16-23 the
// eight direct converter inputs, 24-31 the eight TTL lines, each in order.
ChannelSources DefaultChannelSources();

// Rebuilds the range tables, channel names and channel ranges from the channel sources, the
// slots and the two fixed sources. Channels share a range row when their range texts are
// equal; the first channel with a text decides the row's unit and scale.
void BuildChannelList(ChannelSources& sources, const ModuleSlots& modules, const SourceInfo& direct,
                      const SourceInfo& ttl, ChannelTables& tables);

}  // namespace quillbox
