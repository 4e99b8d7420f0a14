#pragma once
// Conversion of one logical channel of a raw 48-byte device frame into a 16-bit code.

#include <cstdint>

#include "channels/ChannelTypes.h"
#include "device/E270API.h"

namespace quillbox {

struct DriverState;

// Where a channel's code comes from, resolved once from the channel sources and the slots so
// that the acquisition thread converts without looking at state the host may change.
struct SampleSource {
  enum Kind : uint8_t { Mezzanine, Direct, Ttl, None };
  Kind kind = None;
  uint8_t byte = 0;        // frame byte that holds the value (low byte of a mezzanine word)
  uint8_t mask = 0;        // TTL line bit
  bool emptySlot = false;  // mezzanine of an empty slot: raw value 0
  int32_t offset = 0;      // mezzanine zero offset
  int16_t ttlHigh = 0;     // code of a high TTL line
};

// Frame byte offsets.
constexpr int kFrameMezzanineBase = 4;
constexpr int kFrameDirectBase = 36;
constexpr int kFrameTtlByte = 45;

// Resolves logical channel `channel`; a channel outside 0..31 resolves to None (code 0).
SampleSource ResolveSample(int channel, const ChannelSources& sources, const ModuleSlots& modules,
                           const SourceInfo& ttl);

inline int16_t ConvertSample(const DeviceFrame& frame, const SampleSource& src) {
  const uint8_t* b = frame.Bytes;
  switch (src.kind) {
    case SampleSource::Direct:
      return b[src.byte];
    case SampleSource::Ttl:
      return (b[kFrameTtlByte] & src.mask) != 0 ? src.ttlHigh : int16_t{0};
    case SampleSource::Mezzanine: {
      int64_t v = src.emptySlot ? 0 : (b[src.byte] | (b[src.byte + 1] << 8));
      if (v > 0xBFFF) v -= 65536;  // 0xC000..0xFFFF are -16384..-1
      v -= src.offset;
      if (v > 32767) v = 32767;
      // Only the upper end is clamped; below that the low 16 bits are the code.
      return static_cast<int16_t>(static_cast<uint16_t>(static_cast<uint64_t>(v) & 0xFFFFu));
    }
    case SampleSource::None:
      break;
  }
  return 0;
}

// The code of logical channel `channel` (0..31) in `frame`, by the driver's current channel
// sources and slots.
int16_t ConvertSample(const DriverState& s, const DeviceFrame& frame, int channel);

}  // namespace quillbox
