// The frame ring on its own: sizes, counts, the two readers across the wrap, the writer's
// decimation, and a writer and a reader racing on the indices.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

#include "device/FrameRing.h"
#include "device/RecordState.h"
#include "device/SampleConversion.h"

namespace quillbox::test {
namespace {

// Direct input 0..3 of a frame carry the four bytes of a frame number.
DeviceFrame NumberedFrame(uint32_t number) {
  DeviceFrame f{};
  for (int i = 0; i < 4; ++i) f.Bytes[36 + i] = static_cast<uint8_t>(number >> (8 * i));
  return f;
}

std::vector<SampleSource> NumberSources() {
  std::vector<SampleSource> sources(4);
  for (int i = 0; i < 4; ++i) {
    sources[static_cast<std::size_t>(i)].kind = SampleSource::Direct;
    sources[static_cast<std::size_t>(i)].byte = static_cast<uint8_t>(36 + i);
  }
  return sources;
}

uint32_t NumberOf(const int16_t* frame) {
  uint32_t n = 0;
  for (int i = 0; i < 4; ++i) n |= static_cast<uint32_t>(frame[i] & 0xFF) << (8 * i);
  return n;
}

class FrameRingTest : public ::testing::Test {
 protected:
  // A ring of `frames` with the scan list `channels`, reset.
  void Make(int32_t frames, std::initializer_list<int16_t> channels) {
    r_.InputChannels = BoundedArray<int16_t>(channels);
    r_.InputCountChannels = static_cast<int16_t>(channels.size());
    r_.InputSizeRequest = frames;
    ComputeRingSize(r_);
    ASSERT_TRUE(ResetRing(r_));
  }
  // Writes frame columns directly: element (j, w) = 100 * w + j.
  void FillColumns() {
    for (int32_t w = 1; w <= r_.RingFrames(); ++w)
      for (int32_t j = 0; j < r_.RingChannels(); ++j)
        r_.FrameRing(j, w) = static_cast<int16_t>(100 * w + j);
  }
  void SetPositions(int32_t read, int32_t write, bool empty) {
    std::lock_guard lock(r_.RingMutex);
    r_.RingReadPos = read;
    r_.RingWritePos = write;
    r_.RingEmpty = empty;
  }
  int32_t ReadPos() {
    std::lock_guard lock(r_.RingMutex);
    return r_.RingReadPos;
  }
  RecordInfo r_;
};

TEST_F(FrameRingTest, SizeFollowsTheRequestAndWorkableSizesAreBounded) {
  r_.InputSizeRequest = 1000;
  EXPECT_EQ(ComputeRingSize(r_), 1000);
  EXPECT_EQ(r_.InputSizeKadrs, 1000);
  EXPECT_EQ(r_.InputSizeData, 1000);
  EXPECT_EQ(WorkableRingSize(16384, 1, 20), 16384);
  EXPECT_EQ(WorkableRingSize(20, 1, 20), 21);  // one block plus one frame
  EXPECT_EQ(WorkableRingSize(0, 4, 2), 3);
  EXPECT_EQ(WorkableRingSize(-5, 4, 2), 3);
  EXPECT_EQ(WorkableRingSize(2147483647, 32, 20), kMaxRingValues / 32 - 1);
  EXPECT_EQ(WorkableRingSize(2147483647, 32767, 20), kMaxRingValues / 32767 - 1);
}

TEST_F(FrameRingTest, ResetPutsTheScanListInColumnZeroAndEmptiesTheRing) {
  Make(8, {3, 7});
  EXPECT_EQ(r_.RingFrames(), 8);
  EXPECT_EQ(r_.RingChannels(), 2);
  EXPECT_EQ(r_.FrameRing(0, 0), 3);
  EXPECT_EQ(r_.FrameRing(1, 0), 7);
  EXPECT_EQ(CountUnreadFrames(r_), 0);
  const auto all = ReadAllFrames(r_);
  EXPECT_EQ(all.UBound(1), 1);
  EXPECT_EQ(all.UBound(2), 0);
}

TEST_F(FrameRingTest, CountsCoverOneFrameRunsAndTheWrap) {
  Make(8, {0});
  SetPositions(1, 1, false);
  EXPECT_EQ(CountUnreadFrames(r_), 1);
  SetPositions(2, 6, false);
  EXPECT_EQ(CountUnreadFrames(r_), 5);
  SetPositions(7, 2, false);
  EXPECT_EQ(CountUnreadFrames(r_), 4);
  EXPECT_EQ(r_.InputCountKadrs.load(), 4);
  SetPositions(7, 2, true);
  EXPECT_EQ(CountUnreadFrames(r_), 0);
  SetPositions(1, 0, false);  // nothing written yet
  EXPECT_EQ(CountUnreadFrames(r_), 0);
}

TEST_F(FrameRingTest, ReadFramesCopiesAcrossTheWrapWithPartialRoom) {
  Make(8, {5});
  FillColumns();
  SetPositions(7, 2, false);  // unread: 7, 8, 1, 2
  std::vector<int16_t> host(3, -1);
  int32_t size = 3, unread = -1;
  EXPECT_EQ(ReadFrames(r_, host.data(), size, unread), 3);
  EXPECT_EQ(host, (std::vector<int16_t>{700, 800, 100}));
  EXPECT_EQ(size, 3);
  EXPECT_EQ(unread, 1);
  EXPECT_EQ(ReadPos(), 2);
  EXPECT_EQ(r_.InputCountKadrs.load(), 1);
  size = 3;
  EXPECT_EQ(ReadFrames(r_, host.data(), size, unread), 1);
  EXPECT_EQ(host[0], 200);
  EXPECT_EQ(size, 1);
  EXPECT_EQ(unread, 0);
  EXPECT_EQ(ReadPos(), 3);
}

TEST_F(FrameRingTest, ReadFramesTakesWholeFramesOnly) {
  Make(8, {3, 7});
  FillColumns();
  SetPositions(1, 3, false);
  std::vector<int16_t> host(5, -1);
  int32_t size = 5, unread = 0;
  EXPECT_EQ(ReadFrames(r_, host.data(), size, unread), 2);
  EXPECT_EQ(size, 4);
  EXPECT_EQ(unread, 1);
  EXPECT_EQ(host, (std::vector<int16_t>{100, 101, 200, 201, -1}));
  // Less room than one frame, or none at all: nothing copied, the count still refreshed.
  for (int32_t room : {1, 0, -7}) {
    size = room;
    unread = -1;
    EXPECT_EQ(ReadFrames(r_, host.data(), size, unread), 0);
    EXPECT_EQ(size, 0);
    EXPECT_EQ(unread, 1);
  }
}

TEST_F(FrameRingTest, ReadAllFramesReturnsTheUnreadRunsOnce) {
  Make(8, {3, 7});
  FillColumns();
  SetPositions(6, 1, false);  // unread: 6, 7, 8, 1
  const auto all = ReadAllFrames(r_);
  ASSERT_EQ(all.UBound(1), 1);
  ASSERT_EQ(all.UBound(2), 4);
  EXPECT_EQ(all(0, 0), 3);
  EXPECT_EQ(all(1, 0), 7);
  const int expected[4] = {6, 7, 8, 1};
  for (int c = 1; c <= 4; ++c) {
    EXPECT_EQ(all(0, c), 100 * expected[c - 1]);
    EXPECT_EQ(all(1, c), 100 * expected[c - 1] + 1);
  }
  EXPECT_EQ(ReadPos(), 2);
  EXPECT_EQ(r_.InputCountKadrs.load(), 0);
  EXPECT_EQ(ReadAllFrames(r_).UBound(2), 0);
}

TEST_F(FrameRingTest, WithoutARingNothingIsDelivered) {
  r_.InputChannels = BoundedArray<int16_t>{4, 9};
  r_.InputCountChannels = 2;
  const auto all = ReadAllFrames(r_);
  ASSERT_EQ(all.UBound(2), 0);
  EXPECT_EQ(all(0, 0), 4);
  EXPECT_EQ(all(1, 0), 9);
  int16_t host[4] = {};
  int32_t size = 4, unread = -1;
  EXPECT_EQ(ReadFrames(r_, host, size, unread), 0);
  EXPECT_EQ(size, 0);
  EXPECT_EQ(unread, 0);
  // An empty scan list and no ring: an array without rows.
  r_.InputChannels = {};
  r_.InputCountChannels = 0;
  EXPECT_EQ(ReadAllFrames(r_).Extent1(), 0u);
}

TEST_F(FrameRingTest, TheRingKeepsTheScanListItWasRecordedWith) {
  Make(8, {3, 7});
  FillColumns();
  SetPositions(1, 2, false);
  r_.InputChannels = BoundedArray<int16_t>{1, 2, 3};
  r_.InputCountChannels = 3;
  r_.InputSizeRequest = 2;
  ComputeRingSize(r_);
  std::vector<int16_t> host(6, -1);
  int32_t size = 6, unread = 0;
  EXPECT_EQ(ReadFrames(r_, host.data(), size, unread), 2);
  EXPECT_EQ(size, 4);
  EXPECT_EQ(host, (std::vector<int16_t>{100, 101, 200, 201, -1, -1}));
}

TEST_F(FrameRingTest, StoreBlockKeepsEveryKthFrameAcrossBlocks) {
  Make(16, {16, 17, 18, 19});
  const auto sources = NumberSources();
  int32_t phase = 0;
  DeviceFrame block[3];
  uint32_t number = 0;
  int32_t stored = 0;
  for (int b = 0; b < 4; ++b) {
    for (auto& f : block) f = NumberedFrame(number++);
    stored += StoreBlock(r_, sources.data(), block, 3, 2, phase);
  }
  EXPECT_EQ(stored, 6);  // frames 0, 2, 4, 6, 8, 10 of 12
  const auto all = ReadAllFrames(r_);
  ASSERT_EQ(all.UBound(2), 6);
  for (int32_t c = 1; c <= 6; ++c) EXPECT_EQ(NumberOf(&all(0, c)), uint32_t(2 * (c - 1))) << c;
  std::lock_guard lock(r_.RingMutex);
  EXPECT_TRUE(r_.HasLatestFrame);
  EXPECT_EQ(r_.LatestFrame.Bytes[36], 11);
}

// A writer that waits for room like the acquisition thread and a reader that takes frames at
// random through both readers: every frame arrives once and in order, and no "empty" from the
// reader hides a frame the writer just published.
TEST_F(FrameRingTest, ConcurrentWriterAndReaderLoseNothing) {
  Make(48, {16, 17, 18, 19});
  constexpr uint32_t kFrames = 60000;
  constexpr int32_t kBlock = 20;
  const auto sources = NumberSources();
  std::atomic<bool> writerDone{false}, abandon{false};
  std::thread writer([&] {
    DeviceFrame block[kBlock];
    int32_t phase = 0;
    for (uint32_t next = 0; next < kFrames && !abandon.load();) {
      {
        std::unique_lock lock(r_.RingMutex);
        r_.RingSignal.wait(lock, [&] {
          return abandon.load() || UnreadFramesLocked(r_) < r_.RingFrames() - kBlock;
        });
      }
      for (auto& f : block) f = NumberedFrame(next++);
      StoreBlock(r_, sources.data(), block, kBlock, 1, phase);
    }
    writerDone.store(true);
  });
  std::mt19937 random(12345);
  std::vector<int16_t> host(std::size_t{4} * 64);
  uint32_t expected = 0;
  bool inOrder = true;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (!(writerDone.load() && CountUnreadFrames(r_) == 0)) {
    if (std::chrono::steady_clock::now() > deadline) break;
    if (random() % 3 == 0) {
      const auto all = ReadAllFrames(r_);
      for (int32_t c = 1; c <= all.UBound(2); ++c) inOrder &= NumberOf(&all(0, c)) == expected++;
    } else {
      int32_t size = static_cast<int32_t>(4 * (1 + random() % 64)), unread = 0;
      const int32_t got = ReadFrames(r_, host.data(), size, unread);
      for (int32_t i = 0; i < got; ++i)
        inOrder &= NumberOf(&host[4 * static_cast<std::size_t>(i)]) == expected++;
    }
    if (random() % 8 == 0) std::this_thread::yield();
  }
  abandon.store(true);
  { std::lock_guard lock(r_.RingMutex); }
  r_.RingSignal.notify_all();
  writer.join();
  EXPECT_TRUE(inOrder);
  EXPECT_EQ(expected, kFrames);
}

}  // namespace
}  // namespace quillbox::test
