#include "driver/DriverState.h"
#include "driver/E_270.h"

namespace quillbox {

float E_270::IADC3_RateMax() { return State().Record.RateMax; }
bool E_270::IADC3_Busy() { return State().Busy.load(); }
float E_270::IADC3_Rate() { return State().Record.Rate; }
void E_270::IADC3_Rate(float sRate) {
  if (!State().Busy.load() && sRate > 0.0f) State().Record.Rate = sRate;
}
void E_270::IADC3_InputSizeData(int32_t NewSize) { State().Record.InputSizeRequest = NewSize; }
int32_t E_270::IADC3_InputSizeData() { return State().Record.InputSizeData; }
int32_t E_270::IADC3_InputCountData() {
  return State().Record.InputCountKadrs * State().Record.InputCountChannels;
}
int32_t E_270::IADC3_InputSizeKadrs() { return State().Record.InputSizeKadrs; }
int32_t E_270::IADC3_InputCountKadrs() { return State().Record.InputCountKadrs; }
int16_t E_270::IADC3_InputCountChannels() { return State().Record.InputCountChannels; }
BoundedArray<int16_t> E_270::IADC3_InputChannels() { return State().Record.InputChannels; }
void E_270::IADC3_InputChannels(const BoundedArray<int16_t>& ChTable) {
  if (State().Busy.load()) return;
  State().Record.InputChannels = ChTable;
  State().Record.InputCountChannels = static_cast<int16_t>(ChTable.size());
}
int16_t E_270::IADC3_GetChannel(int16_t /*Index*/) { return 0; }
BoundedArray<int16_t> E_270::IADC3_GetKadr() { return {}; }
bool E_270::IADC3_StartRecord() { return StartRecordGuarded(); }
bool E_270::StartRecordGuarded() { return false; }
void E_270::IADC3_StopRecord() { StopRecordNow(); }
void E_270::StopRecordNow() { State().Busy.store(false); }
BoundedArray2D<int16_t> E_270::IADC3_InputData() { return {}; }
int32_t E_270::IADC3_GetData(int16_t& /*Data*/, int32_t& DataSize, int32_t& InputCountData) {
  DataSize = 0;
  InputCountData = 0;
  return 0;
}

}  // namespace quillbox
