// IADC3 members that run a recording and deliver its frames.
//
// Host input the interface does not rule out, and what it gets:
// - Before the first recording there is no ring: InputData returns the scan-list column only and
//   GetData copies nothing.
// - The frames of a ring are delivered with the scan list they were recorded with (column 0 of
//   InputData, frame width of GetData), also when the host changed the scan list after the
//   recording stopped.
// - InputChannels Let: the elements are taken as they come, whatever the array's lower bound;
//   the copy is stored with lower bound 0 and the count is the number of elements. An empty
//   list is stored (a start then says "No one channel selected!"); a list longer than an
//   Integer can count is ignored. Channel numbers outside 0..31 are kept and record code 0.
// - InputSizeData Let during a recording stores the request; it takes effect at the next start,
//   and the size getters describe the ring in use until then. A start makes the ring at least
//   one block plus one frame large and keeps it within kMaxRingValues; the getters then report
//   the size used.
// - GetChannel / GetKadr during a recording do not touch the device: they answer from the newest
//   frame the acquisition thread fetched (0 before its first block).
// - GetData writes at most DataSize values from Data on (the host promises that room) and
//   nothing when DataSize is below one frame or negative.

#include <algorithm>
#include <limits>

#include "device/Acquisition.h"
#include "device/AcquisitionSetup.h"
#include "device/SingleRead.h"
#include "driver/DriverState.h"
#include "driver/E_270.h"
#include "platform/UiHost.h"

namespace quillbox {

float E_270::IADC3_RateMax() { return State().Record.RateMax; }
bool E_270::IADC3_Busy() { return State().Acq.Busy.load(); }
float E_270::IADC3_Rate() { return GetRate(State().Record); }
void E_270::IADC3_Rate(float sRate) { SetRate(State().Record, State().Acq, sRate); }

void E_270::IADC3_InputSizeData(int32_t NewSize) {
  DriverState& s = State();
  s.Record.InputSizeRequest = NewSize;
  if (!s.Acq.Busy.load()) ComputeRingSize(s.Record);
}

int32_t E_270::IADC3_InputSizeData() { return State().Record.InputSizeData; }

int32_t E_270::IADC3_InputCountData() {
  DriverState& s = State();
  const int64_t values = int64_t{s.Acq.Ring().LastCount()} * s.Record.InputCountChannels;
  return static_cast<int32_t>(std::min<int64_t>(values, std::numeric_limits<int32_t>::max()));
}

int32_t E_270::IADC3_InputSizeKadrs() { return State().Record.InputSizeKadrs; }
int32_t E_270::IADC3_InputCountKadrs() { return State().Acq.Ring().LastCount(); }
int16_t E_270::IADC3_InputCountChannels() { return State().Record.InputCountChannels; }
BoundedArray<int16_t> E_270::IADC3_InputChannels() { return State().Record.InputChannels; }

void E_270::IADC3_InputChannels(const BoundedArray<int16_t>& ChTable) {
  DriverState& s = State();
  if (s.Acq.Busy.load()) return;
  if (ChTable.size() > static_cast<std::size_t>(std::numeric_limits<int16_t>::max())) return;
  s.Record.InputChannels = BoundedArray<int16_t>::FromVector(ChTable.values());
  s.Record.InputCountChannels = static_cast<int16_t>(ChTable.size());
  ComputeRingSize(s.Record);
}

int16_t E_270::IADC3_GetChannel(int16_t Index) {
  DriverState& s = State();
  return ReadChannelNow(s, s.ReadCache, s.Acq, Index);
}

BoundedArray<int16_t> E_270::IADC3_GetKadr() {
  BoundedArray<int16_t> values;
  DriverState& s = State();
  ReadFrameNow(s, s.ReadCache, s.Acq, s.Record, values);
  return values;
}

bool E_270::IADC3_StartRecord() { return StartRecordGuarded(); }

bool E_270::StartRecordGuarded() {
  DriverState& s = State();
  if (s.Acq.Busy.load() || !s.Detected) return false;
  return StartAcquisition(s, s.Record, s.SyncMode, s.Acq);
}

void E_270::IADC3_StopRecord() { StopRecordNow(); }

void E_270::StopRecordNow() {
  DriverState& s = State();
  s.Acq.Busy.store(false);
  StopAcquisition(s, s.Acq);
  platform::DoEvents();
}

BoundedArray2D<int16_t> E_270::IADC3_InputData() {
  DriverState& s = State();
  if (s.Acq.Ring().Allocated()) return s.Acq.Ring().ReadAll();
  // No recording yet: the scan-list column only.
  const RecordInfo& r = s.Record;
  const int32_t channels = std::max<int32_t>(r.InputCountChannels, 0);
  BoundedArray2D<int16_t> result(0, channels - 1, 0, 0);
  for (int32_t j = 0; j < channels; ++j)
    result(j, 0) = r.InputChannels.Contains(j) ? r.InputChannels(j) : int16_t{0};
  return result;
}

int32_t E_270::IADC3_GetData(int16_t& Data, int32_t& DataSize, int32_t& InputCountData) {
  return State().Acq.Ring().Read(&Data, DataSize, InputCountData);
}

}  // namespace quillbox
