#include "settings/SettingsStore.h"

#include <algorithm>
#include <bit>
#include <mutex>

#include "platform/Registry.h"

namespace quillbox {
namespace {

const char* const kRate = "Rate";
const char* const kChannels = "Channels";

std::mutex& StoreMutex() {
  static std::mutex* m = new std::mutex;
  return *m;
}

bool g_lastSaveFailed = false;  // guarded by StoreMutex

// Bytes of the channel table to read or write: two per channel, never beyond the table.
std::size_t ChannelBytes(int16_t ChannelsCount) {
  const int n = std::clamp<int>(ChannelsCount, 0, kChannelsCount);
  return 2 * static_cast<std::size_t>(n);
}

// NaN fails both comparisons.
bool UsableRate(float rate, float rateMax) { return rate > 0.0f && rate <= rateMax; }

}  // namespace

std::string SettingsKeyFor(const std::string& name) {
  return std::string("Software\\Tarn\\ADC") + "\\L-Card" + "\\" + name;
}

cRegistry& Registry() {
  // Never released: driver objects may be destroyed while the process exits.
  static cRegistry* registry = new cRegistry;
  return *registry;
}

void InitSettingsKey(const std::string& name, std::string& DisplayName, std::string& SettingsKey) {
  std::lock_guard lock(StoreMutex());
  const platform::RegistryReadGroup reads;
  if (DisplayName.empty()) DisplayName = name;
  SettingsKey = SettingsKeyFor(name);
  cRegistry& registry = Registry();
  registry.DefaultHKey(cRegistry::kHKeyCurrentUser);
  registry.DefaultSubKey(SettingsKey);
  if (registry.ValueString("") != name) registry.SetString("", name);
}

void LoadSettings(const std::string& SettingsKey, float RateMax, int16_t ChannelsCount, float& Rate,
                  ChannelSources& Sources) {
  std::lock_guard lock(StoreMutex());
  const platform::RegistryReadGroup reads;  // one read transaction for the whole load
  cRegistry& registry = Registry();
  int32_t bits = 0;
  if (registry.GetDWORDValue(cRegistry::kHKeyCurrentUser, SettingsKey, kRate, bits)) {
    const float r = std::bit_cast<float>(bits);
    if (UsableRate(r, RateMax)) Rate = r;
  }
  const std::size_t n = ChannelBytes(ChannelsCount);
  BoundedArray<uint8_t> bytes(0, static_cast<int32_t>(n) - 1);
  if (registry.GetBinaryValue(cRegistry::kHKeyCurrentUser, SettingsKey, kChannels, bytes) &&
      bytes.size() >= n) {
    for (std::size_t i = 0; i < n / 2; ++i) {
      Sources[i].Source = bytes.data()[2 * i];
      Sources[i].Index = bytes.data()[2 * i + 1];
    }
  }
}

void SaveSettings(const std::string& SettingsKey, float Rate, float RateMax, int16_t ChannelsCount,
                  const ChannelSources& Sources) {
  std::lock_guard lock(StoreMutex());
  const platform::RegistryReadGroup reads;  // the reads between the two writes
  cRegistry& registry = Registry();
  bool written = true;
  if (UsableRate(Rate, RateMax))
    written = registry.SetDWORDValue(cRegistry::kHKeyCurrentUser, SettingsKey, kRate,
                                     std::bit_cast<int32_t>(Rate));
  const std::size_t n = ChannelBytes(ChannelsCount);
  BoundedArray<uint8_t> bytes(0, static_cast<int32_t>(n) - 1);
  for (std::size_t i = 0; i < n / 2; ++i) {
    bytes.data()[2 * i] = Sources[i].Source;
    bytes.data()[2 * i + 1] = Sources[i].Index;
  }
  written = registry.SetBinaryValue(cRegistry::kHKeyCurrentUser, SettingsKey, kChannels, bytes) &&
            written;
  g_lastSaveFailed = !written;
}

bool LastSaveFailed() {
  std::lock_guard lock(StoreMutex());
  return g_lastSaveFailed;
}

}  // namespace quillbox
