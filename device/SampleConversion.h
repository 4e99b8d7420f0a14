#pragma once
// Conversion of one logical channel of a raw 48-byte device frame into a 16-bit code.

#include <cstdint>
#include <vector>

#include "channels/ChannelTypes.h"
#include "e270/E270API.h"

namespace quillbox {

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

// Code of a mezzanine word: 0xC000..0xFFFF are -16384..-1, then the zero offset is subtracted.
// Only the upper end is clamped; below that the low 16 bits are the code.
inline int16_t MezzanineCode(int64_t word, int32_t offset) {
  int64_t v = word;
  if (v > 0xBFFF) v -= 65536;
  v -= offset;
  if (v > 32767) v = 32767;
  return static_cast<int16_t>(static_cast<uint16_t>(static_cast<uint64_t>(v) & 0xFFFFu));
}

inline int16_t ConvertSample(const DeviceFrame& frame, const SampleSource& src) {
  const uint8_t* b = frame.Bytes;
  switch (src.kind) {
    case SampleSource::Direct:
      return b[src.byte];
    case SampleSource::Ttl:
      return (b[kFrameTtlByte] & src.mask) != 0 ? src.ttlHigh : int16_t{0};
    case SampleSource::Mezzanine:
      return MezzanineCode(src.emptySlot ? 0 : (b[src.byte] | (b[src.byte + 1] << 8)), src.offset);
    case SampleSource::None:
      break;
  }
  return 0;
}

// The conversion of a whole scan list, sorted by source kind once so that converting a frame
// runs one tight loop per kind instead of a decision per sample. Gives the same codes as
// ConvertSample of each source.
class ConversionPlan {
 public:
  ConversionPlan() = default;
  explicit ConversionPlan(const std::vector<SampleSource>& sources);

  int32_t Channels() const { return channels_; }
  // Writes the code of every scan-list entry of `frame` to column[0 .. Channels() - 1].
  void Convert(const DeviceFrame& frame, int16_t* column) const {
    const uint8_t* b = frame.Bytes;
    for (const Mezzanine& m : mezzanines_)
      column[m.column] = MezzanineCode(b[m.byte] | (b[m.byte + 1] << 8), m.offset);
    for (const Direct& d : directs_) column[d.column] = b[d.byte];
    const uint8_t ttl = b[kFrameTtlByte];
    for (const Ttl& t : ttls_) column[t.column] = (ttl & t.mask) != 0 ? t.high : int16_t{0};
    for (const Constant& c : constants_) column[c.column] = c.code;
  }

 private:
  struct Mezzanine {
    int32_t column;
    int32_t offset;
    uint8_t byte;
  };
  struct Direct {
    int32_t column;
    uint8_t byte;
  };
  struct Ttl {
    int32_t column;
    uint8_t mask;
    int16_t high;
  };
  // Sources whose code does not depend on the frame: empty slots and channels outside 0..31.
  struct Constant {
    int32_t column;
    int16_t code;
  };
  int32_t channels_ = 0;
  std::vector<Mezzanine> mezzanines_;
  std::vector<Direct> directs_;
  std::vector<Ttl> ttls_;
  std::vector<Constant> constants_;
};

}  // namespace quillbox
