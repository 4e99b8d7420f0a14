#include "device/FrameRing.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <stdexcept>

namespace quillbox {
namespace {

int32_t NextPos(int32_t pos, int32_t frames) { return pos >= frames ? 1 : pos + 1; }

// Read position and unread count, taken together.
struct Snapshot {
  int32_t readPos = 1;
  int32_t unread = 0;
};

Snapshot TakeSnapshot(RecordInfo& r) {
  std::lock_guard lock(r.RingMutex);
  return {r.RingReadPos, UnreadFramesLocked(r)};
}

// Copies `count` frames from ring position `from` on (wrapping) to `dest`; returns the read
// position after them.
int32_t CopyOut(const RecordInfo& r, int32_t from, int32_t count, int16_t* dest) {
  const int32_t frames = r.RingFrames();
  const std::size_t channels = static_cast<std::size_t>(r.RingChannels());
  while (count > 0) {
    const int32_t run = std::min(count, frames - from + 1);
    std::memcpy(dest, r.FrameRing.Column(from),
                static_cast<std::size_t>(run) * channels * sizeof(int16_t));
    dest += static_cast<std::size_t>(run) * channels;
    count -= run;
    from += run;
    if (from > frames) from = 1;
  }
  return from;
}

// Stores the new read position; the ring is empty when it has caught up with the writer.
void CommitRead(RecordInfo& r, int32_t readPos) {
  {
    std::lock_guard lock(r.RingMutex);
    r.RingReadPos = readPos;
    r.RingEmpty = readPos == NextPos(r.RingWritePos, r.RingFrames());
  }
  r.RingSignal.notify_all();
}

}  // namespace

int32_t ComputeRingSize(RecordInfo& r) {
  r.InputSizeKadrs = r.InputSizeRequest;
  r.InputSizeData = r.InputSizeKadrs;
  return r.InputSizeKadrs;
}

int32_t WorkableRingSize(int32_t requested, int32_t channels, int32_t blockFrames) {
  const int64_t lowest = int64_t{std::max(blockFrames, 1)} + 1;
  const int64_t highest = std::max<int64_t>(kMaxRingValues / std::max(channels, 1) - 1, lowest);
  return static_cast<int32_t>(std::clamp<int64_t>(requested, lowest, highest));
}

bool ResetRing(RecordInfo& r) {
  const int32_t channels = std::max<int32_t>(r.InputCountChannels, 0);
  const int32_t frames = std::max<int32_t>(r.InputSizeKadrs, 0);
  try {
    r.FrameRing = BoundedArray2D<int16_t>(0, channels - 1, 0, frames);
  } catch (const std::bad_alloc&) {
    r.FrameRing = {};
  } catch (const std::length_error&) {
    r.FrameRing = {};
  }
  const bool allocated = r.FrameRing.Extent1() == static_cast<std::size_t>(channels) &&
                         r.FrameRing.Extent2() == static_cast<std::size_t>(frames) + 1;
  if (allocated) {
    for (int32_t j = 0; j < channels; ++j)
      r.FrameRing(j, 0) = r.InputChannels.Contains(j) ? r.InputChannels(j) : int16_t{0};
  }
  r.InputCountKadrs.store(0);
  std::lock_guard lock(r.RingMutex);
  r.RingReadPos = 1;
  r.RingWritePos = 0;
  r.RingEmpty = true;
  r.HasLatestFrame = false;
  return allocated;
}

int32_t UnreadFramesLocked(const RecordInfo& r) {
  const int32_t frames = r.RingFrames();
  const int32_t R = r.RingReadPos;
  const int32_t W = r.RingWritePos;
  if (frames <= 0 || r.RingChannels() <= 0 || W <= 0 || r.RingEmpty) return 0;
  if (R < 1 || R > frames || W > frames) return 0;
  if (R == W) return 1;
  if (R < W) return W - R + 1;
  return frames - R + 1 + W;
}

int32_t CountUnreadFrames(RecordInfo& r) {
  int32_t count = 0;
  {
    std::lock_guard lock(r.RingMutex);
    count = UnreadFramesLocked(r);
  }
  r.InputCountKadrs.store(count);
  return count;
}

BoundedArray2D<int16_t> ReadAllFrames(RecordInfo& r) {
  if (r.RingChannels() <= 0 || r.RingFrames() <= 0) {
    // No recording yet: the scan-list column only.
    const int32_t channels = std::max<int32_t>(r.InputCountChannels, 0);
    BoundedArray2D<int16_t> result(0, channels - 1, 0, 0);
    for (int32_t j = 0; j < channels; ++j)
      result(j, 0) = r.InputChannels.Contains(j) ? r.InputChannels(j) : int16_t{0};
    return result;
  }
  const Snapshot snap = TakeSnapshot(r);
  const int32_t channels = r.RingChannels();
  BoundedArray2D<int16_t> result(0, channels - 1, 0, snap.unread);
  std::memcpy(result.Column(0), r.FrameRing.Column(0),
              static_cast<std::size_t>(channels) * sizeof(int16_t));
  if (snap.unread > 0) {
    const int32_t readPos = CopyOut(r, snap.readPos, snap.unread, result.Column(1));
    CommitRead(r, readPos);
    r.InputCountKadrs.store(0);
  }
  return result;
}

int32_t ReadFrames(RecordInfo& r, int16_t* data, int32_t& dataSize, int32_t& inputCountData) {
  const int32_t channels = r.RingChannels();
  int32_t written = 0;
  if (channels > 0 && r.RingFrames() > 0 && data != nullptr && dataSize > 0) {
    const Snapshot snap = TakeSnapshot(r);
    written = std::min(dataSize / channels, snap.unread);
    if (written > 0) CommitRead(r, CopyOut(r, snap.readPos, written, data));
  }
  dataSize = written * std::max(channels, 0);
  inputCountData = CountUnreadFrames(r);
  return written;
}

int32_t StoreBlock(RecordInfo& r, const SampleSource* sources, const DeviceFrame* block, int32_t n,
                   int32_t decimation, int32_t& phase) {
  const int32_t frames = r.RingFrames();
  const int32_t channels = r.RingChannels();
  if (frames <= 0 || n <= 0) return 0;
  // Only this thread writes RingWritePos, so its own copy is current.
  int32_t w = r.RingWritePos;
  int32_t stored = 0;
  for (int32_t i = 0; i < n; ++i) {
    if (phase == 0) {
      w = NextPos(w, frames);
      int16_t* column = r.FrameRing.Column(w);
      const DeviceFrame& frame = block[i];
      for (int32_t j = 0; j < channels; ++j) column[j] = ConvertSample(frame, sources[j]);
      ++stored;
    }
    if (++phase >= decimation) phase = 0;
  }
  std::lock_guard lock(r.RingMutex);
  if (stored > 0) {
    r.RingWritePos = w;
    r.RingEmpty = false;
  }
  r.LatestFrame = block[n - 1];
  r.HasLatestFrame = true;
  return stored;
}

}  // namespace quillbox
