#include "device/SingleRead.h"

#include <algorithm>

#include "device/RateRule.h"
#include "device/SampleConversion.h"
#include "device/VendorCalls.h"
#include "platform/Clock.h"

namespace quillbox {
namespace {

// Puts the module into the single-read configuration unless it is there already. Also checks
// the control byte, so that a recording with synchronisation at the same divider does not leave
// the single reads waiting for trigger edges.
void EnsureSingleReadConfig(DeviceLink& s, int32_t& frameCount) {
  if (s.Dev.RateDivider == kSingleReadDivider && s.Dev.ControlByte == kSingleReadControlByte)
    return;
  s.Dev.ControlByte = kSingleReadControlByte;
  s.Dev.RateDivider = kSingleReadDivider;
  if (E270SetConfig(&s.Dev, 0) != 0) s.LastFailedCall = "E270SetConfig";
  frameCount = ComputeBlockTiming(kSingleReadDivider).BlockFrames;
}

// Moves to the next frame of the cached block, or fetches a new block when the cached one is
// too old or used up; returns the block-buffer index to convert.
int32_t NextCachedFrame(DeviceLink& s, Acquisition& acq, uint32_t& blockTick, int32_t& frameCount,
                        int32_t& frameIndex, bool& fetched) {
  const auto elapsed = static_cast<int32_t>(platform::GetTickCount() - blockTick);
  // A block stays current until the next one could be complete.
  const BlockTiming timing = ComputeBlockTiming(kSingleReadDivider);
  const bool newBlock =
      !fetched || elapsed > timing.WaitMs || elapsed < 0 || !(frameIndex + 1 < frameCount);
  if (newBlock) {
    if (E270GetDATA(&s.Dev, acq.BlockBuffer()) == 0) {
      fetched = true;
      blockTick = platform::GetTickCount();
      frameCount = timing.BlockFrames;
      frameIndex = 0;
    } else {
      s.LastFailedCall = "E270GetDATA";
    }
  } else {
    ++frameIndex;
  }
  return std::clamp(frameIndex, 0, kBlockBufferFrames - 1);
}

int16_t Convert(const ChannelSetup& s, const DeviceFrame& frame, int channel) {
  return ConvertSample(frame, ResolveSample(channel, s.Sources, s.Modules, s.TTLSource));
}

}  // namespace

int16_t ReadChannelNow(ModuleRecord& m, ReadCacheInfo& cache, Acquisition& acq, int channel) {
  if (channel < 0 || channel >= m.Adc.ChannelsCount) return 0;
  m.LastFailedCall.clear();
  if (acq.Busy.load()) return Convert(m, acq.LatestFrame(), channel);
  EnsureSingleReadConfig(m, cache.ChannelFrames);
  const int32_t index = NextCachedFrame(m, acq, cache.ChannelTick, cache.ChannelFrames,
                                        cache.ChannelIndex, cache.ChannelFetched);
  return Convert(m, acq.BlockBuffer()[index], channel);
}

int16_t ReadFrameNow(ModuleRecord& m, ReadCacheInfo& cache, Acquisition& acq, const RecordInfo& r,
                     BoundedArray<int16_t>& values) {
  const int16_t count = std::max<int16_t>(r.InputCountChannels, 0);
  values = BoundedArray<int16_t>(0, count - 1);
  if (count == 0) return 0;
  m.LastFailedCall.clear();
  DeviceFrame frame;
  if (acq.Busy.load()) {
    frame = acq.LatestFrame();
  } else {
    EnsureSingleReadConfig(m, cache.FrameFrames);
    frame = acq.BlockBuffer()[NextCachedFrame(m, acq, cache.FrameTick, cache.FrameFrames,
                                              cache.FrameIndex, cache.FrameFetched)];
  }
  for (int16_t i = 0; i < count; ++i) {
    const int channel = r.InputChannels.Contains(i) ? r.InputChannels(i) : -1;
    values(i) = Convert(m, frame, channel);
  }
  return count;
}

}  // namespace quillbox
