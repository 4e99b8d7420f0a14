#pragma once
// Recording settings, counters and the frame ring shared by the host thread and the
// acquisition thread.

#include <atomic>
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
  int32_t RingReadPos = 0;
  int32_t RingWritePos = 0;
  int32_t InputCountKadrs = 0;
  bool RingEmpty = false;
  BoundedArray2D<int16_t> FrameRing;
};

}  // namespace quillbox
