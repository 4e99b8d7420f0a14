#pragma once
// The ring of recorded frames, shared by one writer (the acquisition thread) and the host's
// readers. Positions are 1-based frame columns; column 0 holds the scan list the ring was
// recorded with. The ring is never completely full (the writer keeps a block's room free), so a
// read position right after the write position means "nothing unread".
//
// The indices sit behind the ring's own lock. The bulk copies into and out of the ring run
// outside it: the writer fills only free columns, the readers copy only published ones. Every
// read that frees room signals the writer's room wait and nothing else.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "device/SampleConversion.h"
#include "e270/E270API.h"
#include "platform/Signal.h"
#include "quillbox/BoundedArray.h"

namespace quillbox {

// Upper limit of a ring's Integers (channels x (frames + 1)): 32 MiB, at 32 channels and
// 100 frames per second about 87 minutes of frames.
constexpr int64_t kMaxRingValues = int64_t{1} << 24;

// The ring size a recording really uses for a requested size: at least one block plus one
// frame (a smaller ring could never take a block), at most what kMaxRingValues allows.
int32_t WorkableRingSize(int32_t requested, int32_t channels, int32_t blockFrames);

class FrameRing {
 public:
  // Allocates `channels` x `frames` values, all 0, with `scanList` in column 0, and empties the
  // ring. False (ring left unallocated) when the memory cannot be had. Only while no writer runs.
  bool Reset(const BoundedArray<int16_t>& scanList, int32_t channels, int32_t frames);

  int32_t Channels() const { return static_cast<int32_t>(values_.Extent1()); }
  int32_t Frames() const {
    return values_.Extent2() > 0 ? static_cast<int32_t>(values_.Extent2()) - 1 : 0;
  }
  bool Allocated() const { return Channels() > 0 && Frames() > 0; }

  // Unread frames now; also kept as the last count.
  int32_t CountUnread();
  // Unread frames as last counted by either side (not kept current by the writer's stores).
  int32_t LastCount() const { return lastCount_.load(); }

  // All unread frames: (0 .. channels - 1, 0 .. C), column 0 the scan list. Needs a ring.
  BoundedArray2D<int16_t> ReadAll();
  // Copies whole frames into `data` (room for `dataSize` values), at most the unread ones.
  // `dataSize` becomes the values written, `unreadAfter` the frames still unread; the result
  // is the frames written.
  int32_t Read(int16_t* data, int32_t& dataSize, int32_t& unreadAfter);

  // Writer: converts every k-th of the `n` frames of `block` (k = `decimation`, the running
  // `phase` carries over between blocks) through `plan` into the ring and publishes them. The
  // caller has made sure n frames are free.
  int32_t Store(const ConversionPlan& plan, const DeviceFrame* block, int32_t n, int32_t decimation,
                int32_t& phase);
  // Writer: waits until `blockFrames` frames fit without touching unread ones, counting again
  // at least every `recheckMs` scaled milliseconds; false when `running` went False first.
  bool WaitForRoom(int32_t blockFrames, uint32_t recheckMs, const std::atomic<bool>& running);
  // Wakes a writer's room wait so that it looks at its stop condition again.
  void WakeWriter();
  // Reader: waits until unread frames are there, at most `ms` scaled milliseconds; true when
  // they are. Every Store that publishes frames wakes it.
  bool WaitForData(uint32_t ms);

 private:
  int32_t UnreadLocked() const;
  int32_t CopyOut(int32_t from, int32_t count, int16_t* dest) const;
  void CommitRead(int32_t readPos);

  BoundedArray2D<int16_t> values_;
  std::mutex mutex_;
  std::condition_variable roomFreed_;
  int32_t readPos_ = 1;   // next frame the host reads
  int32_t writePos_ = 0;  // frame written last; 0 before the first
  bool empty_ = true;
  std::atomic<int32_t> lastCount_{0};
  platform::Signal stored_;  // given once per stored block
};

}  // namespace quillbox
