// Whole recordings through IADC3 and the digital lines through IDIO, on the simulated bench at
// an accelerated clock. Each test runs in its own process (the driver state is process-wide).
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <random>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "device/DeviceChooser.h"
#include "driver/DriverState.h"
#include "driver/E_270.h"
#include "platform/Clock.h"
#include "quillbox/IADC3.h"
#include "quillbox/IDIO.h"
#include "sim/Bench.h"
#include "tests/support/RecordingSupport.h"

namespace quillbox::test {
namespace {

using namespace std::chrono_literals;

class RecordingDriverTest : public ::testing::Test {
 protected:
  void SetUp() override {
    unsetenv("QUILLBOX_DEVICE");
    sim::LoadBench(BenchOf(CounterModule()));
    platform::SetTimeScale(100.0);
    object_ = CreateE_270();
    // Settings an earlier test of this process may have saved.
    Adc().Rate(10.0f);
    Adc().InputSizeData(16384);
    ScanList({0});
    Dio().DOStartEnabled(false);
    Dio().DOStopEnabled(false);
  }
  void TearDown() override {
    object_.reset();
    platform::SetTimeScale(1.0);
    sim::LoadDefaultBench();
  }
  IADC3& Adc() { return *object_; }
  IDIO& Dio() { return *object_; }
  void Open() { ASSERT_TRUE(Adc().Test()) << Adc().LastError(); }
  void ScanList(std::vector<int16_t> channels) {
    Adc().InputChannels(BoundedArray<int16_t>::FromVector(std::move(channels)));
  }
  // Appends everything unread to `all` through GetData, `room` values at a time; returns the
  // number of values in `all`.
  std::size_t Drain(std::vector<int16_t>& all, int32_t room = 4096) {
    std::vector<int16_t> buffer(static_cast<std::size_t>(room));
    for (;;) {
      int32_t size = room, unread = 0;
      const int32_t frames = Adc().GetData(buffer[0], size, unread);
      all.insert(all.end(), buffer.begin(), buffer.begin() + size);
      if (frames == 0) return all.size();
    }
  }

