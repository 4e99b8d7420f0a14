#include "device/AcquisitionThread.h"

#include <algorithm>
#include <mutex>

#include "device/DigitalIO.h"
#include "device/E270API.h"
#include "device/FrameRing.h"
#include "device/RateRule.h"
#include "driver/DriverState.h"
#include "platform/Clock.h"
#include "platform/UiHost.h"

namespace quillbox {

BlockTiming ComputeBlockTiming(uint16_t divider, float rate) {
  BlockTiming t;
  const float f = kBaseClock / static_cast<float>(std::max<uint16_t>(divider, 1));
  t.BlockFrames = std::clamp(static_cast<int32_t>(std::min(f / 5.0f, 1e6f)), 1, kMaxFramesPerBlock);
  t.BlockMs = static_cast<int32_t>(static_cast<double>(t.BlockFrames) * 1000.0 / f);
  t.WaitMs = std::max(t.BlockMs - 50, 0);
  const float k = rate > 0.0f ? f / rate : 1.0f;
  t.Decimation = k >= 2147483520.0f ? 2147483647 : std::max(static_cast<int32_t>(k), 1);
  return t;
}

AcquisitionPlan MakeAcquisitionPlan(const DriverState& s) {
  AcquisitionPlan plan;
  plan.Timing = ComputeBlockTiming(s.Dev.RateDivider, s.Record.Rate);
  const int32_t channels = std::max<int32_t>(s.Record.InputCountChannels, 0);
  plan.Sources.reserve(static_cast<std::size_t>(channels));
  for (int32_t j = 0; j < channels; ++j) {
    const int channel = s.Record.InputChannels.Contains(j) ? s.Record.InputChannels(j) : -1;
    plan.Sources.push_back(ResolveSample(channel, s.Sources, s.Modules, s.TTLSource));
  }
  return plan;
}

void AcquisitionThread(DriverState& s, const AcquisitionPlan& plan) {
  RecordInfo& r = s.Record;
  const BlockTiming& t = plan.Timing;
  const auto stopped = [&s] { return !s.Busy.load(); };
  // The ring's channels and the plan's sources were sized from the same scan list.
  const bool planFits = static_cast<int32_t>(plan.Sources.size()) == r.RingChannels();

  {
    std::unique_lock lock(r.RingMutex);
    platform::WaitFor(r.RingSignal, lock, kAcquisitionStartDelayMs, stopped);
  }
  uint32_t lastBlockTick = 0;
  int32_t phase = 0;
  while (!stopped()) {
    if (E270GetDATA(&s.Dev, s.BlockBuffer.data()) == 0) {
      lastBlockTick = platform::GetTickCount();
      r.FailedDataCalls.store(0);
      if (planFits)
        StoreBlock(r, plan.Sources.data(), s.BlockBuffer.data(), t.BlockFrames, t.Decimation,
                   phase);
    } else {
      // No block (module gone, transfer error): try again one block period later.
      r.FailedDataCalls.fetch_add(1);
      std::unique_lock lock(r.RingMutex);
      platform::WaitFor(r.RingSignal, lock, static_cast<uint32_t>(t.BlockMs), stopped);
    }

    std::unique_lock lock(r.RingMutex);
    // Pace: the next block cannot be complete before W has passed.
    for (;;) {
      if (stopped()) break;
      const uint32_t elapsed = platform::GetTickCount() - lastBlockTick;
      if (elapsed >= static_cast<uint32_t>(t.WaitMs)) break;
      platform::WaitFor(r.RingSignal, lock, static_cast<uint32_t>(t.WaitMs) - elapsed, stopped);
    }
    // Room: a whole block must fit without touching unread frames.
    for (;;) {
      if (stopped()) break;
      const int32_t unread = UnreadFramesLocked(r);
      r.InputCountKadrs.store(unread);
      if (unread < r.RingFrames() - t.BlockFrames) break;
      platform::WaitFor(r.RingSignal, lock, static_cast<uint32_t>(t.BlockMs), stopped);
    }
  }
  s.Busy.store(false);
}

void WakeAcquisition(DriverState& s) {
  // Taking the mutex orders the wake after a waiter's last look at Busy.
  { std::lock_guard lock(s.Record.RingMutex); }
  s.Record.RingSignal.notify_all();
}

void StopAcquisition(DriverState& s) {
  s.Busy.store(false);
  WakeAcquisition(s);
  // The thread is gone before pending events run: a host re-entered from them may use the
  // device and the block buffer again.
  s.ThreadHandle.Join();
  platform::DoEvents();
  if (s.Dio.DOStopEnabled) WriteOutputs(s, s.Dio.DOStopValue);
}

}  // namespace quillbox
