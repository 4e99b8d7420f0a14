// Frames from the simulated module: pacing on the scaled clock, the frame counter, and signal
// synthesis and encoding.
#include <chrono>
#include <vector>

#include "SimTestSupport.h"
#include "platform/Clock.h"

namespace quillbox::sim::test {
namespace {

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

TEST_F(SimDataTest, BlocksArriveAtTheFrameRateAndABacklogComesAtOnce) {
  platform::SetTimeScale(4.0);  // leaves room for a busy machine in the upper bounds
  Device d = OpenUsb(0);
  ASSERT_EQ(Configure(d, 2500), 0);  // 10 frames/s, 2 frames per block
  const double start = ScaledMs();
  for (int i = 0; i < 4; ++i) {
    Fetch(d, "usb0");
    const double arrival = ScaledMs() - start;
    EXPECT_GE(arrival, 200.0 * (i + 1) - 2.0) << "block " << i;
    EXPECT_LE(arrival, 200.0 * (i + 1) + 600.0) << "block " << i;
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

TEST_F(SimDataTest, ValuesBecomeCodesOfEachInputsRange) {
  LoadBench(R"({"modules": [{"attach": "usb0",
      "slots": [{"type": 10}, {"type": 11}, {"type": 40}, {"type": 21}, null, {"type": 9}],
      "signals": {
        "m0": {"kind": "constant", "value": 5}, "m3": {"kind": "constant", "value": -1},
        "m5": {"kind": "constant", "value": 75}, "m7": {"kind": "constant", "value": 99},
        "ad0": {"kind": "constant", "value": 1.0}, "ad2": {"kind": "constant", "value": -1},
        "ttl0": {"kind": "constant", "value": 0.5}, "ttl1": {"kind": "constant", "value": 0.49},
        "ttl7": {"kind": "constant", "value": 5}}}]})");
  Device d = OpenUsb(0);
  ASSERT_EQ(Configure(d, 250), 0);
  std::vector<DeviceFrame> f;
  Fetch(d, "usb0", &f);
  ASSERT_FALSE(f.empty());
  const struct {
    int channel, code;  // mezzanine channel, or 100 + byte of the frame
  } codes[] = {
      {0, 16384 + 8192},    // U10 +5 V
      {3, 0x10000 - 1638},  // U20 -1 V: below zero, 0xC000.. encoding
      {5, 8192 + 24576},    // T +75 mV: unipolar range with its own zero
      {7, 49151},           // I10 far above its range: clamped
      {8, 0},               // empty slot
      {11, 16384},          // U01 without a signal: its zero
      {136, 62},            // 1 V = 62.5 codes, rounded to even
      {138, 0},             // -1 V clamped
      {145, 0x81},          // TTL lines 0 and 7 high, line 1 below the threshold
  };
  for (const auto& c : codes) {
    EXPECT_EQ(c.channel < 100 ? Word(f[0], c.channel) : f[0].Bytes[c.channel - 100], c.code)
        << c.channel;
  }
  E270Close(&d);
}

TEST_F(SimDataTest, SignalsFollowTheDeviceTimeCountersWrapAndNoiseRepeatsWithItsSeed) {
  const char* bench = R"({"modules": [{"attach": "usb0", "slots": [{"type": 11}, {"type": 10}],
      "signals": {
        "m0": {"kind": "sine", "offset": 10, "amplitude": 5, "frequency": 1, "phase": 90},
        "m1": {"kind": "noise", "offset": 10, "amplitude": 2, "seed": 42},
        "m2": {"kind": "counter", "start": 65530}, "ad2": {"kind": "counter", "start": 250},
        "ad0": {"kind": "square", "offset": 2, "amplitude": 1, "frequency": 1, "duty": 0.25}}}]})";
  auto record = [this, bench] {
    LoadBench(bench);
    Device d = OpenUsb(0);
    EXPECT_EQ(Configure(d, 250), 0);  // 100 frames per second
    std::vector<DeviceFrame> frames;
    for (int i = 0; i < 5; ++i) Fetch(d, "usb0", &frames);
    E270Close(&d);
    return frames;
  };
  const std::vector<DeviceFrame> f = record();
  ASSERT_EQ(f.size(), 100u);
  EXPECT_EQ(Word(f[0], 0), 24576);   // 10 + 5 V at t = 0 (phase 90)
  EXPECT_EQ(Word(f[50], 0), 8192);   // 10 - 5 V half a second later
  EXPECT_EQ(Word(f[25], 0), 16384);  // 10 V at a quarter cycle
  EXPECT_EQ(f[0].Bytes[36], 188);    // 3 V while the first quarter of the cycle lasts
  EXPECT_EQ(f[24].Bytes[36], 188);
  EXPECT_EQ(f[25].Bytes[36], 62);            // then 1 V
  for (uint32_t i = 0; i < f.size(); ++i) {  // counters step once per frame and wrap
    EXPECT_EQ(Word(f[i], 2), (65530 + i) & 0xFFFF);
    EXPECT_EQ(f[i].Bytes[38], (250 + i) & 0xFF);
  }

  bool varies = false;
  for (const DeviceFrame& frame : f) {
    const int code = Word(frame, 1);
    EXPECT_GE(code, 16384 - 3277);  // within 10 +- 2 V of the U20 range
    EXPECT_LE(code, 16384 + 3277);
    varies = varies || code != Word(f[0], 1);
  }
  EXPECT_TRUE(varies);
  const std::vector<DeviceFrame> again = record();
  for (size_t i = 0; i < f.size(); ++i) ASSERT_EQ(Word(again[i], 1), Word(f[i], 1));
}

}  // namespace
}  // namespace quillbox::sim::test
