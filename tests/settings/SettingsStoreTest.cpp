#include "channels/ChannelList.h"
#include "settings/SettingsStore.h"

#include <gtest/gtest.h>

#include <array>
#include <bit>
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
  static void StoreRaw(const char* name, reg::DWORD type, const std::vector<uint8_t>& bytes) {
    quillbox::testing::SetRawValue(kKey, name, type, bytes);
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
  Init();
  EXPECT_EQ(settingsKey, kKey);
  EXPECT_EQ(displayName, "E-270");
  reg::DWORD size = 0;
  EXPECT_EQ(ValueType("", &size), reg::REG_SZ);
  EXPECT_EQ(size, 5u);  // "E-270" without a terminator
  EXPECT_EQ(ValueType("Rate"), 0u);
  Load();
  EXPECT_EQ(rate, 10.0f);
  EXPECT_EQ(sources, DefaultChannelSources());
  displayName = "Bench module";  // a display name already set is kept
  Init();
  EXPECT_EQ(displayName, "Bench module");

  // The default value is rewritten only when its text (up to a NUL, case counting) differs.
  StoreRaw("", reg::REG_EXPAND_SZ, {'E', '-', '2', '7', '0', 0});
  Init();
  EXPECT_EQ(ValueType("", &size), reg::REG_EXPAND_SZ);
  EXPECT_EQ(size, 6u);
  StoreRaw("", reg::REG_SZ, {'e', '-', '2', '7', '0'});
  Init();
  std::string text;
  reg_.GetStringValue(HKCU, kKey, "", text);
  EXPECT_EQ(text, "E-270");
}

TEST_F(SettingsStoreTest, OnlyAUsableStoredRateIsTaken) {
  Init();
  const auto bits = [](float f) {
    const auto b = std::bit_cast<std::array<uint8_t, 4>>(f);
    return std::vector<uint8_t>(b.begin(), b.end());
  };
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  // A longer value is not read; a shorter one fills the low bytes, whatever its type.
  const std::pair<std::vector<uint8_t>, float> cases[] = {
      {bits(0.0f), 10.0f},
      {bits(-0.0f), 10.0f},
      {bits(-5.0f), 10.0f},
      {bits(nan), 10.0f},
      {bits(100.5f), 10.0f},
      {bits(inf), 10.0f},
      {bits(100.0f), 100.0f},
      {bits(25.5f), 25.5f},
      {{0, 0, 0x20, 0x41, 0}, 10.0f},
      {{1, 0}, std::bit_cast<float>(1)},  // the smallest positive float is a usable rate
  };
  for (const auto& [stored, expected] : cases) {
    StoreRaw("Rate", reg::REG_BINARY, stored);
    rate = 10.0f;
    Load();
    EXPECT_EQ(rate, expected) << ::testing::PrintToString(stored);
  }
}

TEST_F(SettingsStoreTest, ChannelsNeedAtLeastTwoBytesPerChannel) {
  Init();
  StoreRaw("Channels", reg::REG_BINARY, std::vector<uint8_t>(63, 7));
  Load();
  EXPECT_EQ(sources, DefaultChannelSources());
  std::vector<uint8_t> bytes(70, 0xEE);
  for (std::size_t i = 0; i < 64; ++i) bytes[i] = static_cast<uint8_t>(i % 2 == 0 ? 9 : i);
  StoreRaw("Channels", reg::REG_BINARY, bytes);
  Load();
  for (std::size_t c = 0; c < 32; ++c)  // copied unchecked
    EXPECT_EQ(sources[c], (ChannelSource{9, static_cast<uint8_t>(2 * c + 1)})) << c;
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
  int32_t bits = 0;
  BoundedArray<uint8_t> stored;
  const float nan = std::numeric_limits<float>::quiet_NaN();
  for (const auto& [offered, kept] : {std::pair{42.0f, 42.0f},
                                      {0.0f, 42.0f},
                                      {-1.0f, 42.0f},
                                      {100.01f, 42.0f},
                                      {nan, 42.0f},
                                      {100.0f, 100.0f}}) {
    reg_.DeleteValue(HKCU, kKey, "Channels");
    SaveSettings(settingsKey, offered, 100.0f, 32, sources);
    EXPECT_TRUE(reg_.GetDWORDValue(HKCU, kKey, "Rate", bits));
    EXPECT_EQ(std::bit_cast<float>(bits), kept) << offered;
    ASSERT_TRUE(reg_.GetBinaryValue(HKCU, kKey, "Channels", stored)) << offered;
  }
  EXPECT_EQ(ValueType("Rate"), reg::REG_DWORD);
  ASSERT_EQ(stored.size(), 64u);
  EXPECT_EQ(std::vector<uint8_t>({stored(10), stored(11), stored(32), stored(33)}),
            (std::vector<uint8_t>{SourceTTL, 3, SourceADC, 0}));  // channel 16: (ADC, 0)
}

// Unusable stores as a whole are tried on the quillbox command; here only the missing key.
TEST_F(SettingsStoreTest, WithoutTheKeyTheDefaultsStayAndNothingIsCreated) {
  settingsKey = kKey;
  SaveSettings(settingsKey, 50.0f, 100.0f, 32, sources);
  EXPECT_FALSE(reg_.KeyExist(HKCU, kKey));
  Load();
  EXPECT_EQ(rate, 10.0f);
}

}  // namespace
}  // namespace quillbox
