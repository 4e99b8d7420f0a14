#include "device/FrameRing.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <stdexcept>

#include "platform/Signal.h"

namespace quillbox {
namespace {

int32_t NextPos(int32_t pos, int32_t frames) { return pos >= frames ? 1 : pos + 1; }

}  // namespace

int32_t WorkableRingSize(int32_t requested, int32_t channels, int32_t blockFrames) {
  const int64_t lowest = int64_t{std::max(blockFrames, 1)} + 1;
  const int64_t highest = std::max<int64_t>(kMaxRingValues / std::max(channels, 1) - 1, lowest);
  return static_cast<int32_t>(std::clamp<int64_t>(requested, lowest, highest));
}

bool FrameRing::Reset(const BoundedArray<int16_t>& scanList, int32_t channels, int32_t frames) {
  channels = std::max<int32_t>(channels, 0);
  frames = std::max<int32_t>(frames, 0);
  try {
    values_ = BoundedArray2D<int16_t>(0, channels - 1, 0, frames);
  } catch (const std::bad_alloc&) {
    values_ = {};
  } catch (const std::length_error&) {
    values_ = {};
  }
  const bool allocated = values_.Extent1() == static_cast<std::size_t>(channels) &&
                         values_.Extent2() == static_cast<std::size_t>(frames) + 1;
  if (allocated) {
    for (int32_t j = 0; j < channels; ++j)
      values_(j, 0) = scanList.Contains(j) ? scanList(j) : int16_t{0};
  }
  lastCount_.store(0);
  std::lock_guard lock(mutex_);
  readPos_ = 1;
  writePos_ = 0;
  empty_ = true;
  return allocated;
}

int32_t FrameRing::UnreadLocked() const {
  const int32_t frames = Frames();
  const int32_t R = readPos_;
  const int32_t W = writePos_;
  if (frames <= 0 || Channels() <= 0 || W <= 0 || empty_) return 0;
  if (R < 1 || R > frames || W > frames) return 0;
  if (R == W) return 1;
  if (R < W) return W - R + 1;
  return frames - R + 1 + W;
}

int32_t FrameRing::CountUnread() {
  int32_t count = 0;
  {
    std::lock_guard lock(mutex_);
    count = UnreadLocked();
  }
  lastCount_.store(count);
  return count;
}

int32_t FrameRing::CopyOut(int32_t from, int32_t count, int16_t* dest) const {
  const int32_t frames = Frames();
  const std::size_t channels = static_cast<std::size_t>(Channels());
  while (count > 0) {
    const int32_t run = std::min(count, frames - from + 1);
    std::memcpy(dest, values_.Column(from),
                static_cast<std::size_t>(run) * channels * sizeof(int16_t));
    dest += static_cast<std::size_t>(run) * channels;
    count -= run;
    from += run;
    if (from > frames) from = 1;
  }
  return from;
}

void FrameRing::CommitRead(int32_t readPos) {
  {
    std::lock_guard lock(mutex_);
    readPos_ = readPos;
    empty_ = readPos == NextPos(writePos_, Frames());
  }
  roomFreed_.notify_all();
}

BoundedArray2D<int16_t> FrameRing::ReadAll() {
  int32_t readPos = 1;
  int32_t unread = 0;
  {
    std::lock_guard lock(mutex_);
    readPos = readPos_;
    unread = UnreadLocked();
  }
  const int32_t channels = Channels();
  BoundedArray2D<int16_t> result(0, channels - 1, 0, unread);
  std::memcpy(result.Column(0), values_.Column(0),
              static_cast<std::size_t>(channels) * sizeof(int16_t));
  if (unread > 0) {
    CommitRead(CopyOut(readPos, unread, result.Column(1)));
    lastCount_.store(0);
  }
  return result;
}

int32_t FrameRing::Read(int16_t* data, int32_t& dataSize, int32_t& unreadAfter) {
  const int32_t channels = Channels();
  int32_t written = 0;
  if (Allocated() && data != nullptr && dataSize > 0) {
    int32_t readPos = 1;
    int32_t unread = 0;
    {
      std::lock_guard lock(mutex_);
      readPos = readPos_;
      unread = UnreadLocked();
    }
    written = std::min(dataSize / channels, unread);
    if (written > 0) CommitRead(CopyOut(readPos, written, data));
  }
  dataSize = written * std::max(channels, 0);
  unreadAfter = CountUnread();
  return written;
}

int32_t FrameRing::Store(const ConversionPlan& plan, const DeviceFrame* block, int32_t n,
                         int32_t decimation, int32_t& phase) {
  const int32_t frames = Frames();
  if (frames <= 0 || n <= 0 || plan.Channels() != Channels()) return 0;
  // Only the writer moves writePos_, so its own copy is current.
  int32_t w = 0;
  {
    std::lock_guard lock(mutex_);
    w = writePos_;
  }
  int32_t stored = 0;
  for (int32_t i = 0; i < n; ++i) {
    if (phase == 0) {
      w = NextPos(w, frames);
      plan.Convert(block[i], values_.Column(w));
      ++stored;
    }
    if (++phase >= decimation) phase = 0;
  }
  if (stored > 0) {
    {
      std::lock_guard lock(mutex_);
      writePos_ = w;
      empty_ = false;
    }
    stored_.Notify();
  }
  return stored;
}

bool FrameRing::WaitForRoom(int32_t blockFrames, uint32_t recheckMs,
                            const std::atomic<bool>& running) {
  std::unique_lock lock(mutex_);
  for (;;) {
    if (!running.load()) return false;
    const int32_t unread = UnreadLocked();
    lastCount_.store(unread);
    if (unread < Frames() - blockFrames) return true;
    platform::WaitFor(roomFreed_, lock, recheckMs,
                      [&] { return !running.load() || UnreadLocked() < Frames() - blockFrames; });
  }
}

bool FrameRing::WaitForData(uint32_t ms) {
  return platform::WaitFor(stored_, ms, [this] { return CountUnread() > 0; });
}

void FrameRing::WakeWriter() {
  // Taking the lock orders the wake after the writer's last look at its stop condition.
  { std::lock_guard lock(mutex_); }
  roomFreed_.notify_all();
}

}  // namespace quillbox
