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

// Scales are a double quotient rounded once to float; bipolar ranges have their zero offset;
// empty slots and codes outside the catalogue fall back to a neutral scale. (Names and range
// texts are checked through the channel list below.)
TEST(Catalogue, ComputedScalesOffsetsAndFallbacks) {
  const struct {
    uint8_t code;
    float scale;
    int32_t offset;
  } rows[] = {{12, float(32768.0 / 30.0), 0},
              {13, float(32768.0 / 300.0), 0},
              {21, 1638.4f, 16384},
              {40, 327.68f, 8192},
              {255, 327.68f, 0},
              {14, 327.68f, 0}};
  for (const auto& r : rows) {
    EXPECT_EQ(GetModuleScale(r.code), r.scale) << int(r.code);
    EXPECT_EQ(GetModuleOffset(r.code), r.offset) << int(r.code);
  }
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
  // 256 / 4.096 with 4.096 taken in single precision, whatever the locale.
  EXPECT_EQ(DirectSourceInfo().Scale, 62.499996185302734f);
  EXPECT_EQ(DirectSourceInfo().RangeText, "0" + kEl + "4.096 V");
  const std::string comma = SelectCommaLocale();
  if (comma.empty()) GTEST_SKIP() << "no locale with a decimal comma is available";
  EXPECT_EQ(DirectSourceInfo().RangeText, "0" + kEl + "4,096 V") << comma;
  EXPECT_EQ(DirectSourceInfo().Scale, 62.499996185302734f);
}

ModuleSlots SlotsOf(std::initializer_list<uint8_t> types) {
  ModuleSlots slots;
  std::size_t i = 0;
  for (uint8_t t : types) {
    ModuleSlot& s = slots[i++];
    s.ModuleType = t;
    DescribeSlot(s);
  }
  return slots;
}

TEST(SourceName, NamesAndIndexNormalisation) {
  const ModuleSlots slots = SlotsOf({10, 10, 21, 255, 40, 11, 12, 14});
  const struct {
    ChannelSource in;
    std::string name;
    uint8_t index;
  } cases[] = {
      {{SourceMezzanine, 17}, "M1-Ch2_U10", 1},
      {{SourceADC, 255}, "AD-Ch8", 7},
      {{SourceTTL, 8}, "TTL-In1", 0},
      // Any other source kind counts as a mezzanine channel.
      {{7, 20}, "M3-Ch5_I10", 4},
  };
  for (const auto& c : cases) {
    ChannelSource s = c.in;
    EXPECT_EQ(GetSourceName(s, slots), c.name) << int(c.in.Source) << "/" << int(c.in.Index);
    EXPECT_EQ(s, (ChannelSource{c.in.Source, c.index}));
  }
}

TEST(ChannelList, RowsInOrderOfFirstUseSharedByTextAndRebuiltFromScratch) {
  // U20 and U10 share a scale but not a text; R100 and T share a scale but not a text; the
  // empty slot and the unknown type share "?? ??".
  ModuleSlots slots = SlotsOf({11, 10, 21, 255, 31, 40, 14, 10});
  // A slot with the same text but another unit and scale reuses the first channel's row.
  slots[7].UnitName = "mA";
  slots[7].Scale = 1.0f;
  ChannelSources sources = DefaultChannelSources();
  sources[0] = {SourceTTL, 3};
  sources[20] = {SourceADC, 12};
  ChannelTables t;
  t.Ranges.assign(9, "stale");
  t.UnitNames = t.Ranges;
  t.UnitScales.assign(9, 9.0f);
  t.UnitOffsets.assign(9, 9.0f);
  BuildChannelList(sources, slots, DirectSourceInfo(), TTLSourceInfo(), t);
  const std::vector<std::string> expected = {
      "0/1 TTL", "0" + kEl + "20 V",    kPm + "10 V",           kPm + "10 mA",
      "?? ??",   "0" + kEl + "100 Ohm", "-25" + kEl + "+75 mV", "0" + kEl + "4.096 V"};
  ASSERT_EQ(t.Ranges, expected);
  EXPECT_EQ(t.UnitNames, (std::vector<std::string>{"TTL", "V", "V", "mA", "??", "Ohm", "mV", "V"}));
  EXPECT_EQ(t.UnitOffsets, std::vector<float>(8, 0.0f));
  const std::pair<int, int> rows[] = {{0, 0}, {1, 1}, {2, 2}, {6, 4}, {12, 4}, {14, 2}, {16, 7}};
  for (auto [ch, row] : rows) EXPECT_EQ(t.ChannelRanges[ch], row) << ch;
  EXPECT_EQ(t.UnitScales[2], 1638.4f);
  EXPECT_EQ(t.ChannelNames[0], "TTL-In4");
  EXPECT_EQ(t.ChannelNames[13], "M7-Ch14_Unknown");
  // Stored sources are normalised in place.
  EXPECT_EQ(sources[20], (ChannelSource{SourceADC, 4}));
  EXPECT_EQ(t.ChannelNames[20], "AD-Ch5");
  // Texts are compared case-sensitively.
  SourceInfo direct = DirectSourceInfo();
  direct.RangeText = "0/1 ttl";
  BuildChannelList(sources, slots, direct, TTLSourceInfo(), t);
  EXPECT_EQ(t.Ranges.size(), 8u);
}

}  // namespace
}  // namespace quillbox
