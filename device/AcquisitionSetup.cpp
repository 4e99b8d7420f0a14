#include "device/AcquisitionSetup.h"

#include <cmath>

#include "device/AcquisitionThread.h"
#include "device/DigitalIO.h"
#include "device/E270API.h"
#include "device/FrameRing.h"
#include "device/RateRule.h"
#include "driver/DriverState.h"

namespace quillbox {

float GetRate(DriverState& s) {
  RecordInfo& r = s.Record;
  if (r.Rate > r.RateMax) r.Rate = r.RateMax;
  if (!(r.Rate > 0.0f)) return 0.0f;
  return ComputeRateSetting(r.Rate).Rate;
}

void SetRate(DriverState& s, float value) {
  if (s.Busy.load()) return;
  RecordInfo& r = s.Record;
  if (value > r.RateMax)
    r.Rate = r.RateMax;
  else if (value < 0.0f)
    r.Rate = std::fabs(value);
  else if (value > 0.0f)
    r.Rate = value;
}

bool StartAcquisition(DriverState& s) {
  RecordInfo& r = s.Record;
  const char* refusal = nullptr;
  if (!(r.Rate > 0.0f))
    refusal = "No Sampling Rate selected!";
  else if (r.InputCountChannels < 1)
    refusal = "No one channel selected!";
  else if (r.Rate > r.RateMax)
    refusal = "Reduce Sampling Rate!";
  if (refusal != nullptr) {
    s.Adc.LastError = refusal;
    s.Busy.store(false);
    return false;
  }

  ComputeRingSize(r);
  // The ring must take at least one block; a size the host asked for outside what can work is
  // replaced here, and InputSizeKadrs / InputSizeData report the size really used.
  const BlockTiming timing = ComputeBlockTiming(ComputeRateSetting(r.Rate).Divider, r.Rate);
  r.InputSizeKadrs = WorkableRingSize(r.InputSizeKadrs, r.InputCountChannels, timing.BlockFrames);
  r.InputSizeData = r.InputSizeKadrs;
  // A thread of an earlier recording must be gone before its ring is replaced.
  s.ThreadHandle.Join();
  if (!ResetRing(r)) {
    s.Adc.LastError = "Not enough memory for the frame ring!";
    s.Busy.store(false);
    return false;
  }

  r.FailedDataCalls.store(0);
  if (!StartAcquisitionThread(s)) return false;
  if (s.Dio.DOStartEnabled) WriteOutputs(s, s.Dio.DOStartValue);
  return true;
}

bool StartAcquisitionThread(DriverState& s) {
  s.Dev.RateDivider = ComputeRateSetting(s.Record.Rate).Divider;
  s.Dev.ControlByte = RecordingControlByte(s.SyncMode);
  // The result is not looked at: a module that missed the configuration shows up as missing
  // data blocks, which the thread survives.
  [[maybe_unused]] const int32_t configResult = E270SetConfig(&s.Dev, 0);

  AcquisitionPlan plan = MakeAcquisitionPlan(s);
  // Set before the thread exists, so the thread sees it from its first instruction.
  s.Busy.store(true);
  const bool started = s.ThreadHandle.Start([&s, p = std::move(plan)] { AcquisitionThread(s, p); },
                                            [&s] {
                                              s.Busy.store(false);
                                              WakeAcquisition(s);
                                            });
  if (!started) {
    s.Busy.store(false);
    s.Adc.LastError = "Unable create thread!";
    StopAcquisition(s);
    s.Busy.store(false);
    return false;
  }
  return s.Busy.load();
}

}  // namespace quillbox
