#pragma once
// The host's recording settings and the single reads' block cache. Both belong to the host
// thread; the acquisition thread works only from the plan made of them at a start.

#include <cstdint>

#include "quillbox/BoundedArray.h"

namespace quillbox {

struct RecordInfo {
  int16_t InputCountChannels = 0;
  BoundedArray<int16_t> InputChannels;  // scan list of logical channels 0..31
  float RateMax = 0.0f;
  float Rate = 0.0f;
  int32_t InputSizeRequest = 0;  // ring size asked for by the host, in frames
  int32_t InputSizeData = 0;
  int32_t InputSizeKadrs = 0;
};

// Counters shared by the two single reads: block time, frames in the block and frame in use,
// for the channel read and for the frame read; and whether that read has fetched a block yet
// (the tick count starts near 0 with the process, so a zero block time does not mean "old").
struct ReadCacheInfo {
  uint32_t ChannelTick = 0;
  int32_t ChannelFrames = 0;
  int32_t ChannelIndex = 0;
  uint32_t FrameTick = 0;
  int32_t FrameFrames = 0;
  int32_t FrameIndex = 0;
  bool ChannelFetched = false;
  bool FrameFetched = false;
};

}  // namespace quillbox
