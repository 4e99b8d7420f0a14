#include "device/SingleRead.h"

#include <algorithm>
#include <cmath>
#include <mutex>

#include "device/E270API.h"
#include "device/RateRule.h"
#include "device/SampleConversion.h"
#include "driver/DriverState.h"
#include "platform/Clock.h"

namespace quillbox {
namespace {

// Puts the module into the single-read configuration unless it is there already. Also checks
// the control byte, so that a recording with synchronisation at the same divider does not leave
// the single reads waiting for trigger edges.
void EnsureSingleReadConfig(DriverState& s, int32_t& frameCount) {
  if (s.Dev.RateDivider == kSingleReadDivider && s.Dev.ControlByte == kSingleReadControlByte)
    return;
  s.Dev.ControlByte = kSingleReadControlByte;
  s.Dev.RateDivider = kSingleReadDivider;
  if (E270SetConfig(&s.Dev, 0) != 0) s.LastFailedCall = "E270SetConfig";
  frameCount = 10;  // 25000 / 5 / 500
}

// Moves to the next frame of the cached block, or fetches a new block when the cached one is
// too old or used up; returns the block-buffer index to convert.
int32_t NextCachedFrame(DriverState& s, uint32_t& blockTick, int32_t& frameCount,
                        int32_t& frameIndex, bool& fetched) {
  const auto elapsed = static_cast<int32_t>(platform::GetTickCount() - blockTick);
  const bool newBlock =
      !fetched || elapsed > kSingleReadBlockMs || elapsed < 0 || !(frameIndex + 1 < frameCount);
  if (newBlock) {
    if (E270GetDATA(&s.Dev, s.BlockBuffer.data()) == 0) {
      fetched = true;
      blockTick = platform::GetTickCount();
      // Copied first: std::max would bind a reference to the unaligned packed field.
      const uint16_t configured = s.Dev.RateDivider;
      const uint16_t divider = std::max<uint16_t>(configured, 1);
      frameCount = static_cast<int32_t>(std::nearbyint(kBaseClock / 5.0 / divider));
      frameIndex = 0;
    } else {
      s.LastFailedCall = "E270GetDATA";
    }
  } else {
    ++frameIndex;
  }
  return std::clamp(frameIndex, 0, kBlockBufferFrames - 1);
}

DeviceFrame LatestRecordedFrame(DriverState& s) {
  std::lock_guard lock(s.Record.RingMutex);
  return s.Record.HasLatestFrame ? s.Record.LatestFrame : DeviceFrame{};
}

}  // namespace

int16_t ReadChannelNow(DriverState& s, int channel) {
  if (channel < 0 || channel >= s.Adc.ChannelsCount) return 0;
  s.LastFailedCall.clear();
  if (s.Busy.load()) return ConvertSample(s, LatestRecordedFrame(s), channel);
  ReadCacheInfo& c = s.ReadCache;
  EnsureSingleReadConfig(s, c.ChannelFrames);
  const int32_t index =
      NextCachedFrame(s, c.ChannelTick, c.ChannelFrames, c.ChannelIndex, c.ChannelFetched);
  return ConvertSample(s, s.BlockBuffer[static_cast<std::size_t>(index)], channel);
}

int16_t ReadFrameNow(DriverState& s, BoundedArray<int16_t>& values) {
  const int16_t count = std::max<int16_t>(s.Record.InputCountChannels, 0);
  values = BoundedArray<int16_t>(0, count - 1);
  if (count == 0) return 0;
  s.LastFailedCall.clear();
  DeviceFrame frame;
  if (s.Busy.load()) {
    frame = LatestRecordedFrame(s);
  } else {
    ReadCacheInfo& c = s.ReadCache;
    EnsureSingleReadConfig(s, c.FrameFrames);
    frame = s.BlockBuffer[static_cast<std::size_t>(
        NextCachedFrame(s, c.FrameTick, c.FrameFrames, c.FrameIndex, c.FrameFetched))];
  }
  for (int16_t i = 0; i < count; ++i) {
    const int channel = s.Record.InputChannels.Contains(i) ? s.Record.InputChannels(i) : -1;
    values(i) = ConvertSample(s, frame, channel);
  }
  return count;
}

}  // namespace quillbox
