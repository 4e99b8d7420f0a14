#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <string>

#include "channels/Catalogue.h"
#include "channels/ChannelList.h"

namespace quillbox {
namespace {

const std::string kPm = "\xC2\xB1";
const std::string kEl = "\xE2\x80\xA6";

struct CatalogueRow {
  int code;
  std::string name, unit, range;
  float scale;
  int32_t offset;
};

TEST(Catalogue, EveryKnownTypeAndTheFallbacks) {
  const CatalogueRow rows[] = {
      {9, "U01", "V", kPm + "1 V", 16384.0f, 16384},
      {10, "U10", "V", kPm + "10 V", 1638.4f, 16384},
      {11, "U20", "V", "0" + kEl + "20 V", 1638.4f, 0},
      {12, "U30", "V", "0" + kEl + "30 V", float(32768.0 / 30.0), 0},
      {13, "U300", "V", "0" + kEl + "300 V", float(32768.0 / 300.0), 0},
      {20, "I5", "mA", "0" + kEl + "5 mA", 6553.6f, 0},
      {21, "I10", "mA", kPm + "10 mA", 1638.4f, 16384},
      {22, "I20", "mA", "0" + kEl + "20 mA", 1638.4f, 0},
      {31, "R100", "Ohm", "0" + kEl + "100 Ohm", 327.68f, 0},
      {32, "R250", "Ohm", "0" + kEl + "250 Ohm", 131.072f, 0},
      {40, "T", "mV", "-25" + kEl + "+75 mV", 327.68f, 8192},
      {255, "Empty", "??", "?? ??", 327.68f, 0},
      {0, "Unknown", "??", "?? ??", 327.68f, 0},
      {14, "Unknown", "??", "?? ??", 327.68f, 0},
      {41, "Unknown", "??", "?? ??", 327.68f, 0},
      {254, "Unknown", "??", "?? ??", 327.68f, 0},
  };
  for (const CatalogueRow& r : rows) {
    const auto code = static_cast<uint8_t>(r.code);
    EXPECT_EQ(GetModuleName(code), r.name) << r.code;
    EXPECT_EQ(GetModuleUnit(code), r.unit) << r.code;
    EXPECT_EQ(GetModuleRange(code), r.range) << r.code;
    // Exactly the single-precision value of the double quotient.
    EXPECT_EQ(GetModuleScale(code), r.scale) << r.code;
    EXPECT_EQ(GetModuleOffset(code), r.offset) << r.code;
  }
  // Only the listed codes have names; everything else is unknown.
  int named = 0;
  for (int code = 0; code < 256; ++code) {
    if (GetModuleName(static_cast<uint8_t>(code)) != "Unknown") ++named;
  }
  EXPECT_EQ(named, 12);
}

TEST(Catalogue, FixedSources) {
  const SourceInfo direct = DirectSourceInfo();
  EXPECT_EQ(direct.RangeText, "0" + kEl + "4.096 V");
  EXPECT_EQ(direct.UnitName, "V");
  EXPECT_EQ(direct.Scale, 62.499996185302734f);
  EXPECT_NE(direct.Scale, 62.5f);
  const SourceInfo ttl = TTLSourceInfo();
  EXPECT_EQ(ttl.RangeText, "0/1 TTL");
  EXPECT_EQ(ttl.UnitName, "TTL");
  EXPECT_EQ(ttl.Scale, 1000.0f);
}

// Restores the numeric locale when a test changed it.
class NumericLocale {
 public:
  NumericLocale() : saved_(std::setlocale(LC_NUMERIC, nullptr)) {}
  ~NumericLocale() { std::setlocale(LC_NUMERIC, saved_.c_str()); }
  NumericLocale(const NumericLocale&) = delete;
  NumericLocale& operator=(const NumericLocale&) = delete;

