#include "channels/ChannelList.h"
#include "settings/SettingsStore.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <fstream>
#include <limits>

#include "platform/Registry.h"
#include "tests/platform/RegistryTestSupport.h"

namespace quillbox {
namespace {

namespace reg = quillbox::platform;
constexpr int32_t HKCU = cRegistry::kHKeyCurrentUser;
const std::string kKey = "Software\\Tarn\\ADC\\L-Card\\E-270";

class SettingsStoreTest : public quillbox::testing::RegistryTest {
 protected:
  void Init() { InitSettingsKey("E-270", displayName, settingsKey); }
  void Load() { LoadSettings(settingsKey, 100.0f, 32, rate, sources); }
  void StoreRate(float value) {
    ASSERT_TRUE(reg_.SetDWORDValue(HKCU, kKey, "Rate", std::bit_cast<int32_t>(value)));
  }
  void StoreRaw(const char* name, reg::DWORD type, const std::vector<uint8_t>& bytes) {
    reg::HKEY h = 0;
    ASSERT_EQ(reg::RegOpenKeyExA(reg::HKEY_CURRENT_USER, kKey.c_str(), 0, reg::KEY_ALL_ACCESS, &h),
              0);
    ASSERT_EQ(
        reg::RegSetValueExA(h, name, 0, type, bytes.data(), static_cast<reg::DWORD>(bytes.size())),
        0);
    reg::RegCloseKey(h);
  }
  reg::DWORD ValueType(const char* name, reg::DWORD* size = nullptr) {
    reg::HKEY h = 0;
    if (reg::RegOpenKeyExA(reg::HKEY_CURRENT_USER, kKey.c_str(), 0, reg::KEY_READ, &h) != 0)
      return 0;
    reg::DWORD type = 0, cb = 0;
    const bool ok = reg::RegQueryValueExA(h, name, nullptr, &type, nullptr, &cb) == 0;
    reg::RegCloseKey(h);
    if (size != nullptr) *size = cb;
    return ok ? type : 0;
  }

