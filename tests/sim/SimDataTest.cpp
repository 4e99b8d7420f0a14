// Frames from the simulated module: block sizes, pacing on the scaled clock, the frame counter,
// signal synthesis, and data calls that end because the module goes away.
#include <atomic>
#include <chrono>
#include <cmath>
#include <thread>
#include <vector>

#include "SimTestSupport.h"
#include "platform/Clock.h"

namespace quillbox::sim::test {
namespace {

using namespace std::chrono_literals;

double ScaledMs() { return std::chrono::duration<double, std::milli>(platform::Now()).count(); }

class SimDataTest : public SimTest {
 protected:
  void SetUp() override {
    SimTest::SetUp();
    platform::SetTimeScale(40.0);
  }
  void TearDown() override {
    platform::SetTimeScale(1.0);
    SimTest::TearDown();
  }
  // Frames delivered by one call, read from the frame counter.
  int Fetch(Device& d, const std::string& attach, std::vector<DeviceFrame>* frames = nullptr) {
    DeviceFrame block[kBlockBufferFrames];
    const uint64_t before = Status(attach).frameCounter;
    EXPECT_EQ(E270GetDATA(&d, block), 0);
    const int n = static_cast<int>(Status(attach).frameCounter - before);
    if (frames != nullptr) frames->insert(frames->end(), block, block + n);
    return n;
  }
};

TEST_F(SimDataTest, BlockIsAFifthOfASecondOfFrames) {
  Device d = OpenUsb(0);
  const struct {
    uint16_t divider;
    int frames;
  } cases[] = {{250, 20}, {500, 10}, {2500, 2}, {4166, 1}, {100, 20}, {65535, 1}};
  for (const auto& c : cases) {
    if (c.divider == 65535) platform::SetTimeScale(1000.0);
    ASSERT_EQ(Configure(d, c.divider), 0);
    EXPECT_EQ(Fetch(d, "usb0"), c.frames) << "divider " << c.divider;
  }
  E270Close(&d);
}

TEST_F(SimDataTest, BlocksArriveAtTheFrameRateAndABacklogComesAtOnce) {
  platform::SetTimeScale(4.0);  // leaves room for a busy machine in the upper bounds
  Device d = OpenUsb(0);
  ASSERT_EQ(Configure(d, 2500), 0);  // 10 frames/s, 2 frames per block
  const double start = ScaledMs();
  std::vector<double> arrivals;
  for (int i = 0; i < 4; ++i) {
    Fetch(d, "usb0");
    arrivals.push_back(ScaledMs() - start);
  }
  for (int i = 0; i < 4; ++i) {
    EXPECT_GE(arrivals[i], 200.0 * (i + 1) - 2.0) << "block " << i;
    EXPECT_LE(arrivals[i], 200.0 * (i + 1) + 600.0) << "block " << i;
  }

  // A reader that comes back late gets the missed frames, none skipped, without waiting.
  platform::Sleep(1000);
  const double late = ScaledMs();
  std::vector<DeviceFrame> frames;
  for (int i = 0; i < 4; ++i) Fetch(d, "usb0", &frames);
  EXPECT_LT(ScaledMs() - late, 200.0);  // less than one block period
  ASSERT_EQ(frames.size(), 8u);
  for (size_t i = 0; i < frames.size(); ++i) EXPECT_EQ(FrameNumber(frames[i]), 8 + i);
  E270Close(&d);
}

TEST_F(SimDataTest, FrameCounterRunsOnAcrossCallsRestartsAndConnections) {
  Device d = OpenUsb(0);
  ASSERT_EQ(Configure(d, 250), 0);
  std::vector<DeviceFrame> frames;
  Fetch(d, "usb0", &frames);
  Fetch(d, "usb0", &frames);
  ASSERT_EQ(Configure(d, 500), 0);  // the clock restarts, numbering does not
  Fetch(d, "usb0", &frames);
  E270Close(&d);
  d = OpenUsb(0);
  DeviceFrame block[kBlockBufferFrames];
  EXPECT_NE(E270GetDATA(&d, block), 0);  // no frame clock before a configuration
  ASSERT_EQ(Configure(d, 250), 0);
  Fetch(d, "usb0", &frames);
  ASSERT_EQ(frames.size(), 70u);
  for (size_t i = 0; i < frames.size(); ++i) ASSERT_EQ(FrameNumber(frames[i]), i);
  EXPECT_EQ(Status("usb0").frameCounter, 70u);
  EXPECT_EQ(Status("usb0").getDataCalls, 5);
  E270Close(&d);
}

TEST_F(SimDataTest, CounterSignalsStepOncePerFrameAndWrap) {
  LoadBench(R"({"modules": [{"attach": "usb0", "slots": [{"type": 10}],
      "signals": {"m1": {"kind": "counter", "start": 65530}, "ad2": {"kind": "counter", "start": 250},
                  "ttl5": {"kind": "counter"}}}]})");
  Device d = OpenUsb(0);
  ASSERT_EQ(Configure(d, 250), 0);
  std::vector<DeviceFrame> frames;
  Fetch(d, "usb0", &frames);
  ASSERT_EQ(frames.size(), 20u);
  for (uint32_t i = 0; i < frames.size(); ++i) {
    EXPECT_EQ(Word(frames[i], 1), (65530 + i) & 0xFFFF);
    EXPECT_EQ(frames[i].Bytes[36 + 2], (250 + i) & 0xFF);
    EXPECT_EQ((frames[i].Bytes[45] >> 5) & 1, i & 1);
    EXPECT_EQ(frames[i].Bytes[45] & ~(1 << 5), 0);
  }
  E270Close(&d);
}

