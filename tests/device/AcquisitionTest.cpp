// Digital I/O access, starting and stopping acquisitions and the single reads, against the
// simulated module.
#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <limits>
#include <thread>
#include <vector>

#include "device/Acquisition.h"
#include "device/AcquisitionSetup.h"
#include "device/DigitalIO.h"
#include "device/RateRule.h"
#include "device/SingleRead.h"
#include "tests/support/RecordingSupport.h"

namespace quillbox::test {
namespace {

using namespace std::chrono_literals;

using DigitalIOTest = RecordingTest;

TEST_F(DigitalIOTest, OutputsKeepTheWholeValueInputsFillTheLowByte) {
  Open();
  S().Dio.DIOAuxByte = 0;  // whatever the record held, the byte just reported goes back
  WriteOutputs(S(), S().Dio, -2);
  EXPECT_EQ(Module().outputs, 0xFE);
  EXPECT_EQ(Module().aux, 0x3C);
  EXPECT_EQ(ReadOutputs(S().Dio), -2);
  S().Dio.DIValue = 0x12300;
  sim::SetDigitalInputs("usb0", 0x8F);
  EXPECT_EQ(ReadInputs(S(), S().Dio), 0x1238F);
}

TEST_F(DigitalIOTest, FailuresAreSilentAndChangeNothing) {
  Open();
  WriteOutputs(S(), S().Dio, 0x42);
  sim::SetDigitalInputs("usb0", 0x81);
  ASSERT_EQ(ReadInputs(S(), S().Dio), 0x81);
  sim::Unplug("usb0");
  EXPECT_EQ(ReadInputs(S(), S().Dio), 0);
  EXPECT_EQ(S().Dio.DIValue, 0x81);
  WriteOutputs(S(), S().Dio, 5);
  EXPECT_EQ(ReadOutputs(S().Dio), 0x42);
  EXPECT_EQ(S().LastFailedCall, "E270GetDIO");
}

class AcquisitionTest : public RecordingTest {
 protected:
  void SetUp() override {
    RecordingTest::SetUp();
    platform::SetTimeScale(100.0);
  }
  // Unread frames right now.
  int32_t Unread() { return S().Acq.Ring().CountUnread(); }
};

TEST_F(AcquisitionTest, RefusalsComeInOrderAndTouchNothing) {
  Open();
  const int configs = Module().setConfigCalls;
  const struct {
    float rate;
    int16_t channels;
    const char* text;
  } cases[] = {
      {0.0f, 0, "No Sampling Rate selected!"},
      {-1.0f, 1, "No Sampling Rate selected!"},
      {std::numeric_limits<float>::quiet_NaN(), 1, "No Sampling Rate selected!"},
      {150.0f, 0, "No one channel selected!"},
      {150.0f, 1, "Reduce Sampling Rate!"},
  };
  for (const auto& c : cases) {
    S().Record.Rate = c.rate;
    S().Record.InputCountChannels = c.channels;
    S().Acq.Busy.store(true);  // a refusal leaves Busy False whatever it was
    EXPECT_FALSE(Start());
    EXPECT_EQ(S().Adc.LastError, c.text);
    EXPECT_FALSE(S().Acq.Busy.load());
  }
  EXPECT_EQ(Module().setConfigCalls, configs);
  EXPECT_FALSE(S().Acq.HasThread());
}

TEST_F(AcquisitionTest, RateSetterAndGetter) {
  SetRate(S().Record, S().Acq, 100.5f);
  EXPECT_EQ(S().Record.Rate, 100.0f);
  SetRate(S().Record, S().Acq, -150.0f);
  EXPECT_EQ(S().Record.Rate, 150.0f);
  // A start before any read of the rate is refused; the getter stores RateMax back.
  Open();
  EXPECT_FALSE(Start());
  EXPECT_EQ(S().Adc.LastError, "Reduce Sampling Rate!");
  EXPECT_EQ(GetRate(S().Record), 100.0f);
  EXPECT_EQ(S().Record.Rate, 100.0f);
  SetRate(S().Record, S().Acq, 0.0f);
  SetRate(S().Record, S().Acq, std::numeric_limits<float>::quiet_NaN());
  EXPECT_EQ(S().Record.Rate, 100.0f);
  // A stored rate that is no rate at all reads as 0.
  S().Record.Rate = -4.0f;
  EXPECT_EQ(GetRate(S().Record), 0.0f);
}

TEST_F(AcquisitionTest, StartProgramsTheModuleOnceAndRunsOnAWorkableRing) {
  Open();
  const int configs = Module().setConfigCalls;
  S().Record.Rate = 100.0f;  // blocks of 20
  S().Record.InputSizeRequest = 5;
  ASSERT_TRUE(Start());
  EXPECT_TRUE(S().Acq.Busy.load());
  EXPECT_EQ(Module().setConfigCalls, configs + 1);
  EXPECT_EQ(Module().lastRateDivider, 250);
  EXPECT_EQ(S().Adc.LastError, "");
  EXPECT_EQ(S().Record.InputSizeKadrs, 21);  // one block plus one frame
  EXPECT_EQ(S().Record.InputSizeData, 21);
  ASSERT_TRUE(Eventually([&] { return Unread() == 20; }));
  Stop();
  EXPECT_FALSE(S().Acq.Busy.load());
  EXPECT_FALSE(S().Acq.HasThread());
  EXPECT_EQ(Unread(), 20);  // the ring keeps its frames after the stop
}

TEST_F(AcquisitionTest, ControlBytePerSyncModeAndSingleReadsGoBackToPlain) {
  Open();
  const int controlBytes[] = {0xC7, 0xE7, 0xF7};  // off, rising, falling
  for (int16_t mode : {int16_t(0), int16_t(1), int16_t(2)}) {
    S().SyncMode = mode;
    S().Record.Rate = 50.0f;  // divider 500, the single reads' own
    ASSERT_TRUE(Start());
    EXPECT_EQ(Module().lastControlByte, controlBytes[mode]);
    EXPECT_EQ(Module().lastRateDivider, 500);
    Stop();
    ReadChannelNow(S(), S().ReadCache, S().Acq, 0);
    EXPECT_EQ(Module().lastControlByte, 0xC7);
    EXPECT_EQ(Module().lastRateDivider, 500);
  }
}

TEST_F(AcquisitionTest, StartAndStopOutputs) {
  Open();
  WriteOutputs(S(), S().Dio, 0x10);
  S().Dio.DOStartValue = 3;
  S().Dio.DOStopValue = 0x1C4;
  ASSERT_TRUE(Start());
  Stop();
  EXPECT_EQ(Module().outputs, 0x10);  // not enabled: lines untouched

  // A refused start applies no start output; a stop without a recording still applies its own.
  S().Dio.DOStartEnabled = true;
  S().Dio.DOStopEnabled = true;
  S().Record.InputCountChannels = 0;
  EXPECT_FALSE(Start());
  EXPECT_EQ(Module().outputs, 0x10);
  Stop();
  EXPECT_EQ(Module().outputs, 0xC4);
  EXPECT_EQ(ReadOutputs(S().Dio), 0x1C4);
}

TEST_F(AcquisitionTest, ThreadThatCannotBeCreatedRunsTheStopSequence) {
  Open();
  S().Dio.DOStartEnabled = true;
  S().Dio.DOStartValue = 1;
  S().Dio.DOStopEnabled = true;
  S().Dio.DOStopValue = 2;
  AcquisitionWorker::SetCreationFails(true);
  EXPECT_FALSE(Start());
  EXPECT_EQ(S().Adc.LastError, "Unable create thread!");
  EXPECT_FALSE(S().Acq.Busy.load());
  EXPECT_EQ(Module().outputs, 2);
  AcquisitionWorker::SetCreationFails(false);
  EXPECT_TRUE(Start());
  EXPECT_EQ(Module().outputs, 1);
}

TEST_F(AcquisitionTest, FailingDataCallsAreRetriedAboutOncePerBlockPeriod) {
  Json m = CounterModule();
  m["faults"] = {{"data_calls_fail", true}};
  sim::LoadBench(BenchOf(m));
  platform::SetTimeScale(20.0);  // enough real time per block period to count calls
  Open();
  const auto start = platform::Now();
  ASSERT_TRUE(Start());
  std::this_thread::sleep_for(platform::ToReal(std::chrono::milliseconds(2000)));
  const int calls = Module().getDataCalls;
  const auto stopBegin = std::chrono::steady_clock::now();
  Stop();
  EXPECT_LT(std::chrono::steady_clock::now() - stopBegin, 1s);
  const double scaledMs =
      std::chrono::duration<double, std::milli>(platform::Now() - start).count();
  // One call per 200 ms block period, not a busy loop.
  EXPECT_GE(calls, 2);
  EXPECT_LE(calls, scaledMs / 200.0 + 3);
  EXPECT_EQ(Unread(), 0);
}

TEST_F(AcquisitionTest, FullRingWaitsWithoutSpinning) {
  Open();
  S().Record.Rate = 100.0f;
  S().Record.InputSizeRequest = 41;
  ASSERT_TRUE(Start());
  ASSERT_TRUE(Eventually([&] { return Unread() == 40; }));
  const int calls = Module().getDataCalls;
  const std::clock_t before = std::clock();  // CPU time of the whole process
  SleepScaled(5000ms);
  const double cpuMs = 1e3 * static_cast<double>(std::clock() - before) / CLOCKS_PER_SEC;
  // 50 real ms asleep; a spinning waiter would burn all of it.
  EXPECT_LT(cpuMs, 25.0);
  EXPECT_EQ(Module().getDataCalls, calls);
  EXPECT_EQ(Unread(), 40);
  Stop();
}

TEST_F(AcquisitionTest, AHostWaitEndsWithEachBlock) {
  platform::SetTimeScale(1.0);  // a block period of 200 real ms tells a wake-up from a time-out
  Open();
  S().Record.Rate = 100.0f;
  ASSERT_TRUE(Start());
  FrameRing& ring = S().Acq.Ring();
  std::vector<int16_t> data(static_cast<std::size_t>(ring.Channels()) *
                            static_cast<std::size_t>(ring.Frames()));
  for (int block = 0; block < 2; ++block) {
    const auto begin = std::chrono::steady_clock::now();
    ASSERT_TRUE(ring.WaitForData(10000));
    EXPECT_LT(std::chrono::steady_clock::now() - begin, 2s) << "block " << block;
    auto size = static_cast<int32_t>(data.size());
    int32_t unread = 0;
    EXPECT_GT(ring.Read(data.data(), size, unread), 0);
  }
  Stop();
  // Nothing comes any more: the wait takes its whole time instead of returning into a spin.
  const auto begin = std::chrono::steady_clock::now();
  EXPECT_FALSE(ring.WaitForData(50));
  EXPECT_GE(std::chrono::steady_clock::now() - begin, 50ms);
}

TEST_F(AcquisitionTest, SingleReadsShareOneBlockForAWhile) {
  platform::SetTimeScale(2.0);  // the 150 ms window must not pass between two reads by accident
  Open();
  const int calls = Module().getDataCalls;
  const int16_t first =
      ReadChannelNow(S(), S().ReadCache, S().Acq, 16);  // direct input 0 counts frames (low byte)
  EXPECT_EQ(Module().lastRateDivider, 500);
  EXPECT_EQ(Module().getDataCalls, calls + 1);
  std::this_thread::sleep_for(platform::ToReal(10ms));
  const int16_t second = ReadChannelNow(S(), S().ReadCache, S().Acq, 16);
  EXPECT_EQ(Module().getDataCalls, calls + 1);
  EXPECT_EQ(second, (first + 1) & 0xFF);
  // The frame read has its own place in the same block.
  SetScanList({16, 0});
  BoundedArray<int16_t> values;
  EXPECT_EQ(ReadFrameNow(S(), S().ReadCache, S().Acq, S().Record, values), 2);
  EXPECT_EQ(Module().getDataCalls, calls + 2);
  EXPECT_EQ(values.UBound(), 1);
  // After 150 ms the block is stale.
  std::this_thread::sleep_for(platform::ToReal(200ms));
  ReadChannelNow(S(), S().ReadCache, S().Acq, 16);
  EXPECT_EQ(Module().getDataCalls, calls + 3);
  // Ten reads use up a block of ten frames.
  const int before = Module().getDataCalls;
  for (int i = 0; i < 10; ++i) ReadChannelNow(S(), S().ReadCache, S().Acq, 16);
  EXPECT_EQ(Module().getDataCalls, before + 1);
}

TEST_F(AcquisitionTest, SingleReadsDuringARecordingLeaveTheModuleAlone) {
  Open();
  BoundedArray<int16_t> values;
  SetScanList({16, 26, 40});
  ASSERT_TRUE(Start());
  const int configs = Module().setConfigCalls;
  ASSERT_TRUE(Eventually([&] { return Unread() >= 2; }));
  EXPECT_EQ(ReadChannelNow(S(), S().ReadCache, S().Acq, 26), 1000);  // TTL line 2 is high
  EXPECT_EQ(ReadFrameNow(S(), S().ReadCache, S().Acq, S().Record, values), 3);
  EXPECT_EQ(values(1), 1000);
  EXPECT_EQ(values(2), 0);  // channel 40 does not exist
  EXPECT_EQ(Module().setConfigCalls, configs);
  EXPECT_EQ(Module().lastRateDivider, 2500);
}

}  // namespace
}  // namespace quillbox::test
