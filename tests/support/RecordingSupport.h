#pragma once
// Helpers of the recording tests: a bench whose inputs count frames, a driver state that starts
// like a freshly loaded component with its defaults applied, and bounded waits.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>

#include <nlohmann/json.hpp>

#include "channels/ChannelList.h"
#include "device/AcquisitionSetup.h"
#include "device/AcquisitionWorker.h"
#include "device/Connection.h"
#include "device/DeviceChooser.h"
#include "driver/DriverState.h"
#include "e270/E270API.h"
#include "platform/Clock.h"
#include "sim/Bench.h"

namespace quillbox::test {

using Json = nlohmann::json;

// One module on usb0. Slot 0 holds a "U20" (zero offset), so mezzanine channel 0 reads its raw
// counter (frame number) as the code while it stays below 32768; slot 1 is empty; slot 2 holds a
// "U10" (offset 16384). Direct input 0 counts too (low byte of the frame number); TTL line 2 is
// high, the others low. Digital inputs 0xA5, aux byte 0x3C.
inline Json CounterModule() {
  return {
      {"attach", "usb0"},
      {"slots",
       {{{"type", 11}}, nullptr, {{"type", 10}}, nullptr, nullptr, nullptr, nullptr, nullptr}},
      {"signals",
       {{"m0", {{"kind", "counter"}}},
        {"m4", {{"kind", "constant"}, {"value", 5.0}}},
        {"ad0", {{"kind", "counter"}}},
        {"ad3", {{"kind", "constant"}, {"value", 1.0}}},
        {"ttl2", {{"kind", "constant"}, {"value", 1}}}}},
      {"dio", {{"inputs", 0xA5}, {"aux", 0x3C}}},
  };
}

inline std::string BenchOf(const Json& module) { return Json{{"modules", {module}}}.dump(); }

// Waits (real time, bounded) until `pred` holds.
template <class Pred>
bool Eventually(Pred pred, std::chrono::milliseconds limit = std::chrono::seconds(10)) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!pred()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

inline void SleepScaled(std::chrono::milliseconds ms) {
  std::this_thread::sleep_for(platform::ToReal(ms));
}

// Every test starts with the counter bench, a fresh driver state with the driver's defaults
// and the real clock; it leaves the built-in bench and no thread behind.
class RecordingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    unsetenv("QUILLBOX_DEVICE");
    SetDeviceChooser({});
    sim::LoadBench(BenchOf(CounterModule()));
    state_ = std::make_unique<DriverState>();
    DriverState& s = *state_;
    s.Adc.ADCName = "E-270";
    s.Adc.ChannelsCount = 32;
    s.Sources = DefaultChannelSources();
    s.Record.RateMax = 100.0f;
    s.Record.Rate = 10.0f;
    s.Record.InputSizeRequest = 16384;
    s.Record.InputCountChannels = 1;
    s.Record.InputChannels = BoundedArray<int16_t>{0};
    E270Init(&s.Dev);
  }
  void TearDown() override {
    AcquisitionWorker::SetCreationFails(false);
    if (state_->Acq.Busy.load()) Stop();
    state_->Acq.Join();
    DeviceClose(*state_);
    platform::SetTimeScale(1.0);
    sim::LoadDefaultBench();
  }

  DriverState& S() { return *state_; }
  void Open() { ASSERT_NE(DeviceOpen(S()), 0) << S().Adc.LastError; }
  bool Start() { return StartAcquisition(S(), S().Record, S().SyncMode, S().Acq); }
  void Stop() { StopAcquisition(S(), S().Acq); }
  void SetScanList(std::initializer_list<int16_t> channels) {
    S().Record.InputChannels = BoundedArray<int16_t>(channels);
    S().Record.InputCountChannels = static_cast<int16_t>(channels.size());
  }
  static sim::ModuleStatus Module() { return sim::Status("usb0"); }

 private:
  std::unique_ptr<DriverState> state_;
};

}  // namespace quillbox::test
