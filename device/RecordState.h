#pragma once
// Recording settings, counters and the frame ring shared by the host thread and the
// acquisition thread.
//
// Sharing rules:
// - InputChannels, InputCountChannels, Rate, RateMax, InputSizeRequest, InputSizeData and
//   InputSizeKadrs belong to the host thread. The acquisition thread never reads them: what it
//   needs is resolved into its own plan before it starts.
// - FrameRing is allocated only by ResetRing, while no acquisition thread exists. Its extents
//   (RingChannels, RingFrames) define the ring arithmetic, not InputCountChannels or
//   InputSizeKadrs, which the host may change while the ring still holds frames.
// - RingReadPos, RingWritePos, RingEmpty, LatestFrame and HasLatestFrame are guarded by
//   RingMutex. The bulk copies of frames into and out of the ring run outside it: the thread
//   writes only free columns, the readers copy only published ones.
// - InputCountKadrs is written by both sides (each count stores it), hence atomic.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "device/E270API.h"
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

  // Unread frames as last counted (not kept current by the thread's writes).
  std::atomic<int32_t> InputCountKadrs{0};
  // Data calls of the running recording that failed since its last good block.
  std::atomic<int32_t> FailedDataCalls{0};

  // (channel 0..RingChannels-1, frame 0..RingFrames); column 0 holds the scan list the ring
  // was recorded with, columns 1..RingFrames the frames.
  BoundedArray2D<int16_t> FrameRing;

  // Guarded by RingMutex.
  int32_t RingReadPos = 0;   // 1-based, next frame the host reads
  int32_t RingWritePos = 0;  // 1-based, frame written last; 0 before the first
  bool RingEmpty = false;
  DeviceFrame LatestFrame{};  // newest raw frame of the running recording
  bool HasLatestFrame = false;

  std::mutex RingMutex;
  // Signalled when a reader frees room and when a stop is requested.
  std::condition_variable RingSignal;

  int32_t RingChannels() const { return static_cast<int32_t>(FrameRing.Extent1()); }
  int32_t RingFrames() const {
    return FrameRing.Extent2() > 0 ? static_cast<int32_t>(FrameRing.Extent2()) - 1 : 0;
  }
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
