#include "channels/ChannelList.h"
#include "settings/SettingsStore.h"

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <array>
#include <atomic>
#include <bit>
#include <cstring>
#include <functional>
#include <limits>

#include "platform/Registry.h"
#include "tests/platform/RegistryTestSupport.h"

namespace {

std::atomic<int> g_transactions{0};

}  // namespace

// Counts the transactions SQLite begins, explicit (BEGIN) or around a statement run outside one.
// Exported from this executable (tests/settings/CMakeLists.txt), so the registry's store library
// calls it in place of SQLite's own.
extern "C" int sqlite3_step(sqlite3_stmt* stmt) {
  static const auto real =
      reinterpret_cast<int (*)(sqlite3_stmt*)>(dlsym(RTLD_NEXT, "sqlite3_step"));
  if (sqlite3_stmt_busy(stmt) == 0) {
    const char* sql = sqlite3_sql(stmt);
    if ((sql != nullptr && std::strncmp(sql, "BEGIN", 5) == 0) ||
        sqlite3_get_autocommit(sqlite3_db_handle(stmt)) != 0)
      ++g_transactions;
  }
  return real(stmt);
}

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

  cRegistry reg_;
  std::string displayName;
  std::string settingsKey;
  float rate = 10.0f;
  ChannelSources sources = DefaultChannelSources();
};

// The key's default value and the types of what is saved are checked in the settings export.
TEST_F(SettingsStoreTest, FirstRunCreatesTheKeyAndKeepsADisplayNameAlreadySet) {
  Init();
  EXPECT_EQ(settingsKey, kKey);
  EXPECT_EQ(displayName, "E-270");
  EXPECT_TRUE(reg_.KeyExist(HKCU, kKey));
  Load();
  EXPECT_EQ(rate, 10.0f);
  EXPECT_EQ(sources, DefaultChannelSources());
  displayName = "Bench module";
  Init();
  EXPECT_EQ(displayName, "Bench module");
}

TEST_F(SettingsStoreTest, OnlyAUsableStoredRateIsTaken) {
  Init();
  const auto bits = [](float f) {
    const auto b = std::bit_cast<std::array<uint8_t, 4>>(f);
    return std::vector<uint8_t>(b.begin(), b.end());
  };
  const float nan = std::numeric_limits<float>::quiet_NaN();
  // A longer value is not read; a shorter one fills the low bytes, whatever its type.
  const std::pair<std::vector<uint8_t>, float> cases[] = {
      {bits(0.0f), 10.0f},
      {bits(-5.0f), 10.0f},
      {bits(nan), 10.0f},
      {bits(100.5f), 10.0f},
      {bits(100.0f), 100.0f},
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
}

TEST_F(SettingsStoreTest, SavingWritesChannelsAlwaysAndOnlyAUsableRate) {
  Init();
  sources[5] = {SourceTTL, 3};
  int32_t bits = 0;
  BoundedArray<uint8_t> stored;
  const float nan = std::numeric_limits<float>::quiet_NaN();
  for (const auto& [offered, kept] :
       {std::pair{42.0f, 42.0f}, {0.0f, 42.0f}, {100.01f, 42.0f}, {nan, 42.0f}, {100.0f, 100.0f}}) {
    reg_.DeleteValue(HKCU, kKey, "Channels");
    SaveSettings(settingsKey, offered, 100.0f, 32, sources);
    EXPECT_TRUE(reg_.GetDWORDValue(HKCU, kKey, "Rate", bits));
    EXPECT_EQ(std::bit_cast<float>(bits), kept) << offered;
    ASSERT_TRUE(reg_.GetBinaryValue(HKCU, kKey, "Channels", stored)) << offered;
  }
  ASSERT_EQ(stored.size(), 64u);
  EXPECT_EQ(std::vector<uint8_t>({stored(10), stored(11), stored(32), stored(33)}),
            (std::vector<uint8_t>{SourceTTL, 3, SourceADC, 0}));  // channel 16: (ADC, 0)
}

// Each value read on its own took a dozen transactions per load.
TEST_F(SettingsStoreTest, ALoadOrAnInitOfAnExistingKeyIsOneReadTransaction) {
  Init();
  SaveSettings(settingsKey, 50.0f, 100.0f, 32, sources);
  for (const auto& [what, step] :
       {std::pair<const char*, std::function<void()>>{"load", [this] { Load(); }},
        {"init", [this] { Init(); }}}) {
    const int before = g_transactions;
    step();
    EXPECT_EQ(g_transactions - before, 1) << what;
  }
  EXPECT_EQ(rate, 50.0f);
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
