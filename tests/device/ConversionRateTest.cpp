// Conversion of raw frames into codes, the sampling-rate rule and the block timing derived
// from it: pure arithmetic, no module.
#include <gtest/gtest.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <limits>
#include <sstream>
#include <string>

#include "channels/Catalogue.h"
#include "device/RateRule.h"
#include "device/SampleConversion.h"
#include "recording/CsvRows.h"
#include "recording/Reader.h"

namespace quillbox::test {
namespace {

DeviceFrame FrameWithWord(int mezzanineChannel, uint16_t raw) {
  DeviceFrame f{};
  f.Bytes[4 + 2 * mezzanineChannel] = static_cast<uint8_t>(raw & 0xFF);
  f.Bytes[5 + 2 * mezzanineChannel] = static_cast<uint8_t>(raw >> 8);
  return f;
}

class ConversionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (uint8_t i = 0; i < 16; ++i) sources_[i] = {SourceMezzanine, i};
    for (uint8_t i = 0; i < 8; ++i) sources_[16 + i] = {SourceADC, i};
    for (uint8_t i = 0; i < 8; ++i) sources_[24 + i] = {SourceTTL, i};
    for (auto& slot : modules_) slot.ModuleType = 11;  // U20, offset 0
    ttl_.Scale = 1000.0f;
  }
  // The code through a recording's conversion plan, which must equal the single reads' one.
  int16_t Convert(const DeviceFrame& f, int channel) const {
    const SampleSource src = ResolveSample(channel, sources_, modules_, ttl_);
    int16_t planned = -12345;
    ConversionPlan({src}).Convert(f, &planned);
    EXPECT_EQ(planned, ConvertSample(f, src)) << "channel " << channel;
    return planned;
  }
  ChannelSources sources_{};
  ModuleSlots modules_{};
  SourceInfo ttl_;
};

TEST_F(ConversionTest, MezzanineWordsFoldSignSubtractOffsetAndClampHigh) {
  modules_[1].ModuleType = 10;  // U10: offset 16384
  modules_[1].Offset = 16384;
  EXPECT_EQ(Convert(FrameWithWord(2, 0xFFF0), 2), -16 - 16384);
  EXPECT_EQ(Convert(FrameWithWord(2, 0x7FFF), 2), 16383);
  EXPECT_EQ(Convert(FrameWithWord(3, 0xC000), 3), -16384 - 16384);
  // Zero offset: 0x9000 is 36864, above the Integer range, so it is clamped.
  EXPECT_EQ(Convert(FrameWithWord(0, 0x9000), 0), 32767);
  EXPECT_EQ(Convert(FrameWithWord(0, 0xC000), 0), -16384);
  EXPECT_EQ(Convert(FrameWithWord(0, 0xFFFF), 0), -1);
  // A negative offset pushes up into the clamp; a large one wraps to the low 16 bits.
  modules_[0].Offset = -40000;
  EXPECT_EQ(Convert(FrameWithWord(0, 0), 0), 32767);
  modules_[0].Offset = 40000;
  EXPECT_EQ(Convert(FrameWithWord(0, 0), 0), static_cast<int16_t>(-40000 & 0xFFFF));
}

TEST_F(ConversionTest, ChannelsFollowTheirSources) {
  // Logical channel 5 reads mezzanine channel 9 (slot 4); channel 6 reads direct input 3.
  sources_[5] = {SourceMezzanine, 9};
  sources_[6] = {SourceADC, 3};
  DeviceFrame f = FrameWithWord(9, 777);
  f.Bytes[36 + 3] = 200;
  EXPECT_EQ(Convert(f, 5), 777);
  EXPECT_EQ(Convert(f, 6), 200);
  EXPECT_EQ(Convert(f, 9), 777);  // still its own mezzanine channel
  // An empty slot reads 0 whatever the word.
  modules_[4].ModuleType = 255;
  EXPECT_EQ(Convert(f, 5), 0);
  EXPECT_EQ(Convert(f, 9), 0);
}

TEST_F(ConversionTest, TtlLinesReadTheRoundedScaleOrZero) {
  DeviceFrame f{};
  f.Bytes[45] = 0b1000'0101;
  const int expected[8] = {1000, 0, 1000, 0, 0, 0, 0, 1000};
  for (int b = 0; b < 8; ++b) EXPECT_EQ(Convert(f, 24 + b), expected[b]) << b;
  // The line number is taken modulo 8.
  sources_[24] = {SourceTTL, 10};
  EXPECT_EQ(Convert(f, 24), 1000);
  // Rounding is half to even.
  ttl_.Scale = 2.5f;
  EXPECT_EQ(Convert(f, 31), 2);
  ttl_.Scale = 1e9f;
  EXPECT_EQ(Convert(f, 31), 32767);
}

std::string Digits(float value, int significant) {
  char text[32];
  std::snprintf(text, sizeof text, "%.*g", significant, static_cast<double>(value));
  return text;
}

