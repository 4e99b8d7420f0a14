#include "driver/E_270.h"

#include <algorithm>
#include <optional>

#include "channels/ChannelList.h"
#include "device/Connection.h"
#include "driver/DriverState.h"
#include "driver/HelpFile.h"
#include "driver/UiBinding.h"
#include "platform/Registry.h"
#include "platform/UiHost.h"
#include "settings/SettingsStore.h"

namespace quillbox {
namespace {

bool InChannelRange(int16_t index) { return index >= 0 && index < State().Adc.ChannelsCount; }

// Row of the range tables that applies to a channel, or -1 when the channel is out of range or
// the tables do not hold that row (no successful open yet): the unit queries then answer "" / 0.
int RangeRow(int16_t index) {
  if (!InChannelRange(index) || index >= kChannelsCount) return -1;
  const ChannelTables& t = State().Adc.Tables;
  const int row = t.ChannelRanges[static_cast<std::size_t>(index)];
  const auto rows =
      std::min({t.Ranges.size(), t.UnitNames.size(), t.UnitScales.size(), t.UnitOffsets.size()});
  return (row >= 0 && static_cast<std::size_t>(row) < rows) ? row : -1;
}

}  // namespace

std::shared_ptr<E_270> CreateE_270() { return std::make_shared<E_270>(); }

E_270::E_270() {
  // Each step runs even when an earlier one failed.
  DriverState& s = State();
  try {
    BindUi();
  } catch (...) {
  }
  try {
    std::string name = kClassName;
    std::replace(name.begin(), name.end(), '_', '-');
    s.Adc.ADCName = name;
  } catch (...) {
  }
  // The key and the stored settings are read in one read transaction of the store.
  std::optional<platform::RegistryReadGroup> reads;
  try {
    reads.emplace();
  } catch (...) {
  }
  try {
    InitSettingsKey(s.Adc.ADCName, s.Adc.DisplayName, s.SettingsKey);
  } catch (...) {
  }
  try {
    FindHelpFile();
  } catch (...) {
  }
  try {
    InitDefaults();
  } catch (...) {
  }
  try {
    LoadSettings(s.SettingsKey, s.Record.RateMax, s.Adc.ChannelsCount, s.Record.Rate, s.Sources);
  } catch (...) {
  }
}

E_270::~E_270() {
  try {
    if (State().Acq.Busy.load()) StopRecordNow();
  } catch (...) {
  }
  try {
    const DriverState& s = State();
    SaveSettings(s.SettingsKey, s.Record.Rate, s.Record.RateMax, s.Adc.ChannelsCount, s.Sources);
  } catch (...) {
  }
  try {
    DeviceClose(State());
  } catch (...) {
  }
}

void E_270::InitDefaults() {
  DriverState& s = State();
  s.Adc.Resolution = 16;
  s.Adc.ChannelsCount = kChannelsCount;
  s.Adc.Tables.ChannelNames = {};
  s.Adc.Tables.ChannelRanges = {};
  s.Sources = DefaultChannelSources();
  s.Record.RateMax = 100.0f;
  s.Record.Rate = 10.0f;
  s.Record.InputSizeRequest = 1 << 14;
  s.Record.InputCountChannels = 1;
  s.Record.InputChannels = BoundedArray<int16_t>(0, 0);
}

Object E_270::GetADC3() { return shared_from_this(); }
Object E_270::GetDIO() { return shared_from_this(); }
Object E_270::IADC3_Parent() { return shared_from_this(); }

std::string E_270::IADC3_ADCName() { return State().Adc.ADCName; }
uint8_t E_270::IADC3_Resolution() { return State().Adc.Resolution; }
int16_t E_270::IADC3_ChannelsCount() { return State().Adc.ChannelsCount; }
bool E_270::IADC3_Detected() { return State().Detected; }
int16_t E_270::IADC3_BasePort() { return State().BasePort; }
std::string E_270::IADC3_LastError() { return State().Adc.LastError; }

BoundedArray<std::string> E_270::IADC3_Ranges() {
  return BoundedArray<std::string>::FromVector(State().Adc.Tables.Ranges);
}

std::string E_270::IADC3_ChannelName(int16_t Index) {
  if (!InChannelRange(Index) || Index >= kChannelsCount) return {};
  return State().Adc.Tables.ChannelNames[static_cast<std::size_t>(Index)];
}

int16_t E_270::IADC3_ChannelRange(int16_t Index) {
  if (!InChannelRange(Index) || Index >= kChannelsCount) return 0;
  return State().Adc.Tables.ChannelRanges[static_cast<std::size_t>(Index)];
}

void E_270::IADC3_ChannelRange(int16_t /*Index*/, int16_t /*RangeIndex*/) {
  // Ranges follow from the mezzanines and the channel sources; the value is ignored.
  platform::DoEvents();
}

float E_270::IADC3_ChannelUnitScale(int16_t Index) {
  const int row = RangeRow(Index);
  return row < 0 ? 0.0f : State().Adc.Tables.UnitScales[static_cast<std::size_t>(row)];
}

float E_270::IADC3_ChannelUnitOffset(int16_t Index) {
  const int row = RangeRow(Index);
  return row < 0 ? 0.0f : State().Adc.Tables.UnitOffsets[static_cast<std::size_t>(row)];
}

std::string E_270::IADC3_ChannelUnitName(int16_t Index) {
  const int row = RangeRow(Index);
  return row < 0 ? std::string() : State().Adc.Tables.UnitNames[static_cast<std::size_t>(row)];
}

bool E_270::IADC3_Test() { return TestADC(); }

bool E_270::TestADC() {
  DriverState& s = State();
  // The open sequence rewrites the device record the acquisition thread is using.
  if (s.Acq.Busy.load()) return false;
  s.Detected = false;
  s.BasePort = 0;
  s.BasePort = DeviceOpen(s);
  if (s.BasePort != 0) s.Detected = true;
  return s.Detected;
}

bool E_270::IADC3_ShowSetting() { return ShowSetup(); }

bool E_270::ShowSetup() {
  DriverState& s = State();
  if (s.Acq.Busy.load()) return false;
  // Without a display (or the dialogs plug-in) nothing is shown; an error of the dialog is
  // reported, never raised.
  std::string error;
  if (RunSetupDialog(s, error) == SetupResult::Failed) platform::ShowMessageBox("Error: " + error);
  return false;
}

}  // namespace quillbox
