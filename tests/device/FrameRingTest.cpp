// The frame ring on its own: workable sizes, the writer's conversion, and a
// writer and a reader racing on the indices through both readers. (Random partial reads across
// many wraps and decimation are tried through the driver, in the recording tests.)
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <random>
#include <thread>
#include <vector>

#include "device/FrameRing.h"
#include "device/SampleConversion.h"

namespace quillbox::test {
namespace {

// Direct inputs 0..3 of a frame carry the four bytes of a frame number.
DeviceFrame NumberedFrame(uint32_t number) {
  DeviceFrame f{};
  for (int i = 0; i < 4; ++i) f.Bytes[36 + i] = static_cast<uint8_t>(number >> (8 * i));
  return f;
}

ConversionPlan NumberPlan() {
  std::vector<SampleSource> sources(4);
  for (int i = 0; i < 4; ++i) {
    sources[static_cast<std::size_t>(i)].kind = SampleSource::Direct;
    sources[static_cast<std::size_t>(i)].byte = static_cast<uint8_t>(36 + i);
  }
  return ConversionPlan(sources);
}

uint32_t NumberOf(const int16_t* frame) {
  uint32_t n = 0;
  for (int i = 0; i < 4; ++i) n |= static_cast<uint32_t>(frame[i] & 0xFF) << (8 * i);
  return n;
}

TEST(FrameRing, WorkableSizesTakeABlockAndStayInsideTheLimit) {
  const struct {
    int32_t requested, channels, block, expected;
  } cases[] = {
      {16384, 1, 20, 16384},
      {20, 1, 20, 21},  // one block plus one frame
      {-5, 4, 2, 3},
      {2147483647, 32, 20, static_cast<int32_t>(kMaxRingValues / 32 - 1)},
  };
  for (const auto& c : cases)
    EXPECT_EQ(WorkableRingSize(c.requested, c.channels, c.block), c.expected) << c.requested;
}

// A scan list of every source kind, in a mixed order, through one plan: each ring column holds
// ConvertSample of its own source, on random frames.
TEST(FrameRing, StoreConvertsEveryColumnLikeTheSingleReads) {
  std::vector<SampleSource> sources(7);
  sources[0] = {SampleSource::Ttl, 0, 0x04, false, 0, 1000};
  sources[1] = {SampleSource::Mezzanine, 6, 0, false, 16384, 0};
  sources[2] = {SampleSource::Direct, 38, 0, false, 0, 0};
  sources[3] = {SampleSource::None, 0, 0, false, 0, 0};
  sources[4] = {SampleSource::Mezzanine, 4, 0, true, 8192, 0};  // empty slot
  sources[5] = {SampleSource::Mezzanine, 34, 0, false, -70000, 0};
  sources[6] = {SampleSource::Ttl, 0, 0x80, false, 0, -3};
  FrameRing ring;
  ASSERT_TRUE(ring.Reset(BoundedArray<int16_t>(0, 6), 7, 50));
  const ConversionPlan plan(sources);
  std::mt19937 random(7);
  std::vector<DeviceFrame> block(20);
  for (DeviceFrame& f : block)
    for (uint8_t& b : f.Bytes) b = static_cast<uint8_t>(random());
  int32_t phase = 0;
  ASSERT_EQ(ring.Store(plan, block.data(), 20, 1, phase), 20);
  const auto all = ring.ReadAll();
  ASSERT_EQ(all.UBound(2), 20);
  for (int32_t c = 1; c <= 20; ++c)
    for (int32_t j = 0; j < 7; ++j)
      ASSERT_EQ(all(j, c), ConvertSample(block[static_cast<std::size_t>(c - 1)], sources[j]))
          << "frame " << c << " column " << j;
}

// A writer that waits for room like the acquisition thread and a reader that takes frames at
// random through both readers: every frame arrives once and in order, and no "empty" from the
// reader hides a frame the writer just published.
TEST(FrameRing, ConcurrentWriterAndReaderLoseNothing) {
  FrameRing ring;
  ASSERT_TRUE(ring.Reset(BoundedArray<int16_t>{16, 17, 18, 19}, 4, 48));
  constexpr uint32_t kFrames = 60000;
  constexpr int32_t kBlock = 20;
  const ConversionPlan plan = NumberPlan();
  std::atomic<bool> running{true}, writerDone{false};
  std::thread writer([&] {
    DeviceFrame block[kBlock];
    int32_t phase = 0;
    for (uint32_t next = 0; next < kFrames && ring.WaitForRoom(kBlock, 1000, running);) {
      for (auto& f : block) f = NumberedFrame(next++);
      ring.Store(plan, block, kBlock, 1, phase);
    }
    writerDone.store(true);
  });
  std::mt19937 random(12345);
  std::vector<int16_t> host(std::size_t{4} * 64);
  uint32_t expected = 0;
  bool inOrder = true;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (!(writerDone.load() && ring.CountUnread() == 0)) {
    if (std::chrono::steady_clock::now() > deadline) break;
    if (random() % 3 == 0) {
      const auto all = ring.ReadAll();
      for (int32_t c = 1; c <= all.UBound(2); ++c) inOrder &= NumberOf(&all(0, c)) == expected++;
    } else {
      int32_t size = static_cast<int32_t>(4 * (1 + random() % 64)), unread = 0;
      const int32_t got = ring.Read(host.data(), size, unread);
      for (int32_t i = 0; i < got; ++i)
        inOrder &= NumberOf(&host[4 * static_cast<std::size_t>(i)]) == expected++;
    }
    if (random() % 8 == 0) std::this_thread::yield();
  }
  running.store(false);
  ring.WakeWriter();
  writer.join();
  EXPECT_TRUE(inOrder);
  EXPECT_EQ(expected, kFrames);
}

}  // namespace
}  // namespace quillbox::test
