#include "device/AcquisitionSetup.h"

#include <cmath>

#include "device/Acquisition.h"
#include "device/DigitalIO.h"
#include "device/E270API.h"
#include "device/RateRule.h"
#include "driver/DriverState.h"
#include "platform/UiHost.h"

namespace quillbox {

int32_t ComputeRingSize(RecordInfo& r) {
  r.InputSizeKadrs = r.InputSizeRequest;
  r.InputSizeData = r.InputSizeKadrs;
  return r.InputSizeKadrs;
}

float GetRate(DriverState& s) {
  RecordInfo& r = s.Record;
  if (r.Rate > r.RateMax) r.Rate = r.RateMax;
  if (!(r.Rate > 0.0f)) return 0.0f;
  return ComputeRateSetting(r.Rate).Rate;
}

void SetRate(DriverState& s, float value) {
  if (s.Acq.Busy.load()) return;
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
    s.Acq.Busy.store(false);
    return false;
  }

  const RecordingPlan plan = MakeRecordingPlan(r, s.SyncMode, s.Sources, s.Modules, s.TTLSource);
  r.InputSizeKadrs = plan.RingFrames;
  r.InputSizeData = plan.RingFrames;
  // A thread of an earlier recording must be gone before its ring is replaced.
  s.Acq.Join();
  if (!s.Acq.Ring().Reset(r.InputChannels, r.InputCountChannels, plan.RingFrames)) {
    s.Adc.LastError = "Not enough memory for the frame ring!";
    s.Acq.Busy.store(false);
    return false;
  }

  s.Dev.RateDivider = plan.Rate.Divider;
  s.Dev.ControlByte = plan.ControlByte;
  // The result is not looked at: a module that missed the configuration shows up as missing
  // data blocks, which the thread survives.
  [[maybe_unused]] const int32_t configResult = E270SetConfig(&s.Dev, 0);
  if (!s.Acq.Start(s.Dev, plan)) {
    s.Adc.LastError = "Unable create thread!";
    StopAcquisition(s);
    return false;
  }
  if (s.Dio.DOStartEnabled) WriteOutputs(s.Dev, s.Dio, s.LastFailedCall, s.Dio.DOStartValue);
  return true;
}

void StopAcquisition(DriverState& s) {
  s.Acq.RequestStop();
  // The thread is gone before pending events run: a host re-entered from them may use the
  // device and the block buffer again.
  s.Acq.Join();
  platform::DoEvents();
  if (s.Dio.DOStopEnabled) WriteOutputs(s.Dev, s.Dio, s.LastFailedCall, s.Dio.DOStopValue);
}

}  // namespace quillbox