  std::shared_ptr<E_270> object_;
};

// Frame numbers (channel 0) must step by `step`, and direct input 0 must match their low byte.
void ExpectContinuous(const std::vector<int16_t>& values, int step) {
  ASSERT_EQ(values.size() % 2, 0u);
  const std::size_t frames = values.size() / 2;
  for (std::size_t i = 0; i < frames; ++i) {
    EXPECT_EQ(values[2 * i + 1], values[2 * i] & 0xFF) << "frame " << i;
    if (i > 0 && values[2 * i] != values[2 * i - 2] + step) {
      ADD_FAILURE() << "frame " << i << ": " << values[2 * i - 2] << " then " << values[2 * i];
      return;
    }
  }
}

TEST_F(RecordingDriverTest, EveryFrameArrivesOnceInOrderAcrossManyWraps) {
  Open();
  ScanList({0, 16});
  Adc().Rate(100.0f);
  Adc().InputSizeData(64);
  ASSERT_TRUE(Adc().StartRecord());
  EXPECT_TRUE(Adc().Busy());
  std::mt19937 random(2024);
  std::vector<int16_t> values, buffer(512);
  while (values.size() / 2 < 3000) {
    SleepScaled(std::chrono::milliseconds(random() % 450));
    if (random() % 4 == 0) {
      const auto frames = Adc().InputData();
      ASSERT_EQ(frames.UBound(1), 1);
      EXPECT_EQ(frames(0, 0), 0);
      EXPECT_EQ(frames(1, 0), 16);
      for (int32_t c = 1; c <= frames.UBound(2); ++c) {
        values.push_back(frames(0, c));
        values.push_back(frames(1, c));
      }
    } else {
      int32_t size = static_cast<int32_t>(1 + random() % buffer.size()), unread = -1;
      const int32_t got = Adc().GetData(buffer[0], size, unread);
      EXPECT_EQ(size, 2 * got);
      EXPECT_EQ(unread, Adc().InputCountKadrs());
      EXPECT_EQ(Adc().InputCountData(), 2 * unread);
      values.insert(values.end(), buffer.begin(), buffer.begin() + size);
    }
  }
  Adc().StopRecord();
  EXPECT_FALSE(Adc().Busy());
  Drain(values, 7);
  ExpectContinuous(values, 1);
  EXPECT_EQ(values[0], 0);  // nothing before the first frame was lost either
}

TEST_F(RecordingDriverTest, RatesBelowFiveKeepEveryKthDeviceFrame) {
  platform::SetTimeScale(400.0);
  Open();
  ScanList({0, 16});
  Adc().Rate(3.0f);
  EXPECT_NEAR(Adc().Rate(), 3.00048f, 1e-5f);
  ASSERT_TRUE(Adc().StartRecord());
  std::vector<int16_t> values;
  ASSERT_TRUE(Eventually([&] { return Drain(values) / 2 >= 12; }));
  Adc().StopRecord();
  Drain(values);
  ExpectContinuous(values, 2);
}

TEST_F(RecordingDriverTest, ScanListLetTakesTheElementsWhateverTheBounds) {
  BoundedArray<int16_t> shifted(5, 7);
  shifted(5) = 3;
  shifted(6) = 40;
  shifted(7) = 16;
  Adc().InputChannels(shifted);
  EXPECT_EQ(Adc().InputCountChannels(), 3);
  EXPECT_EQ(Adc().InputChannels(), (BoundedArray<int16_t>{3, 40, 16}));
  // A channel number outside 0..31 records code 0.
  Open();
  ASSERT_TRUE(Adc().StartRecord());
  ASSERT_TRUE(Eventually([&] { return Adc().InputCountKadrs() >= 2; }));
  Adc().StopRecord();
  const auto frames = Adc().InputData();
  EXPECT_EQ(frames(1, 0), 40);
  for (int32_t c = 1; c <= frames.UBound(2); ++c) EXPECT_EQ(frames(1, c), 0);

  Adc().InputChannels(BoundedArray<int16_t>{});
  EXPECT_EQ(Adc().InputCountChannels(), 0);
  EXPECT_FALSE(Adc().StartRecord());
  EXPECT_EQ(Adc().LastError(), "No one channel selected!");
  EXPECT_TRUE(Adc().GetKadr().empty());
  // The old ring still holds its frames, delivered with its own scan list.
  EXPECT_EQ(Adc().InputData().UBound(1), 2);
}

TEST_F(RecordingDriverTest, SettingsWaitForTheRecordingToEnd) {
  Open();
  Adc().InputSizeData(1000);
  EXPECT_EQ(Adc().InputSizeData(), 1000);
  ASSERT_TRUE(Adc().StartRecord());
  EXPECT_FALSE(Adc().StartRecord());  // already running
  Adc().InputSizeData(500);
  Adc().Rate(50.0f);
  ScanList({1, 2});
  EXPECT_EQ(Adc().InputSizeData(), 1000);
  EXPECT_EQ(Adc().InputSizeKadrs(), 1000);
  EXPECT_EQ(Adc().Rate(), 10.0f);
  EXPECT_EQ(Adc().InputCountChannels(), 1);
  Adc().StopRecord();
  ASSERT_TRUE(Adc().StartRecord());
  EXPECT_EQ(Adc().InputSizeKadrs(), 500);
  Adc().StopRecord();
}

TEST_F(RecordingDriverTest, UnpluggedModuleKeepsTheDriverAliveAndStoppable) {
  Open();
  ScanList({0, 16});
  Adc().Rate(100.0f);
  ASSERT_TRUE(Adc().StartRecord());
  std::vector<int16_t> values;
  ASSERT_TRUE(Eventually([&] { return Drain(values) / 2 >= 100; }));
  sim::Unplug("usb0");
  SleepScaled(1000ms);
  EXPECT_TRUE(Adc().Busy());
  EXPECT_EQ(Adc().GetKadr().size(), 2u);
  const auto stopBegin = std::chrono::steady_clock::now();
  Adc().StopRecord();
  EXPECT_LT(std::chrono::steady_clock::now() - stopBegin, 1s);
  EXPECT_FALSE(Adc().Busy());
  Drain(values);
  ExpectContinuous(values, 1);
  // Plugged in again, the module opens and records anew.
  sim::Replug("usb0");
  Open();
  ASSERT_TRUE(Adc().StartRecord());
  ASSERT_TRUE(Eventually([&] { return Adc().InputCountKadrs() >= 20; }));
  Adc().StopRecord();
}

TEST_F(RecordingDriverTest, ReleasingTheDriverStopsTheRecordingAndItsThread) {
  Open();
  Dio().DOStopEnabled(true);
  Dio().DOStopValue(0x5A);
  ASSERT_TRUE(Adc().StartRecord());
  ASSERT_TRUE(Eventually([&] { return Adc().InputCountKadrs() >= 2; }));
  object_.reset();
  EXPECT_FALSE(State().Acq.Busy.load());
  EXPECT_FALSE(State().Acq.HasThread());
  EXPECT_EQ(sim::Status("usb0").outputs, 0x5A);
  EXPECT_FALSE(sim::Status("usb0").connected);
}

TEST_F(RecordingDriverTest, ExitDuringARecordingEndsTheThreadCleanly) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        Open();
        if (!Adc().StartRecord()) std::_Exit(3);
        SleepScaled(500ms);
        std::exit(0);  // no stop: the component's state joins the thread at exit
      },
      ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace quillbox::test
