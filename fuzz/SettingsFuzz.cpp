// Stored settings of any type and size, and a settings key holding arbitrary values and
// sub-keys with arbitrary names, through the settings store and cRegistry's readers and export.

#include <bit>
#include <cstring>
#include <string>
#include <vector>

#include "channels/ChannelList.h"
#include "channels/ChannelTypes.h"
#include "fuzz/FuzzInput.h"
#include "fuzz/FuzzTargets.h"
#include "platform/Registry.h"
#include "settings/SettingsStore.h"
#include "settings/cRegistry.h"

namespace quillbox::fuzz {
namespace {

namespace reg = quillbox::platform;

const std::string kKey = SettingsKeyFor("E-270");
const std::string kTop = "Software\\Tarn";
constexpr float kDefaultRate = 10.0f;

// Writes a value of any type and bytes below HKEY_CURRENT_USER\path (created when missing).
bool Store(const std::string& path, const std::string& name, uint32_t type,
           const std::vector<uint8_t>& bytes) {
  reg::HKEY key = 0;
  if (reg::RegCreateKeyExA(reg::HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, reg::KEY_ALL_ACCESS,
                           nullptr, &key, nullptr) != reg::ERROR_SUCCESS)
    return false;
  const bool ok = reg::RegSetValueExA(key, name.c_str(), 0, type, bytes.data(),
                                      static_cast<reg::DWORD>(bytes.size())) == reg::ERROR_SUCCESS;
  reg::RegCloseKey(key);
  return ok;
}

// Removes HKEY_CURRENT_USER\path with everything below it.
void DeleteTree(const std::string& path, int depth = 0) {
  FUZZ_CHECK(depth <= 600);
  std::vector<std::string> children;
  reg::HKEY key = 0;
  if (reg::RegOpenKeyExA(reg::HKEY_CURRENT_USER, path.c_str(), 0, reg::KEY_READ, &key) !=
      reg::ERROR_SUCCESS)
    return;
  char name[512];
  for (reg::DWORD i = 0;; ++i) {
    reg::DWORD cch = sizeof name;
    if (reg::RegEnumKeyExA(key, i, name, &cch, nullptr, nullptr, nullptr, nullptr) !=
        reg::ERROR_SUCCESS)
      break;
    children.emplace_back(name, cch);
  }
  reg::RegCloseKey(key);
  for (const std::string& child : children) {
    std::string below = path;
    below += '\\';
    below += child;
    DeleteTree(below, depth + 1);
  }
  FUZZ_CHECK(reg::RegDeleteKeyA(reg::HKEY_CURRENT_USER, path.c_str()) == reg::ERROR_SUCCESS);
}

// "Rate" in one of its spellings: value names compare case-insensitively.
std::string Spelling(const std::string& name, uint8_t caseBits) {
  std::string out = name;
  for (std::size_t i = 0; i < out.size() && i < 8; ++i)
    if ((caseBits >> i) & 1) out[i] = static_cast<char>(out[i] ^ 0x20);
  return out;
}

struct Stored {
  bool present = false;
  std::vector<uint8_t> bytes;
};

Stored StoreSetting(FuzzInput& in, const std::string& name, std::size_t maxBytes) {
  Stored s;
  const uint8_t how = in.Byte();
  if ((how & 1) == 0) return s;
  const uint32_t type = (how & 2) != 0 ? in.U32() : (how >> 2) % 12;
  s.bytes = in.Bytes(maxBytes);
  s.present = Store(kKey, Spelling(name, in.Byte()), type, s.bytes);
  FUZZ_CHECK(s.present);
  return s;
}

bool SameRate(float a, float b) { return std::bit_cast<uint32_t>(a) == std::bit_cast<uint32_t>(b); }

}  // namespace

int FuzzSettings(const uint8_t* data, std::size_t size) {
  PrepareProcess();
  FuzzInput in(data, size);
  DeleteTree(kTop);

  const int16_t channelsCount = (in.Byte() & 1) != 0 ? in.I16() : int16_t{kChannelsCount};
  const float rateMax = (in.Byte() & 1) != 0 ? in.Float() : 100.0f;

  const Stored rate = StoreSetting(in, "Rate", 12);
  const Stored channels = StoreSetting(in, "Channels", 96);
  // The key's default value, any type and bytes, before the driver claims the key.
  if (in.Bool()) Store(kKey, "", in.U32() % 12, in.Bytes(24));
  // More values and sub-keys with arbitrary names (prefixed so that they never name the two
  // settings or the default value).
  const int values = in.ByteBelow(6);
  for (int i = 0; i < values; ++i)
    Store(kKey, "v" + in.Text(40), (in.Byte() & 1) != 0 ? in.U32() : in.ByteBelow(12),
          in.Bytes(48));
  const int subKeys = in.ByteBelow(4);
  for (int i = 0; i < subKeys; ++i)
    Store(kKey + "\\" + in.Text(24), in.Text(16), in.ByteBelow(12), in.Bytes(16));

  // What the driver does at creation.
  std::string displayName, settingsKey;
  InitSettingsKey("E-270", displayName, settingsKey);
  FUZZ_CHECK(settingsKey == kKey && displayName == "E-270");
  cRegistry& registry = Registry();
  std::string defaultText;
  FUZZ_CHECK(registry.GetStringValue(cRegistry::kHKeyCurrentUser, kKey, "", defaultText));
  FUZZ_CHECK(defaultText == "E-270");

  float loadedRate = kDefaultRate;
  ChannelSources sources = DefaultChannelSources();
  LoadSettings(kKey, rateMax, channelsCount, loadedRate, sources);

  // Rate: the first four bytes as a float, taken only when it is usable.
  float expectedRate = kDefaultRate;
  if (rate.present && rate.bytes.size() <= 4) {
    uint32_t bits = 0;
    for (std::size_t i = 0; i < rate.bytes.size(); ++i) bits |= uint32_t{rate.bytes[i]} << (8 * i);
    const float r = std::bit_cast<float>(bits);
    if (r > 0.0f && r <= rateMax) expectedRate = r;
  }
  FUZZ_CHECK(SameRate(loadedRate, expectedRate));

  // Channels: two bytes per channel, all of them or none.
  const int count = channelsCount < 0                ? 0
                    : channelsCount > kChannelsCount ? kChannelsCount
                                                     : channelsCount;
  ChannelSources expected = DefaultChannelSources();
  if (channels.present && !channels.bytes.empty() &&
      channels.bytes.size() >= 2 * static_cast<std::size_t>(count)) {
    for (int i = 0; i < count; ++i) {
      expected[static_cast<std::size_t>(i)].Source =
          channels.bytes[2 * static_cast<std::size_t>(i)];
      expected[static_cast<std::size_t>(i)].Index =
          channels.bytes[2 * static_cast<std::size_t>(i) + 1];
    }
  }
  FUZZ_CHECK(sources == expected);

  // What the driver does at destruction, and the next creation reads it back.
  SaveSettings(kKey, loadedRate, rateMax, channelsCount, sources);
  float reloadedRate = kDefaultRate;
  ChannelSources reloaded = DefaultChannelSources();
  LoadSettings(kKey, rateMax, channelsCount, reloadedRate, reloaded);
  FUZZ_CHECK(reloaded == sources);
  if (loadedRate > 0.0f && loadedRate <= rateMax) FUZZ_CHECK(SameRate(reloadedRate, loadedRate));

  // Readers and the export over whatever the key holds now.
  BoundedArray<std::string> names;
  const int32_t valueCount = registry.EnumValues(cRegistry::kHKeyCurrentUser, kKey, names);
  FUZZ_CHECK(valueCount >= 2 && names.LBound() == 0 && names.UBound() == valueCount);
  for (int32_t i = 1; i <= valueCount; ++i) {
    RegistryValue value;
    (void)registry.GetValue(cRegistry::kHKeyCurrentUser, kKey, names(i), value);
    std::string text;
    (void)registry.GetStringValue(cRegistry::kHKeyCurrentUser, kKey, names(i), text);
    BoundedArray<uint8_t> bytes;
    (void)registry.GetBinaryValue(cRegistry::kHKeyCurrentUser, kKey, names(i), bytes);
    int32_t dword = 0;
    (void)registry.GetDWORDValue(cRegistry::kHKeyCurrentUser, kKey, names(i), dword);
  }
  const std::string exported = registry.ExportKey(cRegistry::kHKeyCurrentUser, kKey, true);
  const std::string header = "\r\n[HKEY_CURRENT_USER\\" + kKey + "]\r\n";
  FUZZ_CHECK(exported.compare(0, header.size(), header) == 0);
  FUZZ_CHECK(exported.size() >= 2 && exported.compare(exported.size() - 2, 2, "\r\n") == 0);
  const std::string whole = registry.ExportKey(cRegistry::kHKeyCurrentUser, kTop, true);
  FUZZ_CHECK(whole.find(exported) != std::string::npos);

  DeleteTree(kTop);
  FUZZ_CHECK(!registry.KeyExist(cRegistry::kHKeyCurrentUser, kTop));
  return 0;
}

}  // namespace quillbox::fuzz
