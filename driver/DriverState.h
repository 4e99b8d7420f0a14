#pragma once
// The process-wide record of everything the driver knows, shared by every E_270 object of the
// process. It is data only: each subsystem reads and writes the fields it owns.

#include <array>
#include <atomic>
#include <cstdint>
#include <string>

#include "channels/ChannelTypes.h"
#include "device/Acquisition.h"
#include "device/DeviceList.h"
#include "device/DeviceParts.h"
#include "device/DigitalIO.h"
#include "device/E270API.h"
#include "device/RecordState.h"

namespace quillbox {

struct DriverState {
  AdcInfo Adc;
  RecordInfo Record;

  bool Detected = false;
  int16_t BasePort = 0;
  int16_t SyncMode = 0;  // 0 off, 1 rising ("0 —1"), 2 falling ("1— 0")

  BoardInfo Board;
  ModuleSlots Modules;
  SourceInfo DirectSource;
  SourceInfo TTLSource;
  ChannelSources Sources{};

  Device Dev{};
  ReadCacheInfo ReadCache;
  // The vendor call that failed in the last single read or digital-I/O call, "" if none.
  // The interface members keep their specified results; hosts ask for this through the tools.
  std::string LastFailedCall;

  DioInfo Dio;

  std::string SettingsKey;
  int32_t DeviceCount = 0;
  quillbox::DeviceList Devices;
  std::vector<std::string> BusyPorts;  // USB ports whose node the last enumeration found in use
  int16_t LastSetupTab = 0;

  // The recording: ring, thread, Busy, block buffer. Keep it the last member: destroying it
  // stops and joins the thread, which uses the device record above.
  Acquisition Acq;
};

// The one instance of the process (of the loaded component).
DriverState& State();

// The digital lines of a driver state.
inline int32_t ReadInputs(DriverState& s) { return ReadInputs(s.Dev, s.Dio, s.LastFailedCall); }
inline void WriteOutputs(DriverState& s, int32_t value) {
  WriteOutputs(s.Dev, s.Dio, s.LastFailedCall, value);
}
inline int32_t ReadOutputs(const DriverState& s) { return ReadOutputs(s.Dio); }

}  // namespace quillbox
