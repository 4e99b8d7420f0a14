#include "device/Acquisition.h"

#include <algorithm>
#include <vector>

#include "device/VendorCalls.h"
#include "platform/Signal.h"

namespace quillbox {

RecordingPlan MakeRecordingPlan(const RecordInfo& r, int16_t syncMode,
                                const ChannelSources& sources, const ModuleSlots& modules,
                                const SourceInfo& ttl) {
  RecordingPlan plan;
  plan.Rate = ComputeRateSetting(r.Rate);
  plan.Timing = ComputeBlockTiming(plan.Rate.Divider);
  plan.ControlByte = RecordingControlByte(syncMode);
  // The ring must take at least one block; a size the host asked for outside what can work is
  // replaced, and the host's size getters then report the size really used.
  plan.RingFrames =
      WorkableRingSize(r.InputSizeRequest, r.InputCountChannels, plan.Timing.BlockFrames);
  const int32_t channels = std::max<int32_t>(r.InputCountChannels, 0);
  std::vector<SampleSource> resolved;
  resolved.reserve(static_cast<std::size_t>(channels));
  for (int32_t j = 0; j < channels; ++j) {
    const int channel = r.InputChannels.Contains(j) ? r.InputChannels(j) : -1;
    resolved.push_back(ResolveSample(channel, sources, modules, ttl));
  }
  plan.Conversion = ConversionPlan(resolved);
  return plan;
}

bool Acquisition::Start(Device& device, const RecordingPlan& plan) {
  failedDataCalls_.store(0);
  {
    std::lock_guard lock(latestMutex_);
    hasLatestFrame_ = false;
  }
  // Set before the thread exists, so the thread sees it from its first instruction.
  Busy.store(true);
  const bool started =
      worker_.Start([this, &device, plan] { Run(device, plan); }, [this] { RequestStop(); });
  if (!started) Busy.store(false);
  return started;
}

void Acquisition::RequestStop() {
  Busy.store(false);
  stop_.Notify();
  ring_.WakeWriter();
}

DeviceFrame Acquisition::LatestFrame() {
  std::lock_guard lock(latestMutex_);
  return hasLatestFrame_ ? latestFrame_ : DeviceFrame{};
}

bool Acquisition::Pause(uint32_t ms) {
  return !platform::WaitFor(stop_, ms, [this] { return !Busy.load(); });
}

void Acquisition::Run(Device& device, const RecordingPlan& plan) {
  const BlockTiming& t = plan.Timing;
  const int32_t n = t.BlockFrames;
  int32_t phase = 0;
  uint32_t lastBlockTick = 0;
  Pause(kAcquisitionStartDelayMs);
  while (Busy.load()) {
    if (E270GetDATA(&device, blockBuffer_.data()) == 0) {
      lastBlockTick = platform::GetTickCount();
      failedDataCalls_.store(0);
      ring_.Store(plan.Conversion, blockBuffer_.data(), n, plan.Rate.Decimation, phase);
      std::lock_guard lock(latestMutex_);
      latestFrame_ = blockBuffer_[static_cast<std::size_t>(n - 1)];
      hasLatestFrame_ = true;
    } else {
      // No block (module gone, transfer error): try again one block period later.
      failedDataCalls_.fetch_add(1);
      Pause(static_cast<uint32_t>(t.BlockMs));
    }
    // Pace: the next block cannot be complete before W has passed.
    const uint32_t elapsed = platform::GetTickCount() - lastBlockTick;
    if (elapsed < static_cast<uint32_t>(t.WaitMs) &&
        !Pause(static_cast<uint32_t>(t.WaitMs) - elapsed))
      break;
    // Room: a whole block must fit without touching unread frames.
    if (!ring_.WaitForRoom(n, static_cast<uint32_t>(t.BlockMs), Busy)) break;
  }
  Busy.store(false);
}

}  // namespace quillbox