 private:
  std::string saved_;
};

// Finds a locale whose decimal separator is a comma: an installed one, or else one compiled
// with localedef into a temporary folder (LOCPATH). Returns "" when neither is possible.
std::string SelectCommaLocale() {
  const char* candidates[] = {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "ru_RU.UTF-8", "de_DE"};
  for (const char* name : candidates) {
    if (std::setlocale(LC_NUMERIC, name) != nullptr && LocaleDecimalSeparator() == ",") return name;
  }
  const std::string dir = ::testing::TempDir() + "quillbox-locale";
  const std::string command = "mkdir -p '" + dir + "' && localedef -i de_DE -f UTF-8 '" + dir +
                              "/de_DE.UTF-8' >/dev/null 2>&1";
  if (std::system(command.c_str()) != 0) return {};
  setenv("LOCPATH", dir.c_str(), 1);
  const bool ok =
      std::setlocale(LC_NUMERIC, "de_DE.UTF-8") != nullptr && LocaleDecimalSeparator() == ",";
  unsetenv("LOCPATH");
  return ok ? "de_DE.UTF-8" : "";
}

TEST(Catalogue, DirectRangeFollowsTheLocaleDecimalSeparator) {
  NumericLocale restore;
  const std::string comma = SelectCommaLocale();
  if (comma.empty()) GTEST_SKIP() << "no locale with a decimal comma is available";
  EXPECT_EQ(DirectSourceInfo().RangeText, "0" + kEl + "4,096 V") << comma;
  // The scale does not depend on the locale.
  EXPECT_EQ(DirectSourceInfo().Scale, 62.499996185302734f);
  std::setlocale(LC_NUMERIC, "C");
  EXPECT_EQ(DirectSourceInfo().RangeText, "0" + kEl + "4.096 V");
}

ModuleSlots SlotsOf(std::initializer_list<uint8_t> types) {
  ModuleSlots slots;
  std::size_t i = 0;
  for (uint8_t t : types) {
    ModuleSlot& s = slots[i++];
    s.ModuleType = t;
    s.ModuleName = GetModuleName(t);
    s.RangeText = GetModuleRange(t);
    s.UnitName = GetModuleUnit(t);
    s.Scale = GetModuleScale(t);
    s.Offset = GetModuleOffset(t);
  }
  return slots;
}

TEST(SourceName, NamesAndIndexNormalisation) {
  const ModuleSlots slots = SlotsOf({10, 10, 21, 255, 40, 11, 12, 14});
  struct Case {
    ChannelSource in;
    std::string name;
    uint8_t index;
  } cases[] = {
      {{SourceMezzanine, 0}, "M1-Ch1_U10", 0},
      {{SourceMezzanine, 1}, "M1-Ch2_U10", 1},
      {{SourceMezzanine, 6}, "M4-Ch7_Empty", 6},
      {{SourceMezzanine, 7}, "M4-Ch8_Empty", 7},
      {{SourceMezzanine, 15}, "M8-Ch16_Unknown", 15},
      {{SourceMezzanine, 17}, "M1-Ch2_U10", 1},
      {{SourceMezzanine, 255}, "M8-Ch16_Unknown", 15},
      {{SourceADC, 0}, "AD-Ch1", 0},
      {{SourceADC, 9}, "AD-Ch2", 1},
      {{SourceADC, 255}, "AD-Ch8", 7},
      {{SourceTTL, 7}, "TTL-In8", 7},
      {{SourceTTL, 8}, "TTL-In1", 0},
      // Any other source kind counts as a mezzanine channel.
      {{7, 20}, "M3-Ch5_I10", 4},
  };
  for (const Case& c : cases) {
    ChannelSource s = c.in;
    EXPECT_EQ(GetSourceName(s, slots), c.name) << int(c.in.Source) << "/" << int(c.in.Index);
    EXPECT_EQ(s.Index, c.index);
    EXPECT_EQ(s.Source, c.in.Source);
  }
}

TEST(ChannelList, EightEqualMezzaninesGiveThreeRanges) {
  const ModuleSlots slots = SlotsOf({10, 10, 10, 10, 10, 10, 10, 10});
  ChannelSources sources = DefaultChannelSources();
  ChannelTables t;
  BuildChannelList(sources, slots, DirectSourceInfo(), TTLSourceInfo(), t);
  ASSERT_EQ(t.Ranges, (std::vector<std::string>{kPm + "10 V", "0" + kEl + "4.096 V", "0/1 TTL"}));
  EXPECT_EQ(t.UnitNames, (std::vector<std::string>{"V", "V", "TTL"}));
  EXPECT_EQ(t.UnitScales, (std::vector<float>{1638.4f, 62.499996185302734f, 1000.0f}));
  EXPECT_EQ(t.UnitOffsets, (std::vector<float>{0.0f, 0.0f, 0.0f}));
  for (int ch = 0; ch < 32; ++ch) EXPECT_EQ(t.ChannelRanges[ch], ch < 16 ? 0 : ch < 24 ? 1 : 2);
  // The default sources: the mezzanine channels, the direct inputs, the TTL lines, in order.
  for (int ch = 0; ch < 32; ++ch) {
    const std::string expected =
        ch < 16   ? "M" + std::to_string(ch / 2 + 1) + "-Ch" + std::to_string(ch + 1) + "_U10"
        : ch < 24 ? "AD-Ch" + std::to_string(ch - 15)
                  : "TTL-In" + std::to_string(ch - 23);
    EXPECT_EQ(t.ChannelNames[ch], expected) << ch;
  }
}

TEST(ChannelList, RangesInOrderOfFirstUseSharedByTextOnly) {
  // U20 and U10 share a scale but not a text; U10 and I10 share neither; R100 and T share the
  // scale 327.68 but not the text. The empty slot and the unknown type share "?? ??".
  const ModuleSlots slots = SlotsOf({11, 10, 21, 255, 31, 40, 14, 10});
  ChannelSources sources = DefaultChannelSources();
  // Channel 0 reads the TTL inputs, so "0/1 TTL" becomes row 0.
  sources[0] = {SourceTTL, 3};
  ChannelTables t;
  BuildChannelList(sources, slots, DirectSourceInfo(), TTLSourceInfo(), t);
  const std::vector<std::string> expected = {
      "0/1 TTL", "0" + kEl + "20 V",    kPm + "10 V",           kPm + "10 mA",
      "?? ??",   "0" + kEl + "100 Ohm", "-25" + kEl + "+75 mV", "0" + kEl + "4.096 V"};
  ASSERT_EQ(t.Ranges, expected);
  EXPECT_EQ(t.UnitNames, (std::vector<std::string>{"TTL", "V", "V", "mA", "??", "Ohm", "mV", "V"}));
  EXPECT_EQ(t.ChannelRanges[0], 0);
  EXPECT_EQ(t.ChannelNames[0], "TTL-In4");
  EXPECT_EQ(t.ChannelRanges[1], 1);   // M1, U20
  EXPECT_EQ(t.ChannelRanges[2], 2);   // M2, U10
  EXPECT_EQ(t.ChannelRanges[6], 4);   // M4, empty
  EXPECT_EQ(t.ChannelRanges[12], 4);  // M7, unknown type 14: same text as the empty slot
  EXPECT_EQ(t.ChannelRanges[14], 2);  // M8, U10 again
  EXPECT_EQ(t.ChannelNames[7], "M4-Ch8_Empty");
  EXPECT_EQ(t.ChannelNames[13], "M7-Ch14_Unknown");
  EXPECT_EQ(t.ChannelRanges[16], 7);
  EXPECT_EQ(t.ChannelRanges[31], 0);
}

TEST(ChannelList, FirstChannelOfATextDecidesUnitAndScale) {
  ModuleSlots slots = SlotsOf({10, 10, 10, 10, 10, 10, 10, 10});
  // A slot whose text equals another's but whose unit and scale differ reuses the first row.
  slots[3].UnitName = "mA";
  slots[3].Scale = 1.0f;
  SourceInfo direct = DirectSourceInfo();
  direct.RangeText = slots[0].RangeText;
  direct.Scale = 5.0f;
  ChannelSources sources = DefaultChannelSources();
  ChannelTables t;
  BuildChannelList(sources, slots, direct, TTLSourceInfo(), t);
  ASSERT_EQ(t.Ranges.size(), 2u);
  EXPECT_EQ(t.UnitNames[0], "V");
  EXPECT_EQ(t.UnitScales[0], 1638.4f);
  EXPECT_EQ(t.ChannelRanges[6], 0);
  EXPECT_EQ(t.ChannelRanges[16], 0);
  // The comparison is case-sensitive.
  direct.RangeText = "0/1 ttl";
  BuildChannelList(sources, slots, direct, TTLSourceInfo(), t);
  EXPECT_EQ(t.Ranges.size(), 3u);
}

TEST(ChannelList, RebuildReplacesTablesAndNormalisesStoredSources) {
  ModuleSlots slots = SlotsOf({10, 20, 255, 255, 255, 255, 255, 255});
  ChannelSources sources = DefaultChannelSources();
  sources[5] = {SourceMezzanine, 18};  // mezzanine channel 2, on M2
  sources[20] = {SourceADC, 12};
  ChannelTables t;
  t.Ranges = {"stale", "rows", "from", "before", "x", "y", "z", "w", "v"};
  t.UnitNames = t.Ranges;
  t.UnitScales.assign(9, 9.0f);
  t.UnitOffsets.assign(9, 9.0f);
  BuildChannelList(sources, slots, DirectSourceInfo(), TTLSourceInfo(), t);
  EXPECT_EQ(t.Ranges.size(), 5u);
  EXPECT_EQ(t.UnitNames.size(), 5u);
  EXPECT_EQ(t.UnitScales.size(), 5u);
  EXPECT_EQ(t.UnitOffsets, std::vector<float>(5, 0.0f));
  EXPECT_EQ(sources[5], (ChannelSource{SourceMezzanine, 2}));
  EXPECT_EQ(t.ChannelNames[5], "M2-Ch3_I5");
  EXPECT_EQ(t.Ranges[static_cast<std::size_t>(t.ChannelRanges[5])], "0" + kEl + "5 mA");
  EXPECT_EQ(sources[20], (ChannelSource{SourceADC, 4}));
  EXPECT_EQ(t.ChannelNames[20], "AD-Ch5");
  for (int ch = 0; ch < 32; ++ch) {
    EXPECT_GE(t.ChannelRanges[ch], 0);
    EXPECT_LT(static_cast<std::size_t>(t.ChannelRanges[ch]), t.Ranges.size());
  }
}

}  // namespace
}  // namespace quillbox
