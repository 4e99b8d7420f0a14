#pragma once
// The process-wide record of everything the driver knows, shared by every E_270 object of the
// process. It is data only, composed of the parts the device layer defines and works on (the
// open module, the recording settings, the single reads' cache, the acquisition) plus what only
// the driver keeps.

#include <cstdint>
#include <string>

#include "device/Acquisition.h"
#include "device/DeviceParts.h"
#include "device/RecordState.h"

namespace quillbox {

struct DriverState : ModuleRecord {
  RecordInfo Record;
  ReadCacheInfo ReadCache;
  bool Detected = false;
  int16_t BasePort = 0;
  int16_t SyncMode = 0;  // 0 off, 1 rising ("0 —1"), 2 falling ("1— 0")

  std::string SettingsKey;
  int16_t LastSetupTab = 0;

  // The recording: ring, thread, Busy, block buffer. Members are destroyed before the base, so
  // the thread is stopped and joined before the device record it uses goes away.
  Acquisition Acq;
};

// The one instance of the process (of the loaded component).
DriverState& State();

}  // namespace quillbox