  cRegistry reg_;
  std::string displayName;
  std::string settingsKey;
  float rate = 10.0f;
  ChannelSources sources = DefaultChannelSources();
};

TEST_F(SettingsStoreTest, FirstRunCreatesTheKeyNamingTheDriver) {
  EXPECT_FALSE(reg_.KeyExist(HKCU, "Software\\Tarn"));
  Init();
  EXPECT_EQ(settingsKey, kKey);
  EXPECT_EQ(displayName, "E-270");
  std::string text;
  EXPECT_TRUE(reg_.GetStringValue(HKCU, kKey, "", text));
  EXPECT_EQ(text, "E-270");
  reg::DWORD size = 0;
  EXPECT_EQ(ValueType("", &size), reg::REG_SZ);
  EXPECT_EQ(size, 5u);
  EXPECT_EQ(ValueType("Rate"), 0u);
  EXPECT_EQ(ValueType("Channels"), 0u);
  Load();
  EXPECT_EQ(rate, 10.0f);
  EXPECT_EQ(sources, DefaultChannelSources());

  // A display name already set is kept.
  displayName = "Bench module";
  Init();
  EXPECT_EQ(displayName, "Bench module");
}

TEST_F(SettingsStoreTest, TheDefaultValueIsRewrittenOnlyWhenItDiffers) {
  Init();
  // Reads "E-270" (text before the NUL): left as it is, terminator and type included.
  StoreRaw("", reg::REG_EXPAND_SZ, {'E', '-', '2', '7', '0', 0});
  Init();
  reg::DWORD size = 0;
  EXPECT_EQ(ValueType("", &size), reg::REG_EXPAND_SZ);
  EXPECT_EQ(size, 6u);
  // Any other text (case counts) is replaced.
  StoreRaw("", reg::REG_SZ, {'e', '-', '2', '7', '0'});
  Init();
  std::string text;
  reg_.GetStringValue(HKCU, kKey, "", text);
  EXPECT_EQ(text, "E-270");
}

TEST_F(SettingsStoreTest, OnlyAUsableStoredRateIsTaken) {
  Init();
  const float nan = std::numeric_limits<float>::quiet_NaN();
  for (float bad : {0.0f, -0.0f, -5.0f, nan, 100.5f, std::numeric_limits<float>::infinity()}) {
    StoreRate(bad);
    rate = 10.0f;
    Load();
    EXPECT_EQ(rate, 10.0f) << bad;
  }
  StoreRate(100.0f);  // exactly RateMax
  Load();
  EXPECT_EQ(rate, 100.0f);
  StoreRate(25.5f);
  Load();
  EXPECT_EQ(rate, 25.5f);

  // A longer value is not read; a shorter one fills the low bytes, whatever its type.
  rate = 10.0f;
  StoreRaw("Rate", reg::REG_BINARY, {0, 0, 0x20, 0x41, 0});
  Load();
  EXPECT_EQ(rate, 10.0f);
  StoreRaw("Rate", reg::REG_BINARY, {1, 0});
  Load();
  EXPECT_EQ(rate, std::bit_cast<float>(1));  // the smallest positive float is a usable rate
}

TEST_F(SettingsStoreTest, ChannelsNeedAtLeastTwoBytesPerChannel) {
  Init();
  std::vector<uint8_t> bytes(63, 7);
  StoreRaw("Channels", reg::REG_BINARY, bytes);
  Load();
  EXPECT_EQ(sources, DefaultChannelSources());

  bytes.assign(70, 0);
  for (std::size_t i = 0; i < 64; ++i) bytes[i] = static_cast<uint8_t>(i % 2 == 0 ? 9 : i);
  for (std::size_t i = 64; i < 70; ++i) bytes[i] = 0xEE;
  StoreRaw("Channels", reg::REG_BINARY, bytes);
  Load();
  for (std::size_t c = 0; c < 32; ++c) {
    EXPECT_EQ(sources[c].Source, 9) << c;  // copied unchecked
    EXPECT_EQ(sources[c].Index, 2 * c + 1) << c;
  }

  // With fewer channels, fewer bytes are needed and the rest of the table is untouched.
  sources = DefaultChannelSources();
  StoreRaw("Channels", reg::REG_BINARY, {2, 5, 1, 6});
  LoadSettings(settingsKey, 100.0f, 2, rate, sources);
  EXPECT_EQ(sources[0], (ChannelSource{2, 5}));
  EXPECT_EQ(sources[1], (ChannelSource{1, 6}));
  EXPECT_EQ(sources[2], DefaultChannelSources()[2]);
}

TEST_F(SettingsStoreTest, SavingWritesChannelsAlwaysAndOnlyAUsableRate) {
  Init();
  sources[5] = {SourceTTL, 3};
  SaveSettings(settingsKey, 42.0f, 100.0f, 32, sources);
  int32_t bits = 0;
  EXPECT_TRUE(reg_.GetDWORDValue(HKCU, kKey, "Rate", bits));
  EXPECT_EQ(std::bit_cast<float>(bits), 42.0f);
  EXPECT_EQ(ValueType("Rate"), reg::REG_DWORD);
  BoundedArray<uint8_t> stored;
  ASSERT_TRUE(reg_.GetBinaryValue(HKCU, kKey, "Channels", stored));
  ASSERT_EQ(stored.size(), 64u);
  EXPECT_EQ(stored(10), SourceTTL);
  EXPECT_EQ(stored(11), 3);
  EXPECT_EQ(stored(33), 0);  // channel 16: (ADC, 0)
  EXPECT_EQ(stored(32), SourceADC);

  const float nan = std::numeric_limits<float>::quiet_NaN();
  for (float bad : {0.0f, -1.0f, 100.01f, nan}) {
    sources[0] = {SourceADC, 7};
    reg_.DeleteValue(HKCU, kKey, "Channels");
    SaveSettings(settingsKey, bad, 100.0f, 32, sources);
    EXPECT_TRUE(reg_.GetDWORDValue(HKCU, kKey, "Rate", bits));
    EXPECT_EQ(std::bit_cast<float>(bits), 42.0f) << bad;
    ASSERT_TRUE(reg_.GetBinaryValue(HKCU, kKey, "Channels", stored)) << bad;
    EXPECT_EQ(stored(0), SourceADC);
  }
  SaveSettings(settingsKey, 100.0f, 100.0f, 32, sources);
  EXPECT_TRUE(reg_.GetDWORDValue(HKCU, kKey, "Rate", bits));
  EXPECT_EQ(std::bit_cast<float>(bits), 100.0f);
}

TEST_F(SettingsStoreTest, WithoutAUsableStoreTheDefaultsStay) {
  // The key was never made: reads fail, writes fail, nothing is created.
  settingsKey = kKey;
  SaveSettings(settingsKey, 50.0f, 100.0f, 32, sources);
  EXPECT_FALSE(reg_.KeyExist(HKCU, kKey));
  Load();
  EXPECT_EQ(rate, 10.0f);

  // A store that is not a database: every step runs and changes nothing.
  const std::string bad = registry_.dir() + "/bad.sqlite3";
  { std::ofstream(bad) << std::string(5000, 'x'); }
  quillbox::testing::TempRegistry::Use(bad);
  displayName.clear();
  Init();
  EXPECT_EQ(displayName, "E-270");
  EXPECT_EQ(settingsKey, kKey);
  Load();
  SaveSettings(settingsKey, 50.0f, 100.0f, 32, sources);
  EXPECT_EQ(rate, 10.0f);
  EXPECT_EQ(sources, DefaultChannelSources());
}

}  // namespace
}  // namespace quillbox
