#include "device/SampleConversion.h"

#include <cmath>

namespace quillbox {
namespace {

// The TTL scale rounded half to even, kept inside the 16-bit range.
int16_t TtlHighCode(float scale) {
  if (!(scale == scale)) return 0;
  const double r = std::nearbyint(static_cast<double>(scale));
  if (r > 32767.0) return 32767;
  if (r < -32768.0) return -32768;
  return static_cast<int16_t>(r);
}

}  // namespace

SampleSource ResolveSample(int channel, const ChannelSources& sources, const ModuleSlots& modules,
                           const SourceInfo& ttl) {
  SampleSource src;
  if (channel < 0 || channel >= kChannelsCount) return src;
  const ChannelSource& cs = sources[static_cast<std::size_t>(channel)];
  // The channel list keeps indices in range; reducing them again keeps a bad one harmless.
  switch (cs.Source) {
    case SourceADC:
      src.kind = SampleSource::Direct;
      src.byte = static_cast<uint8_t>(kFrameDirectBase + cs.Index % 8);
      break;
    case SourceTTL:
      src.kind = SampleSource::Ttl;
      src.mask = static_cast<uint8_t>(1u << (cs.Index % 8));
      src.ttlHigh = TtlHighCode(ttl.Scale);
      break;
    default: {
      const int index = cs.Index % kMezzanineChannels;
      const ModuleSlot& slot = modules[static_cast<std::size_t>(index / 2)];
      src.kind = SampleSource::Mezzanine;
      src.byte = static_cast<uint8_t>(kFrameMezzanineBase + 2 * index);
      src.emptySlot = slot.ModuleType == kSlotEmpty;
      src.offset = slot.Offset;
      break;
    }
  }
  return src;
}

ConversionPlan::ConversionPlan(const std::vector<SampleSource>& sources)
    : channels_(static_cast<int32_t>(sources.size())) {
  for (int32_t j = 0; j < channels_; ++j) {
    const SampleSource& src = sources[static_cast<std::size_t>(j)];
    switch (src.kind) {
      case SampleSource::Mezzanine:
        if (!src.emptySlot) {
          mezzanines_.push_back({j, src.offset, src.byte});
          continue;
        }
        break;
      case SampleSource::Direct:
        directs_.push_back({j, src.byte});
        continue;
      case SampleSource::Ttl:
        ttls_.push_back({j, src.mask, src.ttlHigh});
        continue;
      case SampleSource::None:
        break;
    }
    constants_.push_back({j, ConvertSample(DeviceFrame{}, src)});
  }
}

}  // namespace quillbox