TEST_F(SimDataTest, ValuesBecomeCodesOfEachInputsRange) {
  LoadBench(R"({"modules": [{"attach": "usb0",
      "slots": [{"type": 10}, {"type": 11}, {"type": 40}, {"type": 21}, null, {"type": 9}],
      "signals": {
        "m0": {"kind": "constant", "value": 5}, "m1": {"kind": "constant", "value": -10},
        "m2": {"kind": "constant", "value": 20}, "m3": {"kind": "constant", "value": -1},
        "m4": {"kind": "constant", "value": 0}, "m5": {"kind": "constant", "value": 75},
        "m6": {"kind": "constant", "value": -10}, "m7": {"kind": "constant", "value": 99},
        "m10": {"kind": "constant", "value": 0.5},
        "ad0": {"kind": "constant", "value": 1.0}, "ad1": {"kind": "constant", "value": 4.096},
        "ad2": {"kind": "constant", "value": -1},
        "ttl0": {"kind": "constant", "value": 0.5}, "ttl1": {"kind": "constant", "value": 0.49},
        "ttl7": {"kind": "constant", "value": 5}}}]})");
  Device d = OpenUsb(0);
  ASSERT_EQ(Configure(d, 250), 0);
  std::vector<DeviceFrame> f;
  Fetch(d, "usb0", &f);
  ASSERT_FALSE(f.empty());
  EXPECT_EQ(Word(f[0], 0), 16384 + 8192);    // U10 +5 V
  EXPECT_EQ(Word(f[0], 1), 0);               // U10 -10 V
  EXPECT_EQ(Word(f[0], 2), 32768);           // U20 20 V
  EXPECT_EQ(Word(f[0], 3), 0x10000 - 1638);  // U20 -1 V: below zero, 0xC000.. encoding
  EXPECT_EQ(Word(f[0], 4), 8192);            // T 0 mV
  EXPECT_EQ(Word(f[0], 5), 8192 + 24576);    // T +75 mV
  EXPECT_EQ(Word(f[0], 6), 0);               // I10 -10 mA
  EXPECT_EQ(Word(f[0], 7), 49151);           // I10 far above its range: clamped
  EXPECT_EQ(Word(f[0], 8), 0);               // empty slot
  EXPECT_EQ(Word(f[0], 10), 16384 + 8192);   // U01 +0.5 V
  EXPECT_EQ(Word(f[0], 11), 16384);          // U01 without a signal: its zero
  EXPECT_EQ(f[0].Bytes[36], 62);             // 1 V = 62.5 codes, rounded to even
  EXPECT_EQ(f[0].Bytes[37], 255);
  EXPECT_EQ(f[0].Bytes[38], 0);
  EXPECT_EQ(f[0].Bytes[45], 0x81);
  EXPECT_EQ(f[0].Bytes[44], 0);
  EXPECT_EQ(f[0].Bytes[46], 0);
  E270Close(&d);
}

TEST_F(SimDataTest, WaveformsFollowTheDeviceTimeAndNoiseFollowsItsSeed) {
  const char* bench = R"({"modules": [{"attach": "usb0", "slots": [{"type": 11}],
      "signals": {
        "m0": {"kind": "sine", "offset": 10, "amplitude": 5, "frequency": 1, "phase": 90},
        "m1": {"kind": "noise", "offset": 10, "amplitude": 2, "seed": 42},
        "ad0": {"kind": "square", "offset": 2, "amplitude": 1, "frequency": 1, "duty": 0.25},
        "ttl0": {"kind": "square", "offset": 0.5, "amplitude": 0.5, "frequency": 2}}}]})";
  auto record = [&](const char* text) {
    LoadBench(text);
    Device d = OpenUsb(0);
    EXPECT_EQ(Configure(d, 250), 0);  // 100 frames per second
    std::vector<DeviceFrame> frames;
    for (int i = 0; i < 5; ++i) Fetch(d, "usb0", &frames);
    E270Close(&d);
    return frames;
  };
  const std::vector<DeviceFrame> f = record(bench);
  ASSERT_EQ(f.size(), 100u);
  EXPECT_EQ(Word(f[0], 0), 24576);   // 10 + 5 V at t = 0 (phase 90)
  EXPECT_EQ(Word(f[50], 0), 8192);   // 10 - 5 V half a second later
  EXPECT_EQ(Word(f[25], 0), 16384);  // 10 V at a quarter cycle
  EXPECT_EQ(f[0].Bytes[36], 188);    // 3 V while the first quarter of the cycle lasts
  EXPECT_EQ(f[24].Bytes[36], 188);
  EXPECT_EQ(f[25].Bytes[36], 62);  // then 1 V
  EXPECT_EQ(f[0].Bytes[45] & 1, 1);
  EXPECT_EQ(f[25].Bytes[45] & 1, 0);
  EXPECT_EQ(f[50].Bytes[45] & 1, 1);

  bool varies = false;
  for (const DeviceFrame& frame : f) {
    const int code = Word(frame, 1);
    EXPECT_GE(code, 16384 - 3277);  // within 10 +- 2 V of the U20 range
    EXPECT_LE(code, 16384 + 3277);
    varies = varies || code != Word(f[0], 1);
  }
  EXPECT_TRUE(varies);
  const std::vector<DeviceFrame> again = record(bench);
  for (size_t i = 0; i < f.size(); ++i) ASSERT_EQ(Word(again[i], 1), Word(f[i], 1));
  std::string otherSeed = bench;
  otherSeed.replace(otherSeed.find("42"), 2, "43");
  const std::vector<DeviceFrame> other = record(otherSeed.c_str());
  int same = 0;
  for (size_t i = 0; i < f.size(); ++i) same += Word(other[i], 1) == Word(f[i], 1) ? 1 : 0;
  EXPECT_LT(same, 10);
}

