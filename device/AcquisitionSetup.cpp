#include "device/AcquisitionSetup.h"

#include <cmath>

#include "device/Acquisition.h"
#include "device/DigitalIO.h"
#include "device/RateRule.h"
#include "device/VendorCalls.h"
#include "platform/UiHost.h"

namespace quillbox {

int32_t ComputeRingSize(RecordInfo& r) {
  r.InputSizeKadrs = r.InputSizeRequest;
  r.InputSizeData = r.InputSizeKadrs;
  return r.InputSizeKadrs;
}

float GetRate(RecordInfo& r) {
  if (r.Rate > r.RateMax) r.Rate = r.RateMax;
  if (!(r.Rate > 0.0f)) return 0.0f;
  return ComputeRateSetting(r.Rate).Rate;
}

void SetRate(RecordInfo& r, const Acquisition& acq, float value) {
  if (acq.Busy.load()) return;
  if (value > r.RateMax)
    r.Rate = r.RateMax;
  else if (value < 0.0f)
    r.Rate = std::fabs(value);
  else if (value > 0.0f)
    r.Rate = value;
}

bool StartAcquisition(ModuleRecord& m, RecordInfo& r, int16_t syncMode, Acquisition& acq) {
  const char* refusal = nullptr;
  if (!(r.Rate > 0.0f))
    refusal = "No Sampling Rate selected!";
  else if (r.InputCountChannels < 1)
    refusal = "No one channel selected!";
  else if (r.Rate > r.RateMax)
    refusal = "Reduce Sampling Rate!";
  if (refusal != nullptr) {
    m.Adc.LastError = refusal;
    acq.Busy.store(false);
    return false;
  }

  const RecordingPlan plan = MakeRecordingPlan(r, syncMode, m.Sources, m.Modules, m.TTLSource);
  r.InputSizeKadrs = plan.RingFrames;
  r.InputSizeData = plan.RingFrames;
  // A thread of an earlier recording must be gone before its ring is replaced.
  acq.Join();
  if (!acq.Ring().Reset(r.InputChannels, r.InputCountChannels, plan.RingFrames)) {
    m.Adc.LastError = "Not enough memory for the frame ring!";
    acq.Busy.store(false);
    return false;
  }

  m.Dev.RateDivider = plan.Rate.Divider;
  m.Dev.ControlByte = plan.ControlByte;
  // The result is not looked at: a module that missed the configuration shows up as missing
  // data blocks, which the thread survives.
  [[maybe_unused]] const int32_t configResult = E270SetConfig(&m.Dev, 0);
  if (!acq.Start(m.Dev, plan)) {
    m.Adc.LastError = "Unable create thread!";
    StopAcquisition(m, acq);
    return false;
  }
  if (m.Dio.DOStartEnabled) WriteOutputs(m, m.Dio, m.Dio.DOStartValue);
  return true;
}

void StopAcquisition(ModuleRecord& m, Acquisition& acq) {
  acq.RequestStop();
  // The thread is gone before pending events run: a host re-entered from them may use the
  // device and the block buffer again.
  acq.Join();
  platform::DoEvents();
  if (m.Dio.DOStopEnabled) WriteOutputs(m, m.Dio, m.Dio.DOStopValue);
}

}  // namespace quillbox