TEST(RateRule, DividerDecimationAndReportedRate) {
  const struct {
    float rate;
    uint16_t divider;
    int32_t decimation;
    const char* reported;  // to the digits that matter
    int digits;
  } cases[] = {
      {7.0f, 3571, 1, "7.0008", 5}, {3.0f, 4166, 2, "3.00048", 6}, {0.1f, 3906, 64, "0.100006", 6},
      {100.0f, 250, 1, "100", 6},   {5.0f, 5000, 1, "5", 6},       {4.99f, 2505, 2, "4.99002", 6},
  };
  for (const auto& c : cases) {
    const RateSetting r = ComputeRateSetting(c.rate);
    EXPECT_EQ(r.Divider, c.divider) << c.rate;
    EXPECT_EQ(r.Decimation, c.decimation) << c.rate;
    EXPECT_EQ(Digits(r.Rate, c.digits), c.reported) << c.rate;
  }
  EXPECT_EQ(Digits(ComputeRateSetting(3.0f).DeviceRate, 6), "6.00096");
}

// Rates far outside the usable range still give a divider and a decimation in range.
TEST(RateRule, ExtremesStayInRange) {
  const RateSetting fast = ComputeRateSetting(1e9f);
  EXPECT_EQ(fast.Divider, 1);
  EXPECT_EQ(fast.Decimation, 1);
  const RateSetting slow = ComputeRateSetting(1e-30f);
  EXPECT_GE(slow.Divider, 2500);
  EXPECT_LE(slow.Divider, 5000);
  EXPECT_EQ(slow.Decimation, std::numeric_limits<int32_t>::max());
}

TEST(BlockTiming, BlockSizeAndWait) {
  const struct {
    float rate;
    int32_t frames, waitMs, blockMs;
  } cases[] = {{10.0f, 2, 150, 200}, {3.0f, 1, 116, 166}, {100.0f, 20, 150, 200}};
  for (const auto& c : cases) {
    const BlockTiming t = ComputeBlockTiming(ComputeRateSetting(c.rate).Divider);
    EXPECT_EQ(t.BlockFrames, c.frames) << c.rate;
    EXPECT_EQ(t.WaitMs, c.waitMs) << c.rate;
    EXPECT_EQ(t.BlockMs, c.blockMs) << c.rate;
  }
}

// A CSV value is the code divided by the column's scale with seven significant digits, as
// std::to_chars writes it, for every code of every scale a column can have; a raw one the code.
// The reader gives back what std::from_chars reads from that text.
TEST(CsvValues, EveryCodeOfEveryScale) {
  std::vector<float> scales{DirectSourceInfo().Scale, TTLSourceInfo().Scale};
  for (int type = 0; type < 256; ++type)
    scales.push_back(GetModuleScale(static_cast<uint8_t>(type)));
  std::sort(scales.begin(), scales.end());
  scales.erase(std::unique(scales.begin(), scales.end()), scales.end());
  std::vector<recording::RecordColumn> columns;
  std::vector<int16_t> codes;
  columns.reserve(scales.size());
  for (float scale : scales) columns.push_back({0, "c", "V", scale, true});
  for (int code = -32768; code < 32768; ++code)
    codes.insert(codes.end(), scales.size(), static_cast<int16_t>(code));
  for (const bool raw : {false, true}) {
    std::string text;
    const recording::CsvRows rows(columns, 100.0f, raw);
    rows.Append(text, codes, 0);
    // ... and read back (across the reader's chunks) as from_chars reads each value's text.
    const std::string csv = testing::TempDir() + "values.csv";
    std::ofstream(csv, std::ios::trunc) << rows.Header() << text;
    recording::RecordingData data;
    std::string error;
    std::vector<std::string> notes;
    ASSERT_EQ(recording::ReadRecording(csv, "", data, error, notes), recording::ReadResult::Ok);
    ASSERT_EQ(data.time.size(), 65536u);
    std::istringstream lines(text);
    std::string line, expected;
    for (int code = -32768; std::getline(lines, line); ++code) {
      expected.clear();
      for (std::size_t j = 0; j < scales.size(); ++j) {
        char cell[40] = {','};
        char* end = raw ? std::to_chars(cell + 1, cell + 40, code).ptr
                        : std::to_chars(cell + 1, cell + 40, code / double{scales[j]},
                                        std::chars_format::general, 7)
                              .ptr;
        expected.append(cell, end);
        double read = 0;
        std::from_chars(cell + 1, end, read);
        ASSERT_EQ(data.values[j][code + 32768u], static_cast<float>(read));
      }
      const std::size_t values = line.find(',', line.find(',') + 1), row = code + 32768u;
      ASSERT_EQ(line.substr(values), expected) << "code " << code;
      double time = 0;
      std::from_chars(line.data() + line.find(',') + 1, line.data() + values, time);
      ASSERT_EQ(data.time[row], time);
      ASSERT_EQ(data.frame[row], static_cast<int64_t>(row));
    }
  }
  // Values no scale gives: rounded up to a power of ten, the widest fixed ones, scientific ones.
  for (const double v : {999999.96, -99999.996, 0.00099999996, 123456.74, 1.2345675e-4, 1e-5}) {
    std::string text;
    recording::AppendCsvValue(text, v);
    char cell[40];
    EXPECT_EQ(
        text,
        std::string(cell, std::to_chars(cell, cell + 40, v, std::chars_format::general, 7).ptr));
  }
}

}  // namespace
}  // namespace quillbox::test