TEST_F(SimDataTest, WaitingDataCallEndsPromptlyWhenTheModuleGoesAway) {
  platform::SetTimeScale(1.0);
  for (const char* how : {"unplug", "close", "new bench"}) {
    Device d = OpenUsb(0);
    ASSERT_EQ(Configure(d, 65535), 0);  // one frame every 2.6 s
    std::atomic<int32_t> result{-1};
    const auto start = std::chrono::steady_clock::now();
    std::thread reader([&] {
      DeviceFrame block[kBlockBufferFrames];
      result = E270GetDATA(&d, block);
    });
    std::this_thread::sleep_for(30ms);
    const std::string what = how;
    if (what == "unplug") Unplug("usb0");
    if (what == "close") {
      Device copy = d;
      E270Close(&copy);
    }
    if (what == "new bench") LoadDefaultBench();
    reader.join();
    EXPECT_NE(result.load(), 0) << how;
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1500ms) << how;
    E270Close(&d);
    LoadDefaultBench();
  }
}

TEST_F(SimDataTest, UnplugAfterTimeoutEndsTheConnection) {
  platform::SetTimeScale(10.0);
  LoadBench(R"({"modules": [{"attach": "usb0", "faults": {"unplug_after_s": 0.5}}]})");
  Device d = OpenUsb(0);
  const double opened = ScaledMs();
  ASSERT_EQ(Configure(d, 250), 0);
  DeviceFrame block[kBlockBufferFrames];
  int blocks = 0;
  while (E270GetDATA(&d, block) == 0) ++blocks;
  const double gone = ScaledMs() - opened;
  EXPECT_GE(gone, 490.0);
  EXPECT_LE(gone, 2000.0);
  EXPECT_GE(blocks, 1);
  EXPECT_LE(blocks, 2);  // the third block would end after the module is gone
  EXPECT_FALSE(Status("usb0").plugged);
  EXPECT_EQ(platform::OpenDeviceNode(NodeName(0)), -1);
  E270Close(&d);
  Replug("usb0");
  d = OpenUsb(0);
  EXPECT_EQ(E270ReadEEPROM(&d, 0), 0);  // the timer starts again with the new connection
  E270Close(&d);
}

TEST_F(SimDataTest, HostCallsRunWhileTheAcquisitionThreadWaitsForData) {
  Device d = OpenUsb(0);
  ASSERT_EQ(Configure(d, 250), 0);
  std::atomic<bool> stop{false};
  std::atomic<int> blocks{0};
  std::thread acquisition([&] {
    DeviceFrame block[kBlockBufferFrames];
    while (!stop && E270GetDATA(&d, block) == 0) ++blocks;
  });
  uint8_t out = 0, in = 0, aux = 0;
  for (int i = 0; i < 50; ++i) {
    EXPECT_EQ(E270SetDIO(&d, static_cast<uint8_t>(i), aux), 0);
    EXPECT_EQ(E270GetDIO(&d, &out, &in, &aux), 0);
    EXPECT_EQ(out, i);
    Status("usb0");
    std::this_thread::sleep_for(1ms);
  }
  const auto giveUp = std::chrono::steady_clock::now() + 5s;
  while (blocks < 3 && std::chrono::steady_clock::now() < giveUp) std::this_thread::sleep_for(1ms);
  EXPECT_GE(blocks.load(), 3);
  stop = true;
  Device closer = d;
  E270Close(&closer);
  acquisition.join();
  EXPECT_EQ(Status("usb0").frameCounter, static_cast<uint64_t>(blocks.load()) * 20);
}

}  // namespace
}  // namespace quillbox::sim::test
