#pragma once
// One recording: its plan, computed once per start, and the Acquisition that runs it. The
// acquisition thread fetches blocks of raw frames, keeps every k-th, converts the scan-list
// channels into the frame ring and publishes the newest raw frame, paced by the device's block
// period. It never spins: it waits on its own stop signal between blocks and on the ring's
// "room freed" signal when the ring is full, and it ends when it sees Busy cleared.

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>

#include "channels/ChannelTypes.h"
#include "device/AcquisitionWorker.h"
#include "device/FrameRing.h"
#include "device/RateRule.h"
#include "device/RecordState.h"
#include "device/SampleConversion.h"
#include "e270/E270API.h"
#include "platform/Signal.h"

namespace quillbox {

// Scaled milliseconds the thread waits before its first data call.
constexpr uint32_t kAcquisitionStartDelayMs = 100;

// Everything a recording runs by, resolved on the host thread before it starts.
struct RecordingPlan {
  RateSetting Rate;  // divider and decimation k
  BlockTiming Timing;
  uint8_t ControlByte = 0;
  int32_t RingFrames = 0;     // the ring size really used
  ConversionPlan Conversion;  // one entry per scan-list entry, in ring order
};

// The plan for the host's settings, sync mode and channel sources as they are now.
RecordingPlan MakeRecordingPlan(const RecordInfo& r, int16_t syncMode,
                                const ChannelSources& sources, const ModuleSlots& modules,
                                const SourceInfo& ttl);

class Acquisition {
 public:
  Acquisition() = default;
  ~Acquisition() = default;  // the worker (last member) stops and joins a running thread
  Acquisition(const Acquisition&) = delete;
  Acquisition& operator=(const Acquisition&) = delete;

  // True from a start until the recording is asked to stop (or its thread is refused).
  std::atomic<bool> Busy{false};

  FrameRing& Ring() { return ring_; }
  // Data calls of the running recording that failed since its last good block.
  int32_t FailedDataCalls() const { return failedDataCalls_.load(); }

  // Runs `plan` on `device` in a new thread (an earlier one is joined first). The ring must
  // have been reset for the plan. False, with Busy False, when no thread could be made.
  bool Start(Device& device, const RecordingPlan& plan);
  // Busy = False and wakes the thread's waits; it leaves at the latest after its data call.
  void RequestStop();
  // Waits for the thread to end (it must have been asked to stop). No-op without a thread.
  void Join() { worker_.Join(); }
  bool HasThread() const { return worker_.Joinable(); }

  // The newest raw frame of the running recording; all zero before its first block.
  DeviceFrame LatestFrame();
  // Filled by data calls: the thread's while a recording runs, the single reads' otherwise.
  DeviceFrame* BlockBuffer() { return blockBuffer_.data(); }

 private:
  void Run(Device& device, const RecordingPlan& plan);
  // Waits up to `ms` scaled milliseconds or until a stop is requested; false when stopped.
  bool Pause(uint32_t ms);

  FrameRing ring_;
  std::atomic<int32_t> failedDataCalls_{0};
  std::array<DeviceFrame, kBlockBufferFrames> blockBuffer_{};

  std::mutex latestMutex_;
  DeviceFrame latestFrame_{};
  bool hasLatestFrame_ = false;

  platform::Signal stop_;  // a stop request; nothing else wakes the pace wait

  // Keep it last: destroying it stops and joins the thread, which uses the members above.
  AcquisitionWorker worker_;
};

}  // namespace quillbox
