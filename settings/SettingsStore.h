#pragma once
// The driver's persistent settings: the frame rate and the channel-source table, kept under
// HKEY_CURRENT_USER\Software\Tarn\ADC\L-Card\<driver name>:
//   (default)  REG_SZ     the driver name, no terminator
//   "Rate"     REG_DWORD  the bits of the rate as a 32-bit float
//   "Channels" REG_BINARY two bytes per channel (source kind, index), channel 0 first
// The key is made to exist when a driver object is created, the values are read then and
// written when the object is destroyed. Registry failures leave the state (or the store) as it
// was; the only trace they leave is LastSaveFailed (and the store's own problem, which
// platform::RegistryProblem tells). Each function below reads in one read transaction of the
// store (platform::RegistryReadGroup), not one per value.

#include <cstdint>
#include <string>

#include "channels/ChannelTypes.h"
#include "settings/cRegistry.h"

namespace quillbox {

// Path of the settings key of a driver below HKEY_CURRENT_USER.
std::string SettingsKeyFor(const std::string& name);

// The one registry access object of the process, created on first use and kept until exit.
cRegistry& Registry();

// Sets DisplayName (if empty) and SettingsKey, makes the key exist and its default value
// read `name`.
void InitSettingsKey(const std::string& name, std::string& DisplayName, std::string& SettingsKey);

// Overrides Rate and Sources with what is stored, when it is usable: a rate with
// 0 < rate <= RateMax, a "Channels" value of at least 2 x ChannelsCount bytes.
void LoadSettings(const std::string& SettingsKey, float RateMax, int16_t ChannelsCount, float& Rate,
                  ChannelSources& Sources);

// Writes "Rate" (only when 0 < Rate <= RateMax) and "Channels".
void SaveSettings(const std::string& SettingsKey, float Rate, float RateMax, int16_t ChannelsCount,
                  const ChannelSources& Sources);

// True when the process's last SaveSettings could not write every value it meant to.
bool LastSaveFailed();

}  // namespace quillbox
